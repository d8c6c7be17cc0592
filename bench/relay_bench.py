#!/usr/bin/python3
"""The relay's speed and memory, through the proxy and directly.

  relay_bench.py PELORUS_EXECUTABLE [--tls-only | --link-only]

Starts postfix's smtp-sink on 127.0.0.1, the given pelorus (headless, its
own folders, the benchmark recipient fully trusted so no confirmation is
asked), and drives both with smtp-source. Every figure is measured in this
one run; the sink's own message count is checked after each case. Nothing
leaves 127.0.0.1.

The STARTTLS case sends the 25 MB mails to bench/tls_sink.py (certificate
from a test CA made here with the openssl command) through a pelorus set to
"--security starttls", and directly with STARTTLS from the same client
(--tls-only runs this case alone, without postfix's tools).

The slow-link case puts bench/delay_link.py, which holds every chunk 25 ms
each way, in front of smtp-sink, and sends one pipelined mail to 20 fully
trusted recipients through it, directly and through a pelorus whose server
is the link; it reports the extra round trips (--link-only runs it alone).
"""
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time

SINK = "/usr/sbin/smtp-sink"
SOURCE = "/usr/sbin/smtp-source"
RECIPIENT = "bench@example.com"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sink:
    """smtp-sink with its running counters ("sess=.. quit=.. mesg=..")."""

    def __init__(self):
        self.port = free_port()
        self.out = tempfile.TemporaryFile()
        user = ["-u", "nobody"] if os.geteuid() == 0 else []
        self.proc = subprocess.Popen([SINK, "-c", *user, "-m", "512", "127.0.0.1:%d" % self.port, "512"],
                                     stdout=self.out, stderr=subprocess.STDOUT)
        wait_listening(self.port)

    def messages(self):
        self.out.seek(0)
        counts = re.findall(rb"mesg=(\d+)", self.out.read())
        return int(counts[-1]) if counts else 0

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def wait_listening(port, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise SystemExit("nothing listens on port %d" % port)


class Proxy:
    def __init__(self, executable, sink_port, extra=(), trusted=(RECIPIENT,)):
        self.home = tempfile.mkdtemp(prefix="pelorus-bench-")
        self.port = free_port()
        self.env = {"HOME": self.home, "PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}
        for name in ("config", "state", "cache", "run", "tmp"):
            os.makedirs(os.path.join(self.home, name))
        self.env.update({"XDG_CONFIG_HOME": self.home + "/config", "XDG_STATE_HOME": self.home + "/state",
                         "XDG_CACHE_HOME": self.home + "/cache", "XDG_RUNTIME_DIR": self.home + "/run",
                         "TEMP": self.home + "/tmp"})
        os.makedirs(os.path.join(self.home, "config/Pelorus"))
        with open(os.path.join(self.home, "config/Pelorus/TrustedRecipient.plx"), "w") as f:
            f.write("".join(address + "\n" for address in trusted))
        self.proc = subprocess.Popen([executable, "--headless", "--server", "127.0.0.1", "--port", str(sink_port),
                                      "--proxy-port", str(self.port), *extra],
                                     env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        wait_listening(self.port)

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_memory_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=30)
        shutil.rmtree(self.home, ignore_errors=True)


def source(port, *options):
    started = time.monotonic()
    subprocess.run([SOURCE, "-f", "alice@example.com", "-t", RECIPIENT, *options, "127.0.0.1:%d" % port],
                   check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - started


def counted(sink, expected, run):
    before = sink.messages()
    seconds = run()
    time.sleep(0.2)
    got = sink.messages() - before
    if got != expected:
        raise SystemExit("the sink counted %d messages, expected %d" % (got, expected))
    return seconds


def expect(s, code):
    reply = b""
    while True:
        reply += s.recv(65536)
        lines = reply.split(b"\r\n")
        # A whole reply: its last complete line has a space after the code.
        if len(lines) > 1 and len(lines[-2]) >= 4 and lines[-2][3:4] == b" ":
            break
    if not reply.startswith(code):
        raise SystemExit("unexpected reply %r" % reply[:200])


def phases(port, size):
    """One mail of the given size, on a connection of its own: seconds from
    connecting until DATA's 354 (greeting and envelope, each relayed to the
    server), from there until the last byte is handed over (the proxy
    receiving it into its spool), and from there until the 250 (the proxy
    judging the mail and sending it on)."""
    line = b"x" * 998 + b"\r\n"
    body = b"Subject: phases\r\n\r\n" + line * (size // len(line)) + b".\r\n"
    connecting = time.monotonic()
    with socket.create_connection(("127.0.0.1", port)) as s:
        expect(s, b"220")
        for command, code in ((b"EHLO bench", b"250"), (b"MAIL FROM:<alice@example.com>", b"250"),
                              (b"RCPT TO:<" + RECIPIENT.encode() + b">", b"250"), (b"DATA", b"354")):
            s.sendall(command + b"\r\n")
            expect(s, code)
        started = time.monotonic()
        s.sendall(body)
        handed = time.monotonic()
        expect(s, b"250")
        done = time.monotonic()
        s.sendall(b"QUIT\r\n")
    return started - connecting, handed - started, done - handed


def mean_phases(port, size, count):
    runs = [phases(port, size) for _ in range(count)]
    return tuple(sum(run[i] for run in runs) / count for i in range(3))


def open_sessions(port, count, with_data):
    sockets = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port))
        s.recv(1024)
        if with_data:
            s.sendall(b"MAIL FROM:<a@example.com>\r\n")
            s.recv(1024)
            s.sendall(b"RCPT TO:<" + RECIPIENT.encode() + b">\r\n")
            s.recv(1024)
            s.sendall(b"DATA\r\n")
            s.recv(1024)
            s.sendall(b"Subject: held\r\n\r\n" + b"x" * 8192 + b"\r\n")
        sockets.append(s)
    return sockets


TLS_MAILS = 10
TLS_SIZE = 25 * 1024 * 1024
HERE = os.path.dirname(os.path.abspath(__file__))


def make_certificates(folder):
    """A test CA and a certificate it signed for 127.0.0.1."""
    def run(*argv):
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ca, key, csr, cert = (os.path.join(folder, n) for n in ("ca", "server.key", "server.csr", "server.pem"))
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("openssl", "req", "-x509", *curve, "-keyout", ca + ".key", "-out", ca + ".pem", "-days", "2",
        "-subj", "/CN=Pelorus Bench CA", "-addext", "basicConstraints=critical,CA:TRUE")
    run("openssl", "req", *curve, "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
    with open(os.path.join(folder, "ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial",
        "-out", cert, "-days", "2", "-extfile", os.path.join(folder, "ext"))
    return ca + ".pem", cert, key


class TlsSink:
    def __init__(self, cert, key):
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "tls_sink.py"), cert, key],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.port = int(self.proc.stdout.readline())
        self.count = 0

    def messages(self):
        # The sink prints "mesg=N" after each message; read what is there.
        os.set_blocking(self.proc.stdout.fileno(), False)
        data = self.proc.stdout.read() or b""
        counts = re.findall(rb"mesg=(\d+)", data)
        if counts:
            self.count = int(counts[-1])
        return self.count

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def smtp_client(port, mails, starttls_ca=None, waits=None):
    """One session of `mails` 25 MB mails; STARTTLS first when given a CA.
    The time from the end of each mail's data to its 250 goes to waits."""
    waits = [] if waits is None else waits
    line = b"x" * 78 + b"\r\n"
    body = b"Subject: tls bench\r\n\r\n" + line * (TLS_SIZE // len(line)) + b".\r\n"
    sock = socket.create_connection(("127.0.0.1", port))
    reader = sock.makefile("rb")

    def reply():
        while True:
            text = reader.readline()
            if not text or text[3:4] != b"-":
                if not text[:1] in (b"2", b"3"):
                    raise SystemExit("unexpected reply %r" % text)
                return text

    reply()
    sock.sendall(b"EHLO bench.example\r\n")
    reply()
    if starttls_ca:
        sock.sendall(b"STARTTLS\r\n")
        reply()
        context = ssl.create_default_context(cafile=starttls_ca)
        sock = context.wrap_socket(sock, server_hostname="127.0.0.1")
        reader = sock.makefile("rb")
        sock.sendall(b"EHLO bench.example\r\n")
        reply()
    started = time.monotonic()
    for _ in range(mails):
        sock.sendall(b"MAIL FROM:<alice@example.com>\r\n")
        reply()
        sock.sendall(b"RCPT TO:<" + RECIPIENT.encode() + b">\r\n")
        reply()
        sock.sendall(b"DATA\r\n")
        reply()
        sock.sendall(body)
        sent = time.monotonic()
        reply()
        # Through the proxy, the wait for the 250 is the TLS leg (with the
        # judging of the mail before it).
        waits.append(time.monotonic() - sent)
    seconds = time.monotonic() - started
    sock.sendall(b"QUIT\r\n")
    reader.readline()
    sock.close()
    return seconds


def tls_rows(executable):
    folder = tempfile.mkdtemp(prefix="pelorus-bench-tls-")
    try:
        ca, cert, key = make_certificates(folder)
        sink = TlsSink(cert, key)
        proxy = Proxy(executable, sink.port, ["--security", "starttls", "--ca-file", ca, "--verify-server", "1"])
        try:
            cpu_before = proxy.cpu_seconds()
            leg = []
            direct, through = median_round(
                lambda: counted(sink, TLS_MAILS, lambda: smtp_client(sink.port, TLS_MAILS, ca)),
                lambda: counted(sink, TLS_MAILS, lambda: smtp_client(proxy.port, TLS_MAILS, None, leg)))
            cpu = (proxy.cpu_seconds() - cpu_before) / ROUNDS
        finally:
            proxy.stop()
            sink.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    megabytes = TLS_MAILS * TLS_SIZE / 1e6
    return [("%d x 25 MB over STARTTLS, one session: proxy / direct time" % TLS_MAILS, "%.2f" % (through / direct),
             "<= 1.5", "median of %d: direct %.2f s, proxy %.2f s" % (ROUNDS, direct, through)),
            ("  TLS leg through the proxy (end of data to 250)", "%.0f MB/s" % (ROUNDS * megabytes / sum(leg)), "",
             "judging included; direct STARTTLS end to end %.0f MB/s" % (megabytes / direct)),
            ("  proxy CPU for the STARTTLS case", "%.2f s a round" % cpu, "", "")]


LINK_DELAY = 0.025
LINK_RECIPIENTS = ["r%d@example.com" % i for i in range(20)]


class DelayLink:
    def __init__(self, target_port):
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "delay_link.py"), str(target_port),
                                      str(LINK_DELAY)], stdout=subprocess.PIPE)
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def pipelined_mail(port):
    """One mail to LINK_RECIPIENTS with the envelope in one write, as a
    pipelining client sends it: seconds from connecting to the data's 250,
    and the seconds of the EHLO exchange (one round trip)."""
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        reader = s.makefile("rb")

        def reply(code):
            while True:
                line = reader.readline()
                if line[3:4] != b"-":
                    break
            if not line.startswith(code):
                raise SystemExit("unexpected reply %r" % line)

        reply(b"220")
        ehlo = time.monotonic()
        s.sendall(b"EHLO bench\r\n")
        reply(b"250")
        ehlo = time.monotonic() - ehlo
        s.sendall(b"MAIL FROM:<alice@example.com>\r\n" +
                  b"".join(b"RCPT TO:<%s>\r\n" % r.encode() for r in LINK_RECIPIENTS) + b"DATA\r\n")
        for _ in range(len(LINK_RECIPIENTS) + 1):
            reply(b"250")
        reply(b"354")
        s.sendall(b"Subject: slow link\r\n\r\nhello\r\n.\r\n")
        reply(b"250")
        elapsed = time.monotonic() - started
        s.sendall(b"QUIT\r\n")
        reply(b"221")
    return elapsed, ehlo


def slow_link_rows(executable, sink):
    link = DelayLink(sink.port)
    proxy = Proxy(executable, link.port, trusted=LINK_RECIPIENTS)
    try:
        pairs = []
        for _ in range(ROUNDS):
            direct = counted(sink, 1, lambda: pipelined_mail(link.port))
            pairs.append((direct, counted(sink, 1, lambda: pipelined_mail(proxy.port))))
    finally:
        proxy.stop()
        link.stop()
    # A round trip as the link really gives it: the direct EHLO exchange.
    round_trip = sorted(direct[1] for direct, _ in pairs)[len(pairs) // 2]
    pairs.sort(key=lambda pair: pair[1][0] - pair[0][0])
    direct, through = (pair[0] for pair in pairs[len(pairs) // 2])
    return [("one pipelined mail to 20 recipients, 25 ms link: extra round trips through the proxy",
             "%.2f" % ((through - direct) / round_trip), "<= 1",
             "median of %d pairs: direct %.3f s (%.1f round trips of %.1f ms), proxy %.3f s" %
             (ROUNDS, direct, direct / round_trip, round_trip * 1000, through))]


# Each comparison runs this many rounds, direct and through the proxy in
# turn, and reports the median round: one round on a shared 2-core machine
# swings by a third either way.
ROUNDS = 5


def median_round(run_direct, run_proxy, rounds=ROUNDS):
    """(direct, proxy) seconds of the round with the median proxy/direct ratio."""
    pairs = []
    for _ in range(rounds):
        direct = run_direct()
        pairs.append((direct, run_proxy()))
    pairs.sort(key=lambda pair: pair[1] / pair[0])
    return pairs[len(pairs) // 2]


def main():
    executable = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2 and sys.argv[2] == "--tls-only":
        print_rows(tls_rows(executable))
        return
    sink = Sink()
    if len(sys.argv) > 2 and sys.argv[2] == "--link-only":
        try:
            print_rows(slow_link_rows(executable, sink))
        finally:
            sink.stop()
        return
    proxy = Proxy(executable, sink.port)
    rows = []
    try:
        big = ["-d", "-s", "1", "-m", "20", "-l", str(25 * 1024 * 1024)]
        cpu_before = proxy.cpu_seconds()
        direct, through = median_round(lambda: counted(sink, 20, lambda: source(sink.port, *big)),
                                       lambda: counted(sink, 20, lambda: source(proxy.port, *big)))
        rows.append(("20 x 25 MB, one session: proxy / direct time", "%.2f" % (through / direct), "<= 1.5",
                     "median of %d: direct %.2f s, proxy %.2f s, proxy CPU %.2f s a round" %
                     (ROUNDS, direct, through, (proxy.cpu_seconds() - cpu_before) / ROUNDS)))

        # Where the time goes, mail by mail: envelope, receive, judge and send.
        for label, size, count, unit, scale in (("one 25 MB mail", 25 * 1024 * 1024, 1, "s", 1),
                                                ("one 5 KB mail (mean of 200)", 5120, 200, "ms", 1000)):
            direct_phases = counted(sink, count, lambda: mean_phases(sink.port, size, count))
            proxy_phases = counted(sink, count, lambda: mean_phases(proxy.port, size, count))
            shown = lambda p: " / ".join("%.2f" % (x * scale) for x in p)
            rows.append((label + ": envelope / receive / judge and send", shown(proxy_phases) + " " + unit, "",
                         "direct: %s %s" % (shown(direct_phases), unit)))

        small = ["-s", "20", "-m", "2000", "-l", "5120"]
        direct, through = median_round(lambda: counted(sink, 2000, lambda: source(sink.port, *small)),
                                       lambda: counted(sink, 2000, lambda: source(proxy.port, *small)))
        rows.append(("2000 x 5 KB, 20 sessions: proxy / direct throughput", "%.2f" % (direct / through), ">= 0.5",
                     "median of %d: direct %.0f mails/s, proxy %.0f mails/s" % (ROUNDS, 2000 / direct,
                                                                               2000 / through)))

        idle = open_sessions(proxy.port, 50, False)
        cpu_before = proxy.cpu_seconds()
        time.sleep(10)
        idle_cpu = proxy.cpu_seconds() - cpu_before
        for s in idle:
            s.close()
        rows.append(("50 sessions idle for 10 s: proxy CPU", "%.3f s" % idle_cpu, "< 0.1 s", ""))

        # A fresh proxy: the peak of the big mails above (whose spool files
        # are sent from a mapping) must not hide this one.
        fresh = Proxy(executable, sink.port)
        try:
            held = open_sessions(fresh.port, 100, True)
            time.sleep(1)
            peak = fresh.peak_memory_kib()
            for s in held:
                s.close()
        finally:
            fresh.stop()
        rows.append(("100 concurrent sessions: peak memory (VmHWM)", "%.1f MB" % (peak / 1024), "< 64 MB",
                     "a fresh proxy"))
    finally:
        proxy.stop()
    try:
        rows += slow_link_rows(executable, sink)
    finally:
        sink.stop()
    rows += tls_rows(executable)
    print_rows(rows)


def print_rows(rows):
    width = max(len(r[0]) for r in rows)
    print("%-*s  %-10s  %-8s  %s" % (width, "measure", "figure", "goal", "detail"))
    for name, figure, goal, detail in rows:
        print("%-*s  %-10s  %-8s  %s" % (width, name, figure, goal, detail))


if __name__ == "__main__":
    main()
