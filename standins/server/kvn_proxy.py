#!/usr/bin/env python3
"""Local stand-in for a player's forward proxy.

kvn_proxy.py --port-file FILE [--log FILE] [--port 0] [--drop]

Listens on 127.0.0.1 and writes its port to FILE once listening. Takes
requests in absolute form ("GET http://host:port/path HTTP/1.0") and CONNECT
tunnels ("CONNECT host:port HTTP/1.1"), each on its own connection, and
passes them to the named host, which must be a loopback address: nothing
leaves the machine. --log writes one JSON line per request: its method,
target and version, and the client's headers. Requests passed on carry
"Via: 1.1 kvn-proxy". An origin that cannot be reached gets 502, one that is
not on loopback 403. With --drop every request is logged and its connection
closed without an answer: a proxy that fails.
"""
import argparse
import ipaddress
import socket
import sys
import threading
import urllib.parse

from loopback import LoopbackServer, RequestHandler, serve_until_stopped

HOP_BY_HOP = {"connection", "proxy-connection", "keep-alive", "proxy-authorization",
              "te", "trailer", "upgrade"}


class Server(LoopbackServer):
    def __init__(self, addr, opts):
        super().__init__(addr, Handler, opts)


def loopback(host):
    if host.lower() == "localhost":
        return True
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return False


def pipe(src, dst):
    """Copies src to dst until src ends, then ends dst's sending side."""
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


class Handler(RequestHandler):
    timeout = 60
    # Unbuffered: the head is read byte by byte, so whatever follows it is
    # still in the socket when the relay starts.
    rbufsize = 0

    def answer(self, status, reason):
        body = ("%d %s\n" % (status, reason)).encode()
        self.wfile.write(("HTTP/1.1 %d %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                          % (status, reason, len(body))).encode("latin-1") + body)
        self.wfile.flush()

    def serve_one(self):
        head = self.read_head()
        if head is None:
            return
        parts, headers = head
        if len(parts) != 3:
            self.answer(400, "Bad Request")
            return
        method, target, version = parts
        self.write_log(method, target, version, headers)
        if self.server.opts.drop:
            return
        if method == "CONNECT":
            host, _, port = target.rpartition(":")
            self.tunnel(host, port)
            return
        url = urllib.parse.urlsplit(target)
        if url.scheme != "http" or not url.hostname:
            self.answer(400, "Bad Request")
            return
        host = url.hostname
        port = url.port or 80
        if not loopback(host):
            self.answer(403, "Forbidden")
            return
        try:
            upstream = socket.create_connection((host, port), timeout=10)
        except OSError:
            self.answer(502, "Bad Gateway")
            return
        with upstream:
            path = url.path or "/"
            if url.query:
                path += "?" + url.query
            head = ["%s %s %s" % (method, path, version)]
            head += ["%s: %s" % (n, v) for n, v in headers if n.lower() not in HOP_BY_HOP]
            head.append("Via: 1.1 kvn-proxy")
            head.append("Connection: close")
            upstream.settimeout(None)
            upstream.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
            # A request body, if any, and the answer, each its own way.
            self.relay(upstream)

    def tunnel(self, host, port):
        if not port.isdigit() or not loopback(host):
            self.answer(403, "Forbidden")
            return
        try:
            upstream = socket.create_connection((host.strip("[]"), int(port)), timeout=10)
        except OSError:
            self.answer(502, "Bad Gateway")
            return
        with upstream:
            upstream.settimeout(None)
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            self.wfile.flush()
            self.relay(upstream)

    def relay(self, upstream):
        self.connection.settimeout(None)
        up = threading.Thread(target=pipe, args=(self.connection, upstream), daemon=True)
        up.start()
        pipe(upstream, self.connection)
        up.join(timeout=5)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--drop", action="store_true")
    opts = ap.parse_args()
    server = Server(("127.0.0.1", opts.port), opts)
    return serve_until_stopped(server, opts.port_file)


if __name__ == "__main__":
    sys.exit(main())
