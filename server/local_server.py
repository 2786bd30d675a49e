#!/usr/bin/env python3
"""Local stand-in for the update server and the game portal, for running and testing qingyou."""

import argparse
import os
import select
import signal
import sys
import threading
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

FLAG_PATH = "/kestu/713.txt"
ADDRESS_PATH = "/kestu/dizhi.txt"
UPDATE_PATHS = (FLAG_PATH, ADDRESS_PATH)
ECHO_PATH = "/echo"
DEFAULT_PORT = 8713
WWW = Path(__file__).resolve().parent / "www"

HTML = "text/html; charset=utf-8"
NO_CACHE = "no-cache"
# path -> (file under www/, content type, cache policy, has an ETag)
STATIC_FILES = {
    "/download.html": ("download.html", HTML, NO_CACHE, False),
    "/download/qingyou-v3.7.txt": ("download/qingyou-v3.7.txt", "text/plain; charset=utf-8", NO_CACHE, False),
    "/flash/130342.htm": ("flash/130342.htm", HTML, NO_CACHE, False),
    "/flash/about.htm": ("flash/about.htm", HTML, NO_CACHE, False),
    "/flash/sprite.svg": ("flash/sprite.svg", "image/svg+xml", "max-age=3600", True),
}

NOT_FOUND_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>404 找不到页面</title></head>
<body><h1>404 Not Found</h1><p>找不到页面：{path}</p></body></html>
"""

_SIMPLE_ESCAPES = {ord("\\"): b"\\", ord("r"): b"\r", ord("n"): b"\n", ord("t"): b"\t", ord("0"): b"\0"}


def decode_escapes(text):
    """Bytes of a command-line body: \\r \\n \\t \\0 \\\\ and \\xHH; other bytes pass through as given."""
    raw = os.fsencode(text)
    out = bytearray()
    i = 0
    while i < len(raw):
        byte = raw[i]
        if byte != ord("\\"):
            out.append(byte)
            i += 1
            continue
        if i + 1 >= len(raw):
            raise ValueError("lone backslash at the end")
        kind = raw[i + 1]
        if kind in _SIMPLE_ESCAPES:
            out += _SIMPLE_ESCAPES[kind]
            i += 2
        elif kind == ord("x"):
            digits = raw[i + 2:i + 4]
            # int() alone would accept "+f" or " f".
            if len(digits) != 2 or not all(c in b"0123456789abcdefABCDEF" for c in digits):
                raise ValueError("\\x needs two hex digits")
            out.append(int(digits, 16))
            i += 4
        else:
            raise ValueError(f"unknown escape \\{chr(kind)} (write \\\\ for a backslash)")
    return bytes(out)


def escaped_body(text):
    try:
        return decode_escapes(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def status_code(text):
    code = int(text)
    if not 200 <= code <= 599:
        raise argparse.ArgumentTypeError("status must be 200..599")
    return code


def non_negative(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative")
    return value


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description="Serves the update documents, a download page and the demo game page on 127.0.0.1.",
        epilog="BODY values take the escapes \\r \\n \\t \\0 \\\\ and \\xHH. "
               "The log holds each request head exactly as received: request line, header lines, blank line. "
               f"{ECHO_PATH} answers with the request head and body it received.")
    parser.add_argument("--port", type=non_negative, default=DEFAULT_PORT,
                        help=f"port to listen on (default {DEFAULT_PORT}); 0 picks a free port and prints it")
    parser.add_argument("--flag", type=escaped_body, default=b"1", metavar="BODY",
                        help=f"body of {FLAG_PATH} (default: the single byte 1)")
    parser.add_argument("--flag-status", type=status_code, default=200, metavar="CODE",
                        help=f"HTTP status of {FLAG_PATH} (default 200)")
    parser.add_argument("--address", type=escaped_body, default=None, metavar="BODY",
                        help=f"body of {ADDRESS_PATH} (default: http://127.0.0.1:PORT/download.html)")
    parser.add_argument("--address-status", type=status_code, default=200, metavar="CODE",
                        help=f"HTTP status of {ADDRESS_PATH} (default 200)")
    parser.add_argument("--missing", action="append", default=[], metavar="PATH",
                        help="answer PATH with 404 and an HTML error page (repeatable)")
    parser.add_argument("--delay-ms", type=non_negative, default=0, metavar="N",
                        help="wait N milliseconds before answering each update document")
    parser.add_argument("--stall-after", type=non_negative, default=None, metavar="BYTES",
                        help="send the headers and BYTES bytes of the body of each update document, "
                             "then send nothing more and keep the connection open")
    parser.add_argument("--stall-path", action="append", default=[], metavar="PATH",
                        help="apply --stall-after to PATH instead of the update documents (repeatable)")
    parser.add_argument("--log", type=Path, default=None, metavar="FILE",
                        help="append each request head to FILE, flushed after each request")
    parser.add_argument("--ready-file", type=Path, default=None, metavar="FILE",
                        help="write the port number to FILE once the socket listens; removed at exit")
    parser.add_argument("--verbose", action="store_true", help="print a line per request on stderr")
    return parser.parse_args(argv)


class LocalServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, options):
        # server_close() runs inside the base constructor when binding fails.
        self.options = options
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()
        self.log_file = None
        super().__init__(("127.0.0.1", options.port), RequestHandler)
        if options.log:
            self.log_file = open(options.log, "ab")
        self.address_body = options.address
        if self.address_body is None:
            self.address_body = f"http://127.0.0.1:{self.server_port}/download.html".encode()
        self.stall_paths = set(options.stall_path or UPDATE_PATHS)
        self.files = {path: (WWW / name).read_bytes() for path, (name, *_rest) in STATIC_FILES.items()}

    def record_request_head(self, head):
        if self.log_file is None:
            return
        with self.log_lock:
            self.log_file.write(head)
            self.log_file.flush()

    def server_close(self):
        self.stopping.set()
        super().server_close()
        if self.log_file is not None:
            self.log_file.close()


class _RecordingReader:
    """Passes readline through and keeps every line, so the head can be logged byte for byte."""

    def __init__(self, stream):
        self.stream = stream
        self.lines = []

    def readline(self, *args):
        line = self.stream.readline(*args)
        self.lines.append(line)
        return line

    def __getattr__(self, name):
        return getattr(self.stream, name)


class RequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "qingyou-local-server/1.0"

    def version_string(self):
        return self.server_version

    def parse_request(self):
        stream = self.rfile
        recorder = _RecordingReader(stream)
        self.rfile = recorder
        try:
            parsed = super().parse_request()
        finally:
            self.rfile = stream
        head = self.raw_requestline + b"".join(recorder.lines)
        self.raw_head = head
        # A request rejected before its headers were read still gets its closing blank line in the log.
        if not head.endswith((b"\r\n\r\n", b"\n\n", b"\n\r\n")):
            head += b"\r\n"
        self.server.record_request_head(head)
        return parsed

    def log_message(self, format, *args):
        if self.server.options.verbose:
            super().log_message(format, *args)

    def do_GET(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_POST(self):
        self.answer(send_body=True)

    def read_request_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline()
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = 0
        return self.rfile.read(length) if length > 0 else b""

    def answer(self, send_body):
        server = self.server
        options = server.options
        request_body = self.read_request_body()
        path = self.path
        # A client told to use this server as its HTTP proxy sends the whole address.
        if path.lower().startswith("http://"):
            path = "/" + path[len("http://"):].partition("/")[2]
        path = path.split("?", 1)[0].split("#", 1)[0]

        if path in UPDATE_PATHS and options.delay_ms:
            if server.stopping.wait(options.delay_ms / 1000):
                self.close_connection = True
                return

        headers = {}
        if path in options.missing:
            status, body, content_type = 404, NOT_FOUND_PAGE.format(path=path).encode(), HTML
        elif path == FLAG_PATH:
            status, body, content_type = options.flag_status, options.flag, "text/plain"
            headers["Cache-Control"] = "no-store"
        elif path == ADDRESS_PATH:
            status, body, content_type = options.address_status, server.address_body, "text/plain"
            headers["Cache-Control"] = "no-store"
        elif path == ECHO_PATH:
            status, body, content_type = 200, self.raw_head + request_body, "application/octet-stream"
            headers["Cache-Control"] = "no-store"
        elif path in STATIC_FILES:
            _name, content_type, cache, with_etag = STATIC_FILES[path]
            status, body = 200, server.files[path]
            headers["Cache-Control"] = cache
            if with_etag:
                etag = f'"{len(body):x}-{zlib.crc32(body):08x}"'
                headers["ETag"] = etag
                if etag in (tag.strip() for tag in self.headers.get("If-None-Match", "").split(",")):
                    status, body = 304, b""
        else:
            status, body, content_type = 404, NOT_FOUND_PAGE.format(path=path).encode(), HTML

        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for name, value in headers.items():
            self.send_header(name, value)
        # 204 and 304 answers carry no body, so they carry no length either.
        if status in (204, 304):
            body = b""
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not send_body:
            return
        if options.stall_after is not None and path in server.stall_paths:
            self.wfile.write(body[:options.stall_after])
            self.wfile.flush()
            self.stall()
            return
        self.wfile.write(body)

    def stall(self):
        """Hold the connection open without sending until the client hangs up or the server stops."""
        self.close_connection = True
        connection = self.connection
        while not self.server.stopping.is_set():
            readable, _, _ = select.select([connection], [], [], 0.2)
            if readable:
                try:
                    if not connection.recv(4096):
                        return
                except OSError:
                    return


def write_ready_file(path, port):
    temporary = path.with_name(path.name + ".tmp")
    temporary.write_text(f"{port}\n")
    os.replace(temporary, path)


def main(argv=None):
    options = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        server = LocalServer(options)
    except OSError as error:
        print(f"local_server: cannot listen on 127.0.0.1:{options.port}: {error.strerror}", file=sys.stderr)
        return 1

    def request_stop(_signum, _frame):
        # shutdown() waits for serve_forever(), which runs on this very thread.
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)

    if options.port == 0:
        print(server.server_port, flush=True)
    if options.verbose:
        print(f"local_server: listening on http://127.0.0.1:{server.server_port}/", file=sys.stderr)
    if options.ready_file:
        write_ready_file(options.ready_file, server.server_port)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        if options.ready_file:
            options.ready_file.unlink(missing_ok=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
