#!/usr/bin/python3
"""A small SMTP sink with STARTTLS for the relay benchmark.

  tls_sink.py CERT KEY

Listens on 127.0.0.1, prints its port on the first line of standard output
and then "mesg=N" after each message it took. It offers STARTTLS, accepts
every envelope, and reads the data in large pieces, looking only for the end
mark: no line processing, so what is measured is the TLS leg, not the sink.
It stops on SIGTERM or when standard input closes.
"""
import signal
import socket
import ssl
import sys
import threading

END = b"\r\n.\r\n"
READ = 1 << 20


class Counter:
    def __init__(self):
        self.count = 0
        self.lock = threading.Lock()

    def add(self):
        with self.lock:
            self.count += 1
            print("mesg=%d" % self.count, flush=True)


def serve(conn, context, counter):
    buffered = b""
    secure = False

    def line():
        nonlocal buffered
        while b"\n" not in buffered:
            piece = conn.recv(READ)
            if not piece:
                return None
            buffered += piece
        at = buffered.index(b"\n") + 1
        text, buffered = buffered[:at], buffered[at:]
        return text

    def data():
        # The end mark may straddle two reads: keep the last bytes of each.
        nonlocal buffered
        seen = b"\r\n" + buffered
        while True:
            at = seen.find(END)
            if at >= 0:
                buffered = seen[at + len(END):]
                return True
            seen = seen[-(len(END) - 1):]
            piece = conn.recv(READ)
            if not piece:
                return False
            seen += piece

    try:
        conn.sendall(b"220 tls-sink ESMTP\r\n")
        while True:
            text = line()
            if text is None:
                return
            verb = text[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                offer = b"" if secure else b"250-STARTTLS\r\n"
                conn.sendall(b"250-tls-sink\r\n250-PIPELINING\r\n" + offer + b"250 8BITMIME\r\n")
            elif text.upper().startswith(b"STARTTLS") and not secure:
                conn.sendall(b"220 2.0.0 go ahead\r\n")
                if buffered:
                    return  # bytes before the handshake: refused
                conn = context.wrap_socket(conn, server_side=True)
                secure = True
            elif verb == b"DATA":
                conn.sendall(b"354 go ahead\r\n")
                if not data():
                    return
                counter.add()
                conn.sendall(b"250 2.0.0 Ok: queued\r\n")
            elif verb == b"QUIT":
                conn.sendall(b"221 2.0.0 Bye\r\n")
                return
            else:
                conn.sendall(b"250 2.0.0 Ok\r\n")
    except (OSError, ssl.SSLError):
        return
    finally:
        conn.close()


def main():
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(sys.argv[1], sys.argv[2])
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(50)
    counter = Counter()
    print(listener.getsockname()[1], flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    threading.Thread(target=lambda: (sys.stdin.read(), stop.set()), daemon=True).start()

    def accept():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(conn, context, counter), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    stop.wait()
    listener.close()


if __name__ == "__main__":
    main()
