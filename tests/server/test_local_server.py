#!/usr/bin/env python3
"""Checks of the local test server that the program's own tests lean on."""

import http.client
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

SERVER_DIR = Path(__file__).resolve().parents[2] / "server"
sys.path.insert(0, str(SERVER_DIR))
import local_server  # noqa: E402


class DecodeEscapesTest(unittest.TestCase):
    def test_bodies(self):
        cases = [
            ("1", b"1"),
            ("1\\r\\n", b"1\r\n"),
            ("1\\n", b"1\n"),
            ("1\\0tail", b"1\0tail"),
            ("\\xef\\xbb\\xbf1", b"\xef\xbb\xbf1"),
            ("\\x4A\\x4a", b"JJ"),
            ("a\\\\b", b"a\\b"),
            ("\\\\x41", b"\\x41"),
            ("\\t1 ", b"\t1 "),
            ("", b""),
            ("中文", "中文".encode()),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(local_server.decode_escapes(text), expected)

    def test_malformed_escapes_are_refused(self):
        for text in ["\\", "1\\", "\\q", "\\x4", "\\xg1", "\\x+f", "\\x 1"]:
            with self.subTest(text=text), self.assertRaises(ValueError):
                local_server.decode_escapes(text)


class ServerProcess:
    """The server on a free port, started as the program's tests start it."""

    def __init__(self, *arguments):
        self.directory = tempfile.TemporaryDirectory()
        self.ready = Path(self.directory.name) / "ready"
        self.log = Path(self.directory.name) / "requests.log"
        self.process = subprocess.Popen(
            [sys.executable, str(SERVER_DIR / "local_server.py"), "--port", "0",
             "--ready-file", str(self.ready), "--log", str(self.log), *arguments],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not self.ready.exists():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("server did not start: " + self.process.stderr.read().decode())
            time.sleep(0.02)
        self.port = int(self.ready.read_text())

    def get(self, path, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            connection.request("GET", path, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def raw(self, request):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as connection:
            connection.sendall(request)
            connection.shutdown(socket.SHUT_WR)
            data = b""
            while chunk := connection.recv(65536):
                data += chunk
            return data

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=10)
        self.process.stdout.close()
        self.process.stderr.close()
        self.directory.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()


class UpdateDocumentsTest(unittest.TestCase):
    def test_defaults(self):
        with ServerProcess() as server:
            self.assertEqual(server.process.stdout.readline().strip(), str(server.port).encode())
            status, headers, body = server.get("/kestu/713.txt")
            self.assertEqual((status, body, headers["Content-Length"]), (200, b"1", "1"))
            self.assertEqual(headers["Content-Type"], "text/plain")
            status, _, body = server.get("/kestu/dizhi.txt")
            self.assertEqual((status, body), (200, f"http://127.0.0.1:{server.port}/download.html".encode()))
            status, _, body = server.get("/download.html")
            self.assertEqual(status, 200)
            self.assertIn("v3.7".encode(), body)

    def test_switches_shape_the_answers(self):
        with ServerProcess("--flag", "1\\0tail", "--flag-status", "500",
                           "--address", "http://x/\\r\\n", "--address-status", "404") as server:
            status, headers, body = server.get("/kestu/713.txt")
            self.assertEqual((status, body, headers["Content-Length"]), (500, b"1\0tail", "6"))
            self.assertEqual(server.get("/kestu/dizhi.txt")[::2], (404, b"http://x/\r\n"))

    def test_request_targets_that_reach_the_flag(self):
        with ServerProcess("--flag", "F") as server:
            for target in ["/kestu/713.txt", "/kestu/713.txt?x=1", "http://update.example:80/kestu/713.txt",
                           "HTTP://127.0.0.1/kestu/713.txt?x"]:
                with self.subTest(target=target):
                    answer = server.raw(f"GET {target} HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n".encode())
                    self.assertTrue(answer.startswith(b"HTTP/1.1 200 "), answer)
                    self.assertTrue(answer.endswith(b"\r\n\r\nF"), answer)

    def test_missing_document_gets_an_error_page(self):
        with ServerProcess("--missing", "/kestu/713.txt", "--missing", "/flash/130342.htm") as server:
            for path in ["/kestu/713.txt", "/flash/130342.htm", "/no/such/page"]:
                with self.subTest(path=path):
                    status, headers, body = server.get(path)
                    self.assertEqual(status, 404)
                    self.assertTrue(headers["Content-Type"].startswith("text/html"))
                    self.assertIn(b"<html", body)
            self.assertEqual(server.get("/kestu/dizhi.txt")[0], 200)

    def test_stalled_document_keeps_the_connection_open(self):
        with ServerProcess("--flag", "12345", "--stall-after", "2") as server:
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as connection:
                connection.sendall(b"GET /kestu/713.txt HTTP/1.1\r\nHost: a\r\n\r\n")
                received = b""
                while not received.endswith(b"\r\n\r\n12"):
                    chunk = connection.recv(4096)
                    self.assertTrue(chunk, "connection closed early: %r" % received)
                    received += chunk
                self.assertIn(b"Content-Length: 5\r\n", received)
                connection.settimeout(0.5)
                with self.assertRaises(socket.timeout):
                    connection.recv(4096)
            # Other documents are not stalled.
            self.assertEqual(server.get("/flash/about.htm")[0], 200)


class LogTest(unittest.TestCase):
    def test_request_heads_are_logged_as_received(self):
        first = (b"GET /kestu/713.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Odd:  spaced \r\n"
                 b"accept-language: zh-cn\r\nX-Dup: 1\r\nX-Dup: 2\r\n\r\n")
        second = b"POST /echo HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\nConnection: close\r\n\r\n"
        with ServerProcess() as server:
            answer = server.raw(first + second + b"a=1")
            # The log is flushed per request, before the server stops.
            self.assertEqual(server.log.read_bytes(), first + second)
            self.assertTrue(answer.endswith(second + b"a=1"), answer)


class CachingTest(unittest.TestCase):
    def test_sprite_revalidates_with_its_etag(self):
        with ServerProcess() as server:
            status, headers, body = server.get("/flash/sprite.svg")
            self.assertEqual(status, 200)
            self.assertIn("max-age=3600", headers["Cache-Control"])
            self.assertTrue(body.lstrip().startswith(b"<svg"))
            status, _, body = server.get("/flash/sprite.svg", {"If-None-Match": headers["ETag"]})
            self.assertEqual((status, body), (304, b""))
            self.assertEqual(server.get("/flash/sprite.svg", {"If-None-Match": '"other"'})[0], 200)


class GamePageTest(unittest.TestCase):
    def test_pages_need_nothing_from_outside(self):
        with ServerProcess() as server:
            status, _, game = server.get("/flash/130342.htm")
            self.assertEqual(status, 200)
            self.assertLess(len(game), 60 * 1024)
            for needed in [b'<meta charset="utf-8">', b'href="/flash/about.htm"', b"document.cookie", b"/flash/sprite.svg"]:
                self.assertIn(needed, game)
            for path in ["/flash/130342.htm", "/flash/about.htm", "/download.html", "/flash/sprite.svg"]:
                with self.subTest(path=path):
                    body = server.get(path)[2]
                    self.assertNotIn(b"http://", body.replace(b"http://www.w3.org/2000/svg", b""))
                    self.assertNotIn(b"https://", body)
                    self.assertNotIn(b"@import", body)


class LifecycleTest(unittest.TestCase):
    def test_terminates_cleanly_even_with_a_stalled_client(self):
        server = ServerProcess("--stall-after", "0")
        try:
            connection = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            connection.sendall(b"GET /kestu/713.txt HTTP/1.1\r\nHost: a\r\n\r\n")
            connection.recv(4096)
            server.process.send_signal(signal.SIGTERM)
            self.assertEqual(server.process.wait(timeout=10), 0)
            self.assertFalse(server.ready.exists())
            self.assertEqual(server.process.stderr.read(), b"")
            connection.close()
        finally:
            server.stop()

    def test_busy_port_is_reported(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            result = subprocess.run([sys.executable, str(SERVER_DIR / "local_server.py"),
                                     "--port", str(taken.getsockname()[1])],
                                    capture_output=True, timeout=10)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"cannot listen", result.stderr)


if __name__ == "__main__":
    unittest.main()
