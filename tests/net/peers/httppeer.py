#!/usr/bin/env python3
"""A scripted HTTP/1.1 peer on 127.0.0.1 for the client tests, honest or
hostile by path. Bounded in bytes and lifetime.

Usage: httppeer.py PORT [LIFETIME_SECONDS]
"""
import email.parser
import email.policy
import json
import socket
import socketserver
import sys
import threading
import time

LIMIT = 8 * 1024 * 1024


def reply(status, body=b"", headers=()):
    head = "HTTP/1.1 %s\r\n" % status
    for h in headers:
        head += h + "\r\n"
    if not any(h.lower().startswith(("content-length", "transfer-encoding")) for h in headers):
        head += "Content-Length: %d\r\n" % len(body)
    return head.encode() + b"\r\n" + body


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data and len(data) < LIMIT:
            piece = self.request.recv(65536)
            if not piece:
                break
            data += piece
        head, _, rest = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0"))
        while len(rest) < length and len(rest) < LIMIT:
            piece = self.request.recv(65536)
            if not piece:
                break
            rest += piece
        return lines[0], headers, head, rest

    def handle(self):
        try:
            line, headers, head, body = self.read_request()
        except Exception:
            return
        parts = line.split(" ")
        path = parts[1] if len(parts) > 1 else "/"
        s = self.request
        if path.startswith("http://"):
            # As a proxy: show what came.
            s.sendall(reply("200 OK", head + b"\r\n"))
        elif path == "/sized":
            s.sendall(reply("200 OK", b"0123456789" * 1000))
        elif path == "/chunked":
            s.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                      b"5\r\nhello\r\n1;ext=1\r\n \r\n5\r\nworld\r\n0\r\n\r\n")
        elif path == "/close":
            s.sendall(b"HTTP/1.0 200 OK\r\n\r\nuntil close")
        elif path == "/a/b":
            s.sendall(reply("200 OK", b"relative"))
        elif path.startswith("/a/"):
            s.sendall(reply("302 Found", b"moved", ["Location: b"]))
        elif path.startswith("/loop"):
            n = int(path[5:] or "0")
            s.sendall(reply("301 Moved", b"loop %d" % n, ["Location: /loop%d" % (n + 1)]))
        elif path == "/204":
            s.sendall(b"HTTP/1.1 204 No Content\r\n\r\n")
        elif path == "/304":
            s.sendall(b"HTTP/1.1 304 Not Modified\r\n\r\n")
        elif path == "/100":
            s.sendall(b"HTTP/1.1 100 Continue\r\nX: y\r\n\r\n" + reply("200 OK", b"after continue"))
        elif path == "/500":
            s.sendall(reply("500 Oops", b"server error body"))
        elif path == "/404":
            s.sendall(reply("404 Not Found", b"nope"))
        elif path == "/401":
            s.sendall(reply("401 Unauthorized", b"who"))
        elif path.startswith("/echo"):
            s.sendall(reply("200 OK", head + b"\r\n\r\n"))
        elif path == "/upload":
            ctype = headers.get("content-type", "")
            msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
                b"Content-Type: " + ctype.encode() + b"\r\n\r\n" + body)
            out = {"length": int(headers.get("content-length", "-1")), "received": len(body), "parts": []}
            for p in msg.iter_parts():
                out["parts"].append({"name": p.get_param("name", header="content-disposition"),
                                     "filename": p.get_filename(), "type": p.get_content_type(),
                                     "data": p.get_payload(decode=True).decode("latin-1")})
            s.sendall(reply("200 OK", json.dumps(out, sort_keys=True).encode()))
        elif path == "/hugelen":
            s.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 4294967306\r\n\r\n0123456789")
        elif path == "/badlen":
            s.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n0123456789")
        elif path == "/badchunk":
            s.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc")
        elif path == "/bigchunk":
            s.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7ffffffffffffff\r\nabc")
        elif path == "/gzipte":
            s.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nabc")
        elif path == "/garbage":
            s.sendall(b"FOO/1.1 200 OK\r\n\r\n")
        elif path == "/noversion":
            s.sendall(b"HTTP/x 200 OK\r\n\r\n")
        elif path == "/longstatus":
            s.sendall(b"HTTP/1.1 200 " + b"x" * 5000 + b"\r\n\r\n")
        elif path == "/longheader":
            s.sendall(b"HTTP/1.1 200 OK\r\nX: " + b"y" * 40000 + b"\r\n\r\n")
        elif path == "/endless":
            s.sendall(b"HTTP/1.1 200 OK\r\n")
            end = time.time() + 10
            sent = 0
            while time.time() < end and sent < LIMIT:
                s.sendall(b"X-Endless: 0123456789012345678901234567890123456789\r\n" * 100)
                sent += 5300
        elif path == "/short":
            s.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this")
        elif path == "/drip":
            s.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n")
            for c in b"drips":
                time.sleep(0.05)
                s.sendall(bytes([c]))
        elif path == "/silent":
            time.sleep(3)
        else:
            s.sendall(reply("404 Not Found", b"unknown"))
        try:
            s.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    port = int(sys.argv[1])
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    server = Server(("127.0.0.1", port), Handler)
    threading.Timer(lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
