"""A loopback server of range requests for the remote archives' tests and
benchmark: it serves the files of a folder, waits before each answer, counts
what it sends, and misbehaves when told to.

    range_server.py FOLDER [--delay-ms N] [--tls CERT KEY] [--port-file F]

It prints "port N" once it listens. GET /_stats gives {"requests", "bytes",
"ranges", "headers", "most_in_flight"} (each request's headers, the most
answers being made at once) since the last GET /_reset; GET /_misbehave?how=H&count=N makes the
next N answers (default 1) misbehave as H:
  ignore-ranges  200 with the whole file
  wrong-range    the bytes one past those asked for, labelled so
  short-body     the range's Content-Range, but half its body
  changed        a new ETag and Last-Modified, as if the file were replaced
  redirect       307 to the same path on 127.0.0.2 (another host)
  redirect-here  307 to /moved/PATH on this host, which serves PATH
  error          500, with a body
  stall          nothing, for 60 s
"""

import argparse
import json
import os
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.requests = 0
        self.bytes = 0
        self.ranges = []
        self.headers = []
        self.in_flight = 0
        self.most_in_flight = 0
        self.plans = []  # misbehaviours still to come, in order
        self.generation = 0  # bumped by "changed"


def parse_range(header, size):
    """(first, last) of a single "bytes=A-B" range, clamped, or None."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    first, _, last = header[6:].partition("-")
    if not first.isdigit():
        return None
    first = int(first)
    last = int(last) if last.isdigit() else size - 1
    if first > last:
        return None
    return first, min(last, size - 1)


def handler(folder, delay, state):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        disable_nagle_algorithm = True

        def log_message(self, *args):
            pass

        def send_json(self, value):
            body = json.dumps(value).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            if url.path == "/_stats":
                with state.lock:
                    return self.send_json({"requests": state.requests, "bytes": state.bytes,
                                           "ranges": state.ranges, "headers": state.headers,
                                           "most_in_flight": state.most_in_flight})
            if url.path == "/_reset":
                with state.lock:
                    state.requests, state.bytes, state.ranges, state.plans = 0, 0, [], []
                    state.headers, state.most_in_flight = [], 0
                return self.send_json({})
            if url.path == "/_misbehave":
                query = urllib.parse.parse_qs(url.query)
                with state.lock:
                    state.plans += [query["how"][0]] * int(query.get("count", ["1"])[0])
                return self.send_json({})
            with state.lock:
                state.in_flight += 1
                state.most_in_flight = max(state.most_in_flight, state.in_flight)
            try:
                self.serve(url.path)
            finally:
                with state.lock:
                    state.in_flight -= 1

        def serve(self, path):
            time.sleep(delay)
            with state.lock:
                how = state.plans.pop(0) if state.plans else None
                state.requests += 1
                state.headers.append(dict(self.headers))
                if how == "changed":
                    state.generation += 1
                generation = state.generation
            name = path.removeprefix("/moved/").lstrip("/")
            file = os.path.join(folder, urllib.parse.unquote(name))
            if ".." in name.split("/") or not os.path.isfile(file):
                return self.answer(404, {}, b"not found")
            if how == "stall":
                time.sleep(60)
                return
            if how == "error":
                return self.answer(500, {}, b"busy")
            if how in ("redirect", "redirect-here"):
                host = "127.0.0.2" if how == "redirect" else self.headers["Host"].split(":")[0]
                port = self.server.server_address[1]
                scheme = "https" if isinstance(self.connection, ssl.SSLSocket) else "http"
                target = "/" + name if how == "redirect" else "/moved/" + name
                return self.answer(307, {"Location": f"{scheme}://{host}:{port}{target}"}, b"")
            size = os.path.getsize(file)
            headers = {"ETag": f'"{size}-{generation}"',
                       "Last-Modified": time.strftime("%a, %d %b %Y %H:%M:%S GMT",
                                                      time.gmtime(1_700_000_000 + generation)),
                       "Accept-Ranges": "bytes"}
            wanted = None if how == "ignore-ranges" else parse_range(self.headers["Range"], size)
            if self.headers["Range"] and wanted is None and how != "ignore-ranges":
                headers["Content-Range"] = f"bytes */{size}"
                return self.answer(416, headers, b"")
            first, last = wanted or (0, size - 1)
            with open(file, "rb") as f:
                f.seek(first)
                body = f.read(last + 2 - first)  # one more, for wrong-range
            if wanted is None:
                return self.answer(200, headers, body[:size])
            with state.lock:
                state.ranges.append([first, last + 1 - first])
            headers["Content-Range"] = f"bytes {first}-{last}/{size}"
            if how == "wrong-range" and last + 1 < size:
                headers["Content-Range"] = f"bytes {first + 1}-{last + 1}/{size}"
                body = body[1:]
            body = body[:last + 1 - first]
            if how == "short-body":
                body = body[:len(body) // 2]
            return self.answer(206, headers, body)

        def answer(self, status, headers, body):
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            try:
                self.wfile.write(body)
            except (BrokenPipeError, ConnectionResetError):
                pass
            with state.lock:
                state.bytes += len(body)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--delay-ms", type=float, default=0)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--port-file")
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0),
                                 handler(args.folder, args.delay_ms / 1000, State()))
    server.daemon_threads = True
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*args.tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".partial", "w") as f:
            f.write(str(port))
        os.replace(args.port_file + ".partial", args.port_file)
    print(f"port {port}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
