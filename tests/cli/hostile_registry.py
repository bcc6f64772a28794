"""A package registry on 127.0.0.1 for the package client's limits. It
binds a free port, writes it to the file named by its one argument, and
serves until it is killed, or for five minutes at most. The first path component chooses the reply:

  /big/NAME.kep, /big/NAME.kep.sha256  a module of 1 MiB and its digest
  /head/...   a head that never ends (1 MiB of header lines, then silence)
  /endless/...  a head without Content-Length and a body that never ends
  /silent/...   nothing at all: the connection stays open and quiet
  /drip/...     a head, then one byte of body every tenth of a second
"""
import hashlib
import socket
import socketserver
import os
import sys
import threading
import time

LINE = b"# a line of a large module that the registry serves\n"
MODULE = LINE * (1048576 // len(LINE)) + b'function describe()\n    return "big"\nend\n'
QUIET_SECONDS = 20
LIFETIME_SECONDS = 300


def reply(body):
    return b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        request = b""
        while b"\r\n\r\n" not in request:
            data = self.request.recv(4096)
            if not data:
                return
            request += data
        path = request.split(b" ")[1].decode()
        kind = path.split("/")[1]
        try:
            if kind == "big" and path.endswith(".kep"):
                self.request.sendall(reply(MODULE))
            elif kind == "big" and path.endswith(".kep.sha256"):
                self.request.sendall(reply(hashlib.sha256(MODULE).hexdigest().encode() + b"\n"))
            elif kind == "head":
                self.request.sendall(b"HTTP/1.1 200 OK\r\n" + (b"X-Padding: " + b"a" * 100 + b"\r\n") * 10000)
                time.sleep(QUIET_SECONDS)
            elif kind == "endless":
                self.request.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
                block = b"x" * 65536
                while True:
                    self.request.sendall(block)
            elif kind == "silent":
                time.sleep(QUIET_SECONDS)
            elif kind == "drip":
                self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
                for _ in range(QUIET_SECONDS * 10):
                    self.request.sendall(b"x")
                    time.sleep(0.1)
            else:
                self.request.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
        except OSError:
            # The client gave up first, as it should.
            pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True


threading.Timer(LIFETIME_SECONDS, os._exit, [0]).start()
with Server(("127.0.0.1", 0), Handler) as server:
    with open(sys.argv[1], "w") as port_file:
        port_file.write(str(server.server_address[1]))
    server.serve_forever()
