#!/usr/bin/env python3
"""Serves a folder over HTTP with byte ranges, as a static host serves an
archive to the explorer page: `Range: bytes=A-B` (or `A-`, or `-N`) gets
206 with Content-Range, a range past the end 416, anything else 200.

python3 -m http.server answers every request with the whole file, so the
page would read a whole archive to show one table.

    python3 web/serve.py build/wasm/js --port 8000
"""

import argparse
import functools
import http.server
import os
import re
import sys

RANGE = re.compile(r"^bytes=(\d*)-(\d*)$")


class RangeHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".mjs": "text/javascript", ".wasm": "application/wasm"}

    def send_head(self):
        path = self.translate_path(self.path)
        wanted = RANGE.match(self.headers.get("Range", ""))
        # A range whose last byte comes before its first is no range: the whole file.
        if wanted and all(wanted.groups()) and int(wanted[2]) < int(wanted[1]):
            wanted = None
        if os.path.isdir(path) or not wanted or not os.path.isfile(path):
            return super().send_head()
        length = os.path.getsize(path)
        first, last = wanted.groups()
        if first:
            start, end = int(first), min(int(last) + 1 if last else length, length)
        elif last:
            start, end = max(length - int(last), 0), length
        else:
            start, end = length, length  # "bytes=-" names no byte
        if start >= end:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{length}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        body = open(path, "rb")
        body.seek(start)
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Range", f"bytes {start}-{end - 1}/{length}")
        self.send_header("Content-Length", str(end - start))
        self.end_headers()
        self.remaining = end - start
        return body

    remaining = None  # bytes of a range still to send

    def copyfile(self, source, outputfile):
        remaining = self.remaining
        if remaining is None:
            return super().copyfile(source, outputfile)
        while remaining > 0:
            chunk = source.read(min(remaining, 1 << 16))
            if not chunk:
                break
            outputfile.write(chunk)
            remaining -= len(chunk)

    def end_headers(self):
        self.send_header("Accept-Ranges", "bytes")
        super().end_headers()


def main():
    parser = argparse.ArgumentParser(description="Serve a folder over HTTP with byte ranges.")
    parser.add_argument("folder", help="the folder to serve")
    parser.add_argument("--port", type=int, default=8000, help="the port (0: any free one)")
    parser.add_argument("--bind", default="127.0.0.1", help="the address (default: loopback)")
    arguments = parser.parse_args()
    handler = functools.partial(RangeHandler, directory=arguments.folder)
    with http.server.ThreadingHTTPServer((arguments.bind, arguments.port), handler) as server:
        host, port = server.server_address[:2]
        print(f"serving {arguments.folder} at http://{host}:{port}/", flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            sys.exit(0)


if __name__ == "__main__":
    main()
