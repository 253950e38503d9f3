#!/usr/bin/env python3
"""A scripted FTP peer on 127.0.0.1: its PASV reply names 127.0.0.2 (the
client must still use 127.0.0.1), or it misbehaves by mode. A listener on
127.0.0.2 writes "touched" to the report file when anything connects.

Usage: ftppeer.py PORT MODE REPORT [LIFETIME_SECONDS]
Modes: pasv-elsewhere, endless-reply, long-line, bad-pasv
"""
import socket
import sys
import threading
import time


def main():
    port, mode, report = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    lifetime = float(sys.argv[4]) if len(sys.argv) > 4 else 30
    threading.Timer(lifetime, lambda: __import__("os")._exit(0)).start()
    data = socket.socket()
    data.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    data.bind(("127.0.0.1", 0))
    data.listen(1)
    dport = data.getsockname()[1]
    trap = socket.socket()
    trap.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        trap.bind(("127.0.0.2", dport))
        trap.listen(1)

        def watch():
            c, _ = trap.accept()
            with open(report, "w") as f:
                f.write("touched")
            c.close()
        threading.Thread(target=watch, daemon=True).start()
    except OSError:
        pass
    ctl = socket.socket()
    ctl.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ctl.bind(("127.0.0.1", port))
    ctl.listen(1)
    while True:
        c, _ = ctl.accept()
        f = c.makefile("rb")
        if mode == "endless-reply":
            try:
                c.sendall(b"220-welcome\r\n")
                end = time.time() + 10
                while time.time() < end:
                    c.sendall(b"220-more and more text in a reply that never ends\r\n" * 50)
            except OSError:
                pass
            c.close()
            continue
        if mode == "long-line":
            try:
                c.sendall(b"220 " + b"x" * 100000 + b"\r\n")
            except OSError:
                pass
            c.close()
            continue
        try:
            serve(c, f, mode, data, dport)
        except OSError:
            pass  # a probe that connected and left at once
        c.close()


def serve(c, f, mode, data, dport):
    c.sendall(b"220 ready\r\n")
    while True:
        line = f.readline(4096)
        if not line:
            break
        cmd = line.decode("latin-1").strip().lower()
        if cmd.startswith("user"):
            c.sendall(b"230 in\r\n")
        elif cmd.startswith("pasv"):
            if mode == "bad-pasv":
                c.sendall(b"227 Entering Passive Mode (127,0,0,1,300,1)\r\n")
            else:
                c.sendall(b"227 Entering Passive Mode (127,0,0,2,%d,%d)\r\n" % (dport >> 8, dport & 255))
        elif cmd.startswith("type"):
            c.sendall(b"200 ok\r\n")
        elif cmd.startswith("size"):
            c.sendall(b"213 5\r\n")
        elif cmd.startswith("retr"):
            d, _ = data.accept()
            c.sendall(b"150 sending\r\n")
            d.sendall(b"hello")
            d.close()
            c.sendall(b"226 done\r\n")
        elif cmd.startswith("quit"):
            c.sendall(b"221 bye\r\n")
            break
        else:
            c.sendall(b"500 what\r\n")


if __name__ == "__main__":
    main()
