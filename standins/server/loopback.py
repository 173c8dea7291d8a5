"""What the loopback stand-ins share: serving until SIGTERM or SIGINT, with the
port written to a file (whole, by a rename) once the server listens."""
import os
import signal
import threading


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
