#!/usr/bin/env python3
"""A local RFC 3161 time-stamping authority for the release rehearsal: answers each POSTed
time-stamp query with "openssl ts -reply" under the given configuration, on 127.0.0.1.

  timestamp-server.py OPENSSL_TS_CONFIG PORT_FILE LOG_FILE

Listens on a free port, writes it to PORT_FILE once it serves, and logs one line per query.
"""
import http.server
import os
import subprocess
import sys
import tempfile

config, port_file, log_file = sys.argv[1:4]


class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(length)
        with tempfile.TemporaryDirectory() as folder:
            query_path, reply_path = os.path.join(folder, "query.tsq"), os.path.join(folder, "reply.tsr")
            with open(query_path, "wb") as stream:
                stream.write(query)
            answer = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query_path,
                                     "-out", reply_path], capture_output=True, text=True)
            reply = open(reply_path, "rb").read() if answer.returncode == 0 else b""
        with open(log_file, "a", encoding="utf-8") as log:
            log.write("query of %d bytes: %s\n" % (length, "answered" if reply else answer.stderr.strip()))
        if not reply:
            self.send_error(500, "no time-stamp")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *arguments):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
with open(port_file + ".part", "w", encoding="utf-8") as stream:
    stream.write(str(server.server_address[1]))
os.replace(port_file + ".part", port_file)
server.serve_forever()
