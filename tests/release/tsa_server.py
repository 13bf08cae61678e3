#!/usr/bin/env python3
"""A time-stamp authority on 127.0.0.1 for the release test.

Usage: tsa_server.py CONFIG

Answers RFC 3161 queries posted over HTTP with `openssl ts -reply -config
CONFIG`, on a free port that it prints as its first line. Two paths play
broken servers: /garbage answers with bytes that are no time-stamp reply,
/silent takes the query and never answers. Ends when killed or when the
process that started it has gone, so a test that dies leaves no server behind.
"""

import http.server
import os
import subprocess
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    config = ""

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path == "/silent":
            time.sleep(3600)
            return
        if self.path == "/garbage":
            body = b"this is no time-stamp reply"
        else:
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", self.config,
                 "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
                input=query, capture_output=True)
            if reply.returncode != 0:
                sys.stderr.write(reply.stderr.decode(errors="replace"))
                self.send_error(500)
                return
            body = reply.stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def end_with_parent():
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(1)
    os._exit(0)


def main():
    Handler.config = sys.argv[1]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=end_with_parent, daemon=True).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
