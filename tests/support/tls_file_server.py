#!/usr/bin/env python3
"""Serves a folder over https on loopback for the tests, with Content-Length on every answer.

Usage: tls_file_server.py ROOT CERT KEY PORT_FILE

Writes the port it listens on to PORT_FILE once it accepts connections. Besides the files of
ROOT it answers "/redirect?to=URL" with a 302 to URL, so a test can send a client anywhere.
The TLS handshake runs on each connection's own thread: a client that refuses the
certificate or stalls holds up nobody else. With TLS_SERVER_LOG set, it logs each request
to stderr.
"""
import http.server
import os
import ssl
import sys
import urllib.parse


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        if not self.redirect():
            super().do_GET()

    def do_HEAD(self):
        if not self.redirect():
            super().do_HEAD()

    def redirect(self):
        parts = urllib.parse.urlsplit(self.path)
        if parts.path != "/redirect":
            return False
        target = urllib.parse.parse_qs(parts.query).get("to", [""])[0]
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()
        return True

    def log_message(self, format, *args):
        if os.environ.get("TLS_SERVER_LOG"):
            super().log_message(format, *args)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def finish_request(self, request, client_address):
        try:
            connection = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            request.close()
            return
        super().finish_request(connection, client_address)

    def handle_error(self, request, client_address):
        pass  # a client that went away mid-answer is no news


def main():
    root, cert, key, port_file = sys.argv[1:5]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    os.chdir(root)
    server = Server(("127.0.0.1", 0), Handler, context)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
