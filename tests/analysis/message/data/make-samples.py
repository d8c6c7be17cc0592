#!/usr/bin/python3
"""Writes the sample mails of the message tests, each made by a real mail
writer: Python's email package, curl's SMTP MIME (-F), swaks --attach and
openssl smime -sign. curl and swaks deliver to a listener on 127.0.0.1
that this script starts and stops; nothing leaves the machine.

The attached files are real protected and plain files: zip -P (ZipCrypto),
qpdf --encrypt (AES-256), and their plain counterparts; they are kept
beside the mails for the tests that build mails of their own.

    tests/analysis/message/data/make-samples.py [SAMPLE...]   (run from anywhere)

With sample names (python, name-only, curl, swaks, signed) only those
mails are written, made with the attached files already kept here.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
from email.message import EmailMessage
from email.policy import SMTP

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = tempfile.mkdtemp(prefix="pelorus-samples-")


def run(*args, **kw):
    subprocess.run(args, check=True, cwd=WORK, stdout=subprocess.DEVNULL, **kw)


def make_files():
    with open(os.path.join(WORK, "notes.txt"), "w") as f:
        f.write("Quarterly figures, do not forward.\n" * 40)
    run("zip", "-q", "-P", "secret", "secret.zip", "notes.txt")
    run("zip", "-q", "plain.zip", "notes.txt")
    make_pdf()
    run("qpdf", "--encrypt", "user", "owner", "256", "--", "plain.pdf", "secret.pdf")


def make_pdf():
    run("qpdf", "--empty", "plain.pdf")


def data(name):
    with open(os.path.join(WORK, name), "rb") as f:
        return f.read()


def save(name, raw):
    # Spool files keep CR LF line ends.
    raw = raw.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(raw)


def python_mail(subject):
    msg = EmailMessage()
    msg["From"] = "Alice Sender <alice@example.org>"
    msg["To"] = "Bob <bob@example.net>"
    msg["Subject"] = subject
    return msg


def python_samples():
    msg = python_mail("Python ASCII names")
    msg.set_content("See the attached files.\n")
    msg.add_attachment(data("secret.zip"), maintype="application", subtype="zip", filename="secret.zip")
    msg.add_attachment(data("plain.pdf"), maintype="application", subtype="pdf", filename="plain.pdf")
    save("python-ascii.eml", msg.as_bytes(policy=SMTP))

    msg = python_mail("Python non-ASCII names: 見積書")
    msg.set_content("添付をご確認ください。\n")
    msg.add_attachment(data("secret.pdf"), maintype="application", subtype="pdf",
                       filename="見積書_2024年度_第3四半期_営業部_最終版_社外秘_取扱注意.pdf")
    msg.add_attachment(data("plain.zip"), maintype="application", subtype="zip", filename="Überblick.zip")
    save("python-nonascii.eml", msg.as_bytes(policy=SMTP))

    # Text and HTML alternatives before the attachment; then a text part
    # after it (a second body part a user may add below an attachment).
    msg = python_mail("Alternative then attachment")
    msg.set_content("Plain text body.\n")
    msg.add_alternative("<p>HTML body.</p>\n", subtype="html")
    msg.add_attachment(data("secret.zip"), maintype="application", subtype="zip", filename="inner.zip")
    msg.add_attachment("A closing remark, after the attachment.\n")
    save("python-alternative.eml", msg.as_bytes(policy=SMTP))


def name_only_sample():
    # Parts named only in their Content-Type, as older and bulk mailers
    # write them: no Content-Disposition anywhere in the mail. One name is
    # plain, one in the RFC 2231 form; the body text has no name.
    from email.mime.application import MIMEApplication
    from email.mime.multipart import MIMEMultipart
    from email.mime.text import MIMEText
    msg = MIMEMultipart()
    msg["From"] = "Alice Sender <alice@example.org>"
    msg["To"] = "Bob <bob@example.net>"
    msg["Subject"] = "Names only in the Content-Type"
    msg.attach(MIMEText("The files are attached.\n"))
    msg.attach(MIMEApplication(data("secret.zip"), "zip", name="secret.zip"))
    pdf = MIMEApplication(data("plain.pdf"), "pdf")
    pdf.set_param("name", ("utf-8", "", "見積書.pdf"))
    msg.attach(pdf)
    save("python-name-only.eml", msg.as_bytes(policy=SMTP))


class Sink:
    """A one-mail SMTP listener on 127.0.0.1 that keeps what it is sent."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.mail = b""
        self.thread = threading.Thread(target=self.serve)
        self.thread.start()

    def serve(self):
        conn, _ = self.server.accept()
        f = conn.makefile("rb")
        conn.sendall(b"220 sink ESMTP\r\n")
        while True:
            line = f.readline()
            if not line:
                break
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                conn.sendall(b"250-sink\r\n250 8BITMIME\r\n")
            elif verb == b"DATA":
                conn.sendall(b"354 go on\r\n")
                lines = []
                while True:
                    l = f.readline()
                    if l in (b".\r\n", b".\n", b""):
                        break
                    lines.append(l[1:] if l.startswith(b"..") else l)
                self.mail = b"".join(lines)
                conn.sendall(b"250 kept\r\n")
            elif verb == b"QUIT":
                conn.sendall(b"221 bye\r\n")
                break
            else:
                conn.sendall(b"250 ok\r\n")
        conn.close()
        self.server.close()

    def result(self):
        self.thread.join(30)
        return self.mail


def curl_sample():
    sink = Sink()
    run("curl", "-s", "--url", "smtp://127.0.0.1:%d" % sink.port, "--mail-from", "alice@example.org",
        "--mail-rcpt", "bob@example.net", "-H", "Subject: curl form", "-H", "To: bob@example.net",
        "-F", "=Text part from curl;type=text/plain",
        "-F", "=@secret.zip;type=application/zip;encoder=base64",
        "-F", "=@plain.pdf;type=application/pdf;encoder=base64")
    save("curl-form.eml", sink.result())


def swaks_sample():
    sink = Sink()
    run("swaks", "--server", "127.0.0.1", "--port", str(sink.port), "--from", "alice@example.org",
        "--to", "bob@example.net", "--header", "Subject: swaks attach", "--body", "Body from swaks",
        "--attach-type", "application/pdf", "--attach", "secret.pdf",
        "--attach-type", "application/zip", "--attach", "secret.zip")
    save("swaks-attach.eml", sink.result())


def signed_sample():
    # A clear-signed (multipart/signed) mail whose signed content holds an
    # attachment, signed by openssl with a throwaway key.
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=alice@example.org",
        "-keyout", "key.pem", "-out", "cert.pem", "-days", "1", stderr=subprocess.DEVNULL)
    inner = EmailMessage()
    inner.set_content("Signed text.\n")
    inner.add_attachment(data("secret.zip"), maintype="application", subtype="zip", filename="signed.zip")
    del inner["MIME-Version"]
    with open(os.path.join(WORK, "inner.eml"), "wb") as f:
        f.write(inner.as_bytes(policy=SMTP))
    run("openssl", "smime", "-sign", "-in", "inner.eml", "-signer", "cert.pem", "-inkey", "key.pem",
        "-from", "alice@example.org", "-to", "bob@example.net", "-subject", "Clear-signed",
        "-out", "signed.eml")
    save("openssl-signed.eml", data("signed.eml"))


SAMPLES = {"python": python_samples, "name-only": name_only_sample, "curl": curl_sample,
           "swaks": swaks_sample, "signed": signed_sample}
make_files()
if len(sys.argv) > 1:
    # Only the samples named, against the attached files already kept here.
    for name in ("secret.zip", "plain.zip", "secret.pdf", "plain.pdf"):
        with open(os.path.join(HERE, name), "rb") as f, open(os.path.join(WORK, name), "wb") as g:
            g.write(f.read())
else:
    for name in ("secret.zip", "plain.zip", "secret.pdf", "plain.pdf"):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data(name))
for name in sys.argv[1:] or SAMPLES:
    SAMPLES[name]()
shutil.rmtree(WORK)
print("samples written to", HERE)
