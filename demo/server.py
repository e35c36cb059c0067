#!/usr/bin/env python3
"""The demonstration's update server (Python standard library only).

    server.py --port PORT --root FOLDER [--seconds S]

Serves on 127.0.0.1:
  /wp-json/v2/check-update   the file FOLDER/check-update.json, read afresh on every request
                             (the demonstration rewrites it between runs)
  /downloads/<name>          the file FOLDER/downloads/<name>, sent as a paced trickle over
                             about S seconds (default 4) so that the progress bar is seen moving

Every request is written to standard output as one line.
"""
import argparse
import http.server
import os
import sys
import time
import urllib.parse

CHECK_UPDATE = "/wp-json/v2/check-update"
CHUNKS = 40


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "CorvantisDemo/1.0"
    protocol_version = "HTTP/1.0"

    def log_message(self, format, *args):
        sys.stdout.write("%s server: %s\n" % (time.strftime("%H:%M:%S"), format % args))
        sys.stdout.flush()

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        root = self.server.root
        if path == CHECK_UPDATE:
            self.send_file(os.path.join(root, "check-update.json"), "application/json", 0)
            return
        prefix = "/downloads/"
        if path.startswith(prefix):
            name = urllib.parse.unquote(path[len(prefix):])
            if name and "/" not in name and name not in (".", ".."):
                kind = "application/zip" if name.lower().endswith(".zip") else "application/octet-stream"
                self.send_file(os.path.join(root, "downloads", name), kind, self.server.seconds)
                return
        self.send_error(404, "Not Found")

    def send_file(self, path, kind, seconds):
        try:
            with open(path, "rb") as source:
                body = source.read()
        except OSError:
            self.send_error(404, "Not Found")
            return
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if seconds <= 0:
            self.wfile.write(body)
            return
        step = max(1, -(-len(body) // CHUNKS))
        pause = seconds / CHUNKS
        try:
            for offset in range(0, len(body), step):
                self.wfile.write(body[offset:offset + step])
                self.wfile.flush()
                if offset + step < len(body):
                    time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError):
            self.log_message("the client left the download of %s early", os.path.basename(path))


def main():
    parser = argparse.ArgumentParser(description="Demonstration update server")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--seconds", type=float, default=4.0)
    options = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), Handler)
    server.daemon_threads = True
    server.root = os.path.abspath(options.root)
    server.seconds = options.seconds
    sys.stdout.write("%s server: listening on http://127.0.0.1:%d\n"
                     % (time.strftime("%H:%M:%S"), options.port))
    sys.stdout.flush()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
