#!/usr/bin/env python3
"""Checks of the local stand-in server: files, rules and the request log.

Starts kvn_server.py (beside this file) on an ephemeral loopback port for
each test and speaks raw HTTP to it, so that missing and wrong headers and
short bodies are seen as they go out.
"""
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kvn_server.py")
PROXY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kvn_proxy.py")


def wait_for(predicate, limit=20.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return False


class ServerFixture(unittest.TestCase):
    """The server on its own port, with its folder, rules and log."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kvn-server-")
        self.root = os.path.join(self.dir, "site")
        os.makedirs(os.path.join(self.root, "download"))
        os.makedirs(os.path.join(self.dir, "private"))
        with open(os.path.join(self.dir, "private", "secret.txt"), "w") as f:
            f.write("secret")
        self.rules = os.path.join(self.dir, "rules.json")
        self.log = os.path.join(self.dir, "server.log")
        port_file = os.path.join(self.dir, "port")
        self.set_rules({})
        self.proc = subprocess.Popen(
            [sys.executable, SERVER, "--root", self.root, "--port", "0", "--port-file", port_file,
             "--log", self.log, "--rules", self.rules])
        self.assertTrue(wait_for(lambda: os.path.exists(port_file) or self.proc.poll() is not None))
        self.assertIsNone(self.proc.poll(), "the server did not start")
        with open(port_file) as f:
            self.port = int(f.read())

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def put(self, rel, data):
        with open(os.path.join(self.root, rel), "wb") as f:
            f.write(data)

    def log_text(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return f.read()
        except OSError:
            return ""

    def set_rules(self, rules):
        with open(self.rules, "w", encoding="utf-8") as f:
            json.dump(rules, f)

    def connect(self, target, method="GET"):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        s.sendall(("%s %s HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: KVN\r\n"
                   "Pragma: no-cache\r\n\r\n" % (method, target)).encode("latin-1"))
        return s

    def request(self, target, method="GET"):
        """(status, headers with lower-case names, body) read until the server closes."""
        with self.connect(target, method) as s:
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        status = int(lines[0].split()[1])
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return status, headers, body


class ServerTest(ServerFixture):
    def test_files_are_served_with_their_length_and_nothing_outside_the_root(self):
        self.put("download/LoginExeVersionInfo.ini", b"[VersionInfo]\r\nVersionNumber=3\r\n")
        status, headers, body = self.request("/download/LoginExeVersionInfo.ini")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-length"], str(len(body)))
        self.assertEqual(body, b"[VersionInfo]\r\nVersionNumber=3\r\n")
        self.assertEqual(headers["content-type"], "text/plain")
        self.assertEqual(self.request("/download/none.ini")[0], 404)
        for target in ("/../private/secret.txt", "/download/%2e%2e/%2e%2e/private/secret.txt"):
            status, _, body = self.request(target)
            self.assertEqual(status, 404, target)
            self.assertNotIn(b"secret", body)
        status, headers, body = self.request("/download/LoginExeVersionInfo.ini", "HEAD")
        self.assertEqual((status, body), (200, b""))
        self.assertEqual(headers["content-length"], "32")

    def test_length_rules(self):
        self.put("download/Login.exe", b"0123456789")
        cases = {"missing": None, "zero": "0", "wrong": "27", 4: "4"}
        for rule, header in cases.items():
            self.set_rules({"/download/Login.exe": {"content_length": rule}})
            status, headers, body = self.request("/download/Login.exe")
            self.assertEqual(status, 200, rule)
            self.assertEqual(headers.get("content-length"), header, rule)
            self.assertEqual(body, b"0123456789", rule)  # the body itself is whole

    def test_a_filled_body_is_made_as_it_is_sent_with_an_honest_length(self):
        self.set_rules({"/download/big.ini": {"body": "[VersionInfo]", "fill": 200000}})
        status, headers, body = self.request("/download/big.ini")
        self.assertEqual(status, 200)
        self.assertEqual(headers.get("content-length"), "200013")
        self.assertEqual(body, b"[VersionInfo]" + b";" * 200000)

    def test_truncate_status_headers_and_body_rules(self):
        self.set_rules({"/download/Login.exe": {"body": "0123456789", "truncate": 3},
                        "/download/LauncherDlg.bmp": {"status": 302,
                                                      "headers": {"Location": "/elsewhere"}},
                        "/micro/": {"body": "游戏", "headers": {"Content-Type": "text/x-test"}}})
        status, headers, body = self.request("/download/Login.exe")
        self.assertEqual((status, headers["content-length"], body), (200, "10", b"012"))
        self.set_rules({"/download/Login.exe": {"body": "0123456789", "drip": 4}})
        self.assertEqual(self.request("/download/Login.exe")[2], b"0123456789")
        # A head that trickles is still the whole head.
        self.set_rules({"/download/Login.exe": {"body": "0123456789", "head_drip_ms": 1}})
        status, headers, body = self.request("/download/Login.exe")
        self.assertEqual((status, headers["content-length"], body), (200, "10", b"0123456789"))
        self.set_rules({"/download/Login.exe": {"body": "0123456789", "truncate": 3},
                        "/download/LauncherDlg.bmp": {"status": 302,
                                                      "headers": {"Location": "/elsewhere"}},
                        "/micro/": {"body": "游戏", "headers": {"Content-Type": "text/x-test"}}})
        status, headers, body = self.request("/download/LauncherDlg.bmp")
        self.assertEqual((status, headers["location"], body), (302, "/elsewhere", b""))
        status, headers, body = self.request("/micro/")
        self.assertEqual((status, headers["content-type"], body), (200, "text/x-test", "游戏".encode()))
        # Rules are read again for every request.
        self.set_rules({})
        self.assertEqual(self.request("/download/LauncherDlg.bmp")[0], 404)

    def test_a_hanging_answer_holds_only_its_own_connection(self):
        self.put("download/a.ini", b"a")
        self.set_rules({"/download/hang.ini": {"hang": True}})
        hanging = self.connect("/download/hang.ini")
        try:
            self.assertTrue(wait_for(lambda: "hang.ini" in self.log_text()))
            self.assertEqual(self.request("/download/a.ini")[2], b"a")
            readable, _, _ = select.select([hanging], [], [], 0)
            self.assertEqual(readable, [])
            # A stalled answer: the head and part of the body, then silence.
            self.set_rules({"/download/stall.ini": {"body": "0123456789", "truncate": 4,
                                                    "stall": True}})
            with self.connect("/download/stall.ini") as stalled:
                data = b""
                while not data.endswith(b"0123"):
                    data += stalled.recv(4096)
                self.request("/download/a.ini")
                readable, _, _ = select.select([stalled], [], [], 0)
                self.assertEqual(readable, [])
            # It still stops when asked to.
            self.proc.terminate()
            self.assertEqual(self.proc.wait(10), 0)
        finally:
            hanging.close()

    def test_each_request_is_one_json_log_line(self):
        self.put("download/a.ini", b"a")
        self.request("/download/a.ini?x=1&y=%E6%B8%B8")
        self.request("/missing", "HEAD")
        with open(self.log, encoding="utf-8") as f:
            entries = [json.loads(line) for line in f]
        self.assertEqual(len(entries), 2)
        self.assertEqual(entries[0]["method"], "GET")
        self.assertEqual(entries[0]["target"], "/download/a.ini?x=1&y=%E6%B8%B8")
        self.assertEqual(entries[0]["version"], "HTTP/1.0")
        self.assertEqual(entries[0]["headers"],
                         {"Host": "127.0.0.1", "User-Agent": "KVN", "Pragma": "no-cache"})
        self.assertEqual(entries[1]["method"], "HEAD")


class ProxyTest(ServerFixture):
    """The forward proxy stand-in in front of the server."""

    def setUp(self):
        super().setUp()
        port_file = os.path.join(self.dir, "proxy-port")
        self.proxy_log = os.path.join(self.dir, "proxy.log")
        self.proxy = subprocess.Popen([sys.executable, PROXY, "--port", "0", "--port-file", port_file,
                                       "--log", self.proxy_log])
        self.assertTrue(wait_for(lambda: os.path.exists(port_file) or self.proxy.poll() is not None))
        self.assertIsNone(self.proxy.poll(), "the proxy did not start")
        with open(port_file) as f:
            self.proxy_port = int(f.read())

    def tearDown(self):
        self.proxy.terminate()
        self.proxy.wait(10)
        super().tearDown()

    def via_proxy(self, head):
        with socket.create_connection(("127.0.0.1", self.proxy_port), timeout=10) as s:
            s.sendall(head.encode("latin-1"))
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        return data

    def test_absolute_requests_and_tunnels_reach_loopback_only(self):
        self.put("download/a.ini", b"[VersionInfo]")
        origin = "127.0.0.1:%d" % self.port
        got = self.via_proxy("GET http://%s/download/a.ini?x=1 HTTP/1.0\r\nHost: %s\r\n"
                             "Proxy-Connection: Keep-Alive\r\n\r\n" % (origin, origin))
        self.assertTrue(got.startswith(b"HTTP/1.1 200 "), got)
        self.assertTrue(got.endswith(b"\r\n\r\n[VersionInfo]"), got)
        got = self.via_proxy("CONNECT %s HTTP/1.1\r\nHost: %s\r\n\r\n"
                             "GET /download/a.ini HTTP/1.0\r\n\r\n" % (origin, origin))
        self.assertTrue(got.startswith(b"HTTP/1.1 200 Connection established\r\n\r\nHTTP/1.1 200 "), got)
        self.assertTrue(got.endswith(b"[VersionInfo]"), got)
        self.assertTrue(self.via_proxy("GET http://192.0.2.1/ HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.1 403"))
        self.assertTrue(self.via_proxy("GET http://127.0.0.1:1/ HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.1 502"))
        with open(self.proxy_log, encoding="utf-8") as f:
            targets = [json.loads(line)["target"] for line in f]
        self.assertEqual(targets, ["http://%s/download/a.ini?x=1" % origin, origin,
                                   "http://192.0.2.1/", "http://127.0.0.1:1/"])
        with open(self.log, encoding="utf-8") as f:
            passed = [json.loads(line) for line in f]
        # The server sees the path form, marked, without the proxy's own headers.
        self.assertEqual(passed[0]["target"], "/download/a.ini?x=1")
        self.assertEqual(passed[0]["headers"], {"Host": origin, "Via": "1.1 kvn-proxy",
                                                "Connection": "close"})
        self.assertEqual(passed[1]["target"], "/download/a.ini")
        self.assertEqual(len(passed), 2)


if __name__ == "__main__":
    unittest.main()
