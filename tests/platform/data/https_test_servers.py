#!/usr/bin/env python3
"""The HTTPS session's test servers: one speaking HTTPS and one plain HTTP, both on 127.0.0.1.

Usage: https_test_servers.py   (the certificate and its key lie beside it)
Prints "<https port> <http port>" on one line once both listen, and serves until its standard input
ends, so that it never outlives the test that started it.
"""
import http.server
import os
import ssl
import sys
import threading
import time

MANIFEST = b'{"version":"9.1"}'


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        https_port, http_port = self.server.ports
        if self.path == "/manifest":
            self.answer(200, MANIFEST)
        elif self.path == "/redirect":
            self.answer(302, b"", f"https://127.0.0.1:{https_port}/manifest")
        elif self.path == "/redirect-to-http":
            self.answer(302, b"", f"http://127.0.0.1:{http_port}/manifest")
        elif self.path.startswith("/bytes/"):
            # One write, so that the client receives the body in a single piece.
            self.answer(200, b"x" * int(self.path[len("/bytes/"):]))
        elif self.path == "/slow":
            time.sleep(1.5)
            self.answer(200, MANIFEST)
        else:
            self.answer(404, b"not here")

    def answer(self, status, body, location=None):
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    secure = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(here, "https-test-certificate.pem"),
                            os.path.join(here, "https-test-key.pem"))
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    ports = (secure.server_address[1], plain.server_address[1])
    for server in (secure, plain):
        server.ports = ports
        threading.Thread(target=server.serve_forever, daemon=True).start()
    # One write, so that the reader has both ports at once.
    os.write(sys.stdout.fileno(), f"{ports[0]} {ports[1]}\n".encode())
    sys.stdin.read()


if __name__ == "__main__":
    main()
