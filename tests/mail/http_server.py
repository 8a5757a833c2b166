#!/usr/bin/env python3
"""An HTTP(S) server of version pages for the update tests, on 127.0.0.1 at a port the system picks (printed
as "PORT n"). Pages: /newer /same /older /malformed /redirect (HTTP 302 to /newer) /meta-redirect (the page
names /newer) /to-http (302 to a plain-http address) /huge (5 MiB) /huge-unsized (no length, streamed)
/slow (one byte every half second) /missing (404) /readme.txt /files/update.zip. The server ends when its
standard input closes.
"""
import argparse
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ap = argparse.ArgumentParser()
ap.add_argument("--cert")
ap.add_argument("--key")
ap.add_argument("--version", default="1.2.3.4", help="the version of /same")
args = ap.parse_args()

PAYLOAD = bytes((i * 7919 + (i >> 8)) & 0xFF for i in range(200003))


def page(version, extra=""):
    return ("<html><head>\n"
            '<META HTTP-EQUIV="vn-name" CONTENT="Varnok">\n'
            '<META HTTP-EQUIV="vn-version" CONTENT="%s">\n'
            '<META HTTP-EQUIV="vn-author" CONTENT="The Varnok developers">\n'
            '<META HTTP-EQUIV="vn-date" CONTENT="Mar 05, 2001">\n'
            '<META HTTP-EQUIV="vn-url" CONTENT="/files/update.zip">\n'
            "%s</head><body>Newest release</body></html>\n" % (version, extra))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *a):
        pass

    def base(self):
        scheme = "https" if args.cert else "http"
        return "%s://127.0.0.1:%d" % (scheme, self.server.server_address[1])

    def reply(self, body, status=200, ctype="text/html"):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        p = self.path
        if p == "/newer":
            readme = '<META HTTP-EQUIV="vn-readme" CONTENT="%s/readme.txt">\n' % self.base()
            self.reply(page("1.2.10", readme).replace("/files/update.zip", self.base() + "/files/update.zip"))
        elif p == "/same":
            self.reply(page(args.version))
        elif p == "/older":
            self.reply(page("1.2.3"))
        elif p == "/malformed":
            self.reply(b"<html><meta http-equiv=\"vn-version\" content=1.9>\n\x00\xff\xfe" + b"x" * 5000 +
                       b"\n<META HTTP-EQUIV=\"\n<META HTTP-EQUIV=\"vn-version\"\n")
        elif p == "/redirect":
            self.send_response(302)
            self.send_header("Location", self.base() + "/newer")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif p == "/meta-redirect":
            self.reply(page("0.0.0.1", '<META HTTP-EQUIV="vn-redirect" CONTENT="%s/newer">\n' % self.base()))
        elif p == "/to-http":
            self.send_response(302)
            self.send_header("Location", "http://127.0.0.1:%d/newer" % self.server.server_address[1])
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif p == "/huge":
            self.reply(page("9.9") + "x" * (5 << 20))
        elif p == "/huge-unsized":
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            try:
                for _ in range(64):
                    self.wfile.write(b"y" * (128 << 10))
            except OSError:
                pass
        elif p == "/slow":
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", "1000")
            self.end_headers()
            try:
                for _ in range(120):
                    self.wfile.write(b"<")
                    self.wfile.flush()
                    time.sleep(0.5)
            except OSError:
                pass
        elif p == "/readme.txt":
            self.reply("What is new:\n- everything\n", ctype="text/plain")
        elif p == "/files/update.zip":
            self.reply(PAYLOAD, ctype="application/zip")
        else:
            self.reply("not here", status=404)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # clients that give up (size caps, timeouts) are what the tests make happen


def watch_stdin():
    sys.stdin.read()
    os._exit(0)


server = Server(("127.0.0.1", 0), Handler)
if args.cert:
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(args.cert, args.key)
    server.socket = ctx.wrap_socket(server.socket, server_side=True)
threading.Thread(target=watch_stdin, daemon=True).start()
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
