#!/usr/bin/env python3
"""Local stand-in for the game's web site and download server.

kvn_server.py --root DIR --port-file FILE [--log FILE] [--sent-log FILE] [--rules FILE] [--port 0]
              [--tls PEM]

Serves the files under DIR on 127.0.0.1. Writes the port to FILE once
listening. --log writes one JSON line per request. --rules names a JSON file,
re-read on every request, mapping a path to a behaviour: status, headers,
content_length ("missing" | "zero" | "wrong" | int | any other text, sent as
the field's value with "{n}" the body's length | a list of those, one field
line each), body, truncate, hang,
drip (send the body in pieces of that many bytes, drip_ms apart, 10 ms when
not given), head_drip_ms (send the response head one byte at a time, that
many ms apart, after the status line's first line end), stall (keep
the connection open without a word after the body until the server stops),
fill (that many ";" bytes after the body, made as they are sent and counted in
an honest Content-Length: a huge file that takes no disk). --sent-log names
a file that gets one line {"answered": TARGET, "body_bytes": N, "hung_up": B,
"seconds": S} for each answer with a body or whose client hung up, once it
ends: the body bytes the server managed to send, whether a write found the
connection closed, and how long the answer lasted.
"""
import argparse
import json
import os
import socket
import sys
import threading
import time
import urllib.parse

from loopback import LoopbackServer, RequestHandler, serve_until_stopped

REASONS = {200: "OK", 301: "Moved Permanently", 302: "Found", 304: "Not Modified",
           400: "Bad Request", 403: "Forbidden", 404: "Not Found", 500: "Internal Server Error",
           503: "Service Unavailable"}

TYPES = {".html": "text/html; charset=utf-8", ".htm": "text/html; charset=utf-8",
         ".php": "text/html; charset=utf-8", ".ini": "text/plain", ".txt": "text/plain",
         ".bmp": "image/bmp", ".js": "application/javascript", ".css": "text/css",
         ".json": "application/json"}


class Server(LoopbackServer):
    def __init__(self, addr, opts):
        super().__init__(addr, Handler, opts)
        self.stopping = threading.Event()


class Handler(RequestHandler):
    timeout = 30

    def read_request(self):
        head = self.read_head()
        if head is None:
            return None
        parts, headers = head
        if len(parts) == 2:
            parts.append("HTTP/0.9")
        if len(parts) != 3:
            return ("", "", "", [])
        return (parts[0], parts[1], parts[2], headers)

    def rules(self):
        path = self.server.opts.rules
        if not path:
            return {}
        try:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
            return data if isinstance(data, dict) else {}
        except (OSError, ValueError):
            return {}

    def file_for(self, path):
        root = os.path.realpath(self.server.opts.root)
        rel = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(root, rel))
        if full != root and not full.startswith(root + os.sep):
            return None
        if os.path.isdir(full):
            full = os.path.join(full, "index.html")
        return full if os.path.isfile(full) else None

    def send(self, status, headers, body, head, length_rule=None, truncate=None, drip=None,
             drip_ms=None, fill=0, head_drip_ms=None):
        lines = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status"))]
        names = {n.lower() for n, _ in headers}
        fill = max(0, int(fill or 0))
        if length_rule is None:
            lines.append("Content-Length: %d" % (len(body) + fill))
        elif length_rule == "missing":
            pass
        elif length_rule == "zero":
            lines.append("Content-Length: 0")
        elif length_rule == "wrong":
            lines.append("Content-Length: %d" % (len(body) + 17))
        elif isinstance(length_rule, (str, list)):
            for value in length_rule if isinstance(length_rule, list) else [length_rule]:
                lines.append("Content-Length: %s" % str(value).replace("{n}", str(len(body) + fill)))
        else:
            lines.append("Content-Length: %d" % int(length_rule))
        if "connection" not in names:
            lines.append("Connection: close")
        for n, v in headers:
            lines.append("%s: %s" % (n, v))
        head_bytes = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        if head_drip_ms:
            first = head_bytes.index(b"\r\n") + 2
            self.wfile.write(head_bytes[:first])
            self.wfile.flush()
            for i in range(first, len(head_bytes)):
                if self.server.stopping.wait(float(head_drip_ms) / 1000):
                    return
                self.wfile.write(head_bytes[i:i + 1])
                self.wfile.flush()
        else:
            self.wfile.write(head_bytes)
            self.wfile.flush()
        if head:
            return
        data = body if truncate is None else body[:int(truncate)]
        step = int(drip) if drip else 0
        pause = float(drip_ms) / 1000 if drip_ms is not None else 0.01
        if step <= 0:
            self.wfile.write(data)
            self.body_bytes += len(data)
        else:
            for i in range(0, len(data), step):
                self.wfile.write(data[i:i + step])
                self.wfile.flush()
                self.body_bytes += len(data[i:i + step])
                if self.server.stopping.wait(pause):
                    break
        piece = b";" * 65536
        while fill > 0 and not self.server.stopping.is_set():
            n = min(fill, len(piece))
            self.wfile.write(piece[:n])
            self.body_bytes += n
            fill -= n
        self.wfile.flush()

    def serve_one(self):
        req = self.read_request()
        if req is None:
            return
        method, target, version, headers = req
        self.write_log(method, target, version, headers)
        self.body_bytes = 0
        hung_up = False
        started = time.monotonic()
        try:
            self.answer(method, target)
        except OSError:
            hung_up = True
            raise
        finally:
            if self.server.opts.sent_log and (self.body_bytes or hung_up):
                line = json.dumps({"answered": target, "body_bytes": self.body_bytes,
                                   "hung_up": hung_up,
                                   "seconds": round(time.monotonic() - started, 2)})
                self.server.append_line(self.server.opts.sent_log, line)

    def answer(self, method, target):
        if method not in ("GET", "HEAD"):
            self.send(400 if not method else 501, [], b"", False)
            return
        head = method == "HEAD"
        path = urllib.parse.urlsplit(target).path or "/"
        rule = self.rules().get(path)
        if isinstance(rule, dict):
            if rule.get("hang"):
                self.server.stopping.wait()
                return
            file_path = self.file_for(path)
            if "body" in rule:
                body = str(rule["body"]).encode("utf-8")
            elif file_path:
                with open(file_path, "rb") as f:
                    body = f.read()
            else:
                body = b""
            status = int(rule.get("status", 200 if (file_path or "body" in rule) else 404))
            hdrs = list((rule.get("headers") or {}).items())
            if not any(n.lower() == "content-type" for n, _ in hdrs):
                hdrs.append(("Content-Type", self.type_of(file_path or path)))
            self.send(status, hdrs, body, head, rule.get("content_length"), rule.get("truncate"),
                      rule.get("drip"), rule.get("drip_ms"), rule.get("fill"),
                      rule.get("head_drip_ms"))
            if rule.get("stall"):
                self.server.stopping.wait()
            return
        file_path = self.file_for(path)
        if not file_path:
            self.send(404, [("Content-Type", "text/plain")], b"not found\n", head)
            return
        with open(file_path, "rb") as f:
            body = f.read()
        self.send(200, [("Content-Type", self.type_of(file_path))], body, head)

    def type_of(self, path):
        ext = os.path.splitext(path)[1].lower()
        return TYPES.get(ext, "application/octet-stream")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log")
    ap.add_argument("--sent-log")
    ap.add_argument("--rules")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--tls", metavar="PEM", help="serve https with this certificate and key")
    opts = ap.parse_args()
    if not os.path.isdir(opts.root):
        print("kvn_server: no such folder: %s" % opts.root, file=sys.stderr)
        return 2
    server = Server(("127.0.0.1", opts.port), opts)
    if opts.tls:
        import ssl
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(opts.tls)
        # A failed handshake ends in accept() as an OSError, which the
        # server drops: only that connection is lost.
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    return serve_until_stopped(server, opts.port_file, on_stop=server.stopping.set)


if __name__ == "__main__":
    sys.exit(main())
