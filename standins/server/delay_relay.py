#!/usr/bin/env python3
"""A loopback TCP relay that stands for a slow network path.

delay_relay.py --upstream PORT --delay-ms MS --port-file FILE [--log FILE]

Listens on 127.0.0.1 and writes its port to FILE once listening. Each
connection is passed to 127.0.0.1:PORT after MS milliseconds (the connection's
round trip), and each answer (the first bytes the upstream sends after the
client has spoken) reaches the client MS milliseconds late (the request's
round trip). Bytes within an answer pass at once. With MS = 100, one HTTP/1.0
fetch costs about 200 ms more than on loopback, as over a path with a 100 ms
round trip. --log appends one line per request as the relay passes it on:
the time in ms since the epoch and the request line.
"""
import argparse
import socket
import socketserver
import sys
import threading
import time

from loopback import LoopbackServer, serve_until_stopped


class Server(LoopbackServer):
    def __init__(self, addr, opts):
        super().__init__(addr, Handler, opts)


class Handler(socketserver.BaseRequestHandler):
    METHODS = (b"GET ", b"HEAD ", b"POST ", b"PUT ", b"OPTIONS ", b"CONNECT ")

    def log(self, data):
        path = self.server.opts.log
        if not path or not data.startswith(self.METHODS):
            return
        line = data.split(b"\r\n", 1)[0].decode("latin-1")
        self.server.append_line(path, "%d %s" % (int(time.time() * 1000), line))

    def handle(self):
        delay = self.server.opts.delay_ms / 1000.0
        client = self.request
        time.sleep(delay)
        try:
            upstream = socket.create_connection(("127.0.0.1", self.server.opts.upstream))
        except OSError:
            return
        spoke = threading.Event()  # the client has sent something not yet answered

        def forward():
            try:
                while True:
                    data = client.recv(65536)
                    if not data:
                        break
                    spoke.set()
                    self.log(data)
                    upstream.sendall(data)
            except OSError:
                pass
            try:
                upstream.shutdown(socket.SHUT_WR)
            except OSError:
                pass

        t = threading.Thread(target=forward, daemon=True)
        t.start()
        try:
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                if spoke.is_set():
                    spoke.clear()
                    time.sleep(delay)
                client.sendall(data)
        except OSError:
            pass
        try:
            client.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        t.join(timeout=5)
        upstream.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--upstream", type=int, required=True)
    ap.add_argument("--delay-ms", type=float, required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log")
    opts = ap.parse_args()
    server = Server(("127.0.0.1", 0), opts)
    return serve_until_stopped(server, opts.port_file)


if __name__ == "__main__":
    sys.exit(main())
