#!/usr/bin/python3
"""A real SMTP server for the relay tests (Debian's aiosmtpd).

Listens on 127.0.0.1, prints its port on the first line of standard output,
and stores every mail it accepts in --dir as NNNN.env (sender, then one
recipient per line) and NNNN.eml (the message bytes as received, after the
SMTP transparency dots are removed). It stops when standard input closes or
on SIGTERM.

  --pipelining   also advertise PIPELINING (clients then pipeline)
  --auth         offer AUTH PLAIN and LOGIN without TLS (user "user",
                 password "secret")
  --extensions   also advertise CHUNKING, BINARYMIME, BURL and STARTTLS,
                 which the proxy must hide from its clients
  --cert C --key K  the server certificate (PEM) and its key, for:
  --starttls     offer STARTTLS, and take no command but EHLO, NOOP and
                 QUIT before it (530 otherwise); AUTH only over TLS
  --tls          implicit TLS: the handshake before the greeting

A mail with a header line "X-Sink-Refuse:" is refused at the end of its
data with "554 5.7.1 Refused by the sink's content check", as a server's
content filter refuses one.

Every EHLO, HELO, NOOP and MAIL is written to commands.log in --dir as
"<VERB> tls=<0|1> <argument>", so a test can see what crossed in clear.
After TLS the EHLO reply also names the extension XAFTERTLS.
"""
import argparse
import os
import signal
import socket
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def encrypted(server):
    transport = server.transport
    return transport is not None and transport.get_extra_info("ssl_object") is not None


class Recorder:
    def __init__(self, folder, pipelining, extensions):
        self.folder = folder
        self.count = 0
        self.pipelining = pipelining
        self.extensions = extensions
        self.lock = threading.Lock()

    def journal(self, server, verb, argument):
        with self.lock:
            with open(os.path.join(self.folder, "commands.log"), "a") as log:
                log.write("%s tls=%d %s\n" % (verb, 1 if encrypted(server) else 0, argument or ""))

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.journal(server, "EHLO", hostname)
        session.host_name = hostname
        extra = ["250-XAFTERTLS"] if encrypted(server) else []
        if self.pipelining:
            extra.append("250-PIPELINING")
        if self.extensions:
            extra += ["250-CHUNKING", "250-BINARYMIME", "250-BURL imap", "250-STARTTLS"]
        return responses[:-1] + extra + responses[-1:]

    async def handle_HELO(self, server, session, envelope, hostname):
        self.journal(server, "HELO", hostname)
        session.host_name = hostname
        return "250 %s" % server.hostname

    async def handle_NOOP(self, server, session, envelope, argument):
        self.journal(server, "NOOP", argument)
        return "250 OK"

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.journal(server, "MAIL", address)
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if b"\nX-Sink-Refuse:" in b"\n" + envelope.original_content:
            return "554 5.7.1 Refused by the sink's content check"
        with self.lock:
            self.count += 1
            base = os.path.join(self.folder, "%04d" % self.count)
        with open(base + ".env.tmp", "w") as env:
            env.write(envelope.mail_from + "\n")
            for rcpt in envelope.rcpt_tos:
                env.write(rcpt + "\n")
        with open(base + ".eml", "wb") as eml:
            eml.write(envelope.original_content)
        os.rename(base + ".env.tmp", base + ".env")
        return "250 2.0.0 Ok: queued"


def authenticate(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword) and auth_data.login == b"user" and auth_data.password == b"secret":
        return AuthResult(success=True)
    return AuthResult(success=False, handled=False)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--pipelining", action="store_true")
    parser.add_argument("--auth", action="store_true")
    parser.add_argument("--extensions", action="store_true")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--tls", action="store_true")
    args = parser.parse_args()

    options = {}
    if args.auth:
        options = {"authenticator": authenticate, "auth_require_tls": args.starttls}
    if args.starttls or args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        if args.starttls:
            options.update({"tls_context": context, "require_starttls": True})
        else:
            options["ssl_context"] = context
    handler = Recorder(args.dir, args.pipelining, args.extensions)
    controller = Controller(handler, hostname="127.0.0.1", port=free_port(), **options)
    controller.start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    print(controller.port, flush=True)
    threading.Thread(target=lambda: (sys.stdin.read(), stop.set()), daemon=True).start()
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
