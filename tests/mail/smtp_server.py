#!/usr/bin/env python3
"""A small SMTP server for the mail tests, on 127.0.0.1 at a port the system picks (printed as "PORT n").

It speaks enough of the protocol to stand in for a real server: EHLO/HELO, STARTTLS, SMTPS, AUTH PLAIN and
LOGIN, MAIL, RCPT, DATA, RSET, NOOP, QUIT. Each accepted message is written to the output folder as the raw
DATA lines received (msgN.raw, still dot-stuffed), the message after un-stuffing (msgN.eml) and the
envelope (msgN.json). Faults on request: refuse a recipient, drop the connection at a command, stall.
The server ends when its standard input closes (the test that started it has gone).
"""
import argparse
import base64
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

ap = argparse.ArgumentParser()
ap.add_argument("--mode", choices=["plain", "starttls", "smtps"], default="plain")
ap.add_argument("--cert")
ap.add_argument("--key")
ap.add_argument("--auth", help="user:password required before MAIL")
ap.add_argument("--refuse", action="append", default=[], help="recipient address to refuse")
ap.add_argument("--drop", choices=["", "RCPT", "DATA", "BODY"], default="", help="close the connection there")
ap.add_argument("--stall-greeting", action="store_true")
ap.add_argument("--out", required=True)
args = ap.parse_args()

context = None
if args.mode != "plain":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)

counter = [0]
lock = threading.Lock()


class Session(socketserver.StreamRequestHandler):
    def setup(self):
        if args.mode == "smtps":
            self.request = context.wrap_socket(self.request, server_side=True)
        self.tls = args.mode == "smtps"
        super().setup()

    def send(self, text):
        self.wfile.write((text + "\r\n").encode())
        self.wfile.flush()

    def readline(self):
        line = self.rfile.readline(1 << 20)
        if not line:
            raise ConnectionError("closed")
        return line

    def drop(self):
        try:
            self.request.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.request.close()
        raise ConnectionError("dropped")

    def handle(self):
        try:
            self.dialogue()
        except (ConnectionError, ssl.SSLError, OSError):
            pass

    def dialogue(self):
        if args.stall_greeting:
            time.sleep(60)
        self.send("220 localhost test ESMTP")
        authed = args.auth is None
        user = None
        sender, rcpts = None, []
        while True:
            line = self.readline().decode("latin-1").rstrip("\r\n")
            verb = line.split(" ", 1)[0].upper()
            if verb == "EHLO":
                lines = ["localhost"]
                if args.mode == "starttls" and not self.tls:
                    lines.append("STARTTLS")
                if args.auth and (self.tls or args.mode == "plain"):
                    lines.append("AUTH PLAIN LOGIN")
                lines.append("8BITMIME")
                for l in lines[:-1]:
                    self.send("250-" + l)
                self.send("250 " + lines[-1])
            elif verb == "HELO":
                self.send("250 localhost")
            elif verb == "STARTTLS" and args.mode == "starttls" and not self.tls:
                self.send("220 go ahead")
                self.request = context.wrap_socket(self.request, server_side=True)
                self.rfile = self.request.makefile("rb")
                self.wfile = self.request.makefile("wb")
                self.tls = True
            elif verb == "AUTH" and args.auth:
                parts = line.split(" ")
                mech = parts[1].upper() if len(parts) > 1 else ""
                if mech == "PLAIN":
                    token = parts[2] if len(parts) > 2 else None
                    if token is None:
                        self.send("334 ")
                        token = self.readline().decode().strip()
                    fields = base64.b64decode(token).split(b"\0")
                    given = (fields[-2] + b":" + fields[-1]).decode()
                elif mech == "LOGIN":
                    self.send("334 VXNlcm5hbWU6")
                    u = base64.b64decode(self.readline().strip()).decode()
                    self.send("334 UGFzc3dvcmQ6")
                    p = base64.b64decode(self.readline().strip()).decode()
                    given = u + ":" + p
                else:
                    self.send("504 5.5.4 mechanism not supported")
                    continue
                if given == args.auth:
                    authed = True
                    user = given.split(":")[0]
                    self.send("235 2.7.0 Authentication successful")
                else:
                    self.send("535 5.7.8 Authentication credentials invalid")
            elif verb == "MAIL":
                if not authed:
                    self.send("530 5.7.0 Authentication required")
                    continue
                sender = line[len("MAIL FROM:"):].strip()
                rcpts = []
                self.send("250 2.1.0 Ok")
            elif verb == "RCPT":
                if args.drop == "RCPT":
                    self.drop()
                addr = line[len("RCPT TO:"):].strip()
                if addr.strip("<>") in args.refuse:
                    self.send("550 5.1.1 " + addr + ": Recipient address rejected")
                else:
                    rcpts.append(addr)
                    self.send("250 2.1.5 Ok")
            elif verb == "DATA":
                if args.drop == "DATA":
                    self.drop()
                self.send("354 End data with <CR><LF>.<CR><LF>")
                raw = []
                while True:
                    l = self.readline()
                    if l in (b".\r\n", b".\n"):
                        break
                    raw.append(l)
                    if args.drop == "BODY" and len(raw) > 3:
                        self.drop()
                unstuffed = [l[1:] if l.startswith(b".") else l for l in raw]
                with lock:
                    counter[0] += 1
                    n = counter[0]
                base = os.path.join(args.out, "msg%d" % n)
                with open(base + ".raw", "wb") as f:
                    f.write(b"".join(raw))
                with open(base + ".eml", "wb") as f:
                    f.write(b"".join(unstuffed))
                with open(base + ".json", "w") as f:
                    json.dump({"from": sender, "rcpt": rcpts, "tls": self.tls, "user": user}, f)
                self.send("250 2.0.0 Ok: queued as %d" % n)
            elif verb in ("RSET", "NOOP"):
                self.send("250 2.0.0 Ok")
            elif verb == "QUIT":
                self.send("221 2.0.0 Bye")
                return
            else:
                self.send("502 5.5.2 Error: command not recognized")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def watch_stdin():
    sys.stdin.read()
    os._exit(0)


server = Server(("127.0.0.1", 0), Session)
threading.Thread(target=watch_stdin, daemon=True).start()
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
