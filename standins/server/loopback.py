"""What the loopback stand-ins share: a threaded server that keeps its
options, log lines appended whole under one lock, and serving until SIGTERM
or SIGINT with the port written to a file (whole, by a rename) once the
server listens."""
import json
import os
import signal
import socketserver
import threading


class LoopbackServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, addr, handler, opts):
        super().__init__(addr, handler)
        self.opts = opts
        self.log_lock = threading.Lock()

    def append_line(self, path, line):
        """Appends one line to a log; lines of concurrent requests never mix."""
        with self.log_lock:
            with open(path, "a", encoding="utf-8") as f:
                f.write(line + "\n")


class RequestHandler(socketserver.StreamRequestHandler):
    """One HTTP request a connection; a broken connection ends it quietly."""

    def handle(self):
        try:
            self.serve_one()
        except (OSError, ValueError):
            pass

    def read_head(self):
        """The request line split at blanks, and the header fields as (name,
        value) pairs; None when the client sent nothing."""
        line = self.rfile.readline(65537)
        if not line:
            return None
        parts = line.decode("latin-1").rstrip("\r\n").split()
        headers = []
        while True:
            h = self.rfile.readline(65537)
            if not h or h in (b"\r\n", b"\n"):
                break
            text = h.decode("latin-1").rstrip("\r\n")
            if ":" in text:
                name, value = text.split(":", 1)
                headers.append((name, value.strip()))
        return parts, headers

    def write_log(self, method, target, version, headers):
        """One JSON line a request in the --log file, if there is one."""
        path = self.server.opts.log
        if not path:
            return
        entry = json.dumps({"method": method, "target": target, "version": version,
                            "headers": {n: v for n, v in headers}}, ensure_ascii=False)
        self.server.append_line(path, entry)


def serve_until_stopped(server, port_file, on_stop=None):
    """Serves until a SIGTERM or SIGINT; on_stop runs first when one comes."""
    def stop(*_):
        if on_stop:
            on_stop()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(tmp, port_file)
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0
