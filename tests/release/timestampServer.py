#!/usr/bin/python3
"""A throw-away RFC 3161 time-stamping authority on a loopback port.

Usage: /usr/bin/python3 timestampServer.py TSA_CONFIG PORT_FILE [SECONDS]

Answers each POSTed timestamp query with `openssl ts -reply -config
TSA_CONFIG`, writes the port it listens on to PORT_FILE once ready, and
stops by itself after SECONDS (default 600).
"""

import http.server
import os
import subprocess
import sys
import tempfile
import threading


class TimestampHandler(http.server.BaseHTTPRequestHandler):
    config = None

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as work:
            queryFile = os.path.join(work, "query.tsq")
            replyFile = os.path.join(work, "reply.tsr")
            with open(queryFile, "wb") as f:
                f.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                   "-queryfile", queryFile, "-out", replyFile],
                                  stdin=subprocess.DEVNULL, capture_output=True)
            if done.returncode != 0:
                sys.stderr.write(done.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(replyFile, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, fmt, *args):
        sys.stderr.write("timestamp server: " + fmt % args + "\n")


def main():
    if len(sys.argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    TimestampHandler.config = os.path.abspath(sys.argv[1])
    lifetime = float(sys.argv[3]) if len(sys.argv) == 4 else 600.0
    server = http.server.HTTPServer(("127.0.0.1", 0), TimestampHandler)
    timer = threading.Timer(lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    portFile = sys.argv[2]
    with open(portFile + ".tmp", "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(portFile + ".tmp", portFile)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
