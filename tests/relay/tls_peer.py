#!/usr/bin/python3
"""A one-connection implicit-TLS peer for the TLS transport tests.

  tls_peer.py CERT KEY MODE

Listens on 127.0.0.1, prints its port, takes one connection, completes the
handshake and sends "220 tls-peer". Then, by MODE:

  abrupt   closes TCP without close_notify
  orderly  sends close_notify and waits for the peer's
  count    reads slowly up to "\\r\\n.\\r\\n" and answers
           "250 <bytes> <crc32>" for everything before the mark
"""
import socket
import ssl
import sys
import time
import zlib


def main():
    cert, key, mode = sys.argv[1:4]
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    # A small receive window keeps the sender waiting for writability.
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(20)
    raw, _ = listener.accept()
    raw.settimeout(20)
    try:
        conn = context.wrap_socket(raw, server_side=True)
    except (ssl.SSLError, OSError):
        return  # the client refused the certificate: nothing more to do
    conn.sendall(b"220 tls-peer\r\n")
    if mode == "abrupt":
        conn.shutdown(socket.SHUT_RDWR)  # drops the TLS state: no close_notify
    elif mode == "orderly":
        conn.unwrap()
    elif mode == "count":
        data = bytearray()
        while not data.endswith(b"\r\n.\r\n"):
            piece = conn.recv(65536)
            if not piece:
                return
            data += piece
            time.sleep(0.002)
        body = bytes(data[:-5])
        conn.sendall(b"250 %d %d\r\n" % (len(body), zlib.crc32(body)))
        conn.recv(1)
    conn.close()


if __name__ == "__main__":
    main()
