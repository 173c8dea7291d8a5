"""What the loopback stand-ins share: a threaded server that keeps its
options, log lines appended whole under one lock, and serving until SIGTERM
or SIGINT with the port written to a file (whole, by a rename) once the
server listens."""
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
