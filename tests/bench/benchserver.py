#!/usr/bin/env python3
"""HTTP servers of scripts/bench.sh (never used by the tests).

  benchserver.py cut ROOT PORTFILE LOG
      Serves ROOT on 127.0.0.1. The first GET of each file announces the whole length,
      sends half of the body and closes the connection, as a dropped line would; every
      later request is answered in full, or from the offset a "Range: bytes=N-" header asks
      for (206). LOG gets one line per request: "PATH STATUS BYTES_SENT".
  benchserver.py silent PORTFILE
      Accepts connections on 127.0.0.1 and never answers, as a server that hangs would.
The chosen port is written to PORTFILE once the server listens.
"""
import http.server
import os
import re
import socket
import socketserver
import sys
import threading
import urllib.parse

CHUNK = 1024 * 1024


class CutHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    log_path = None
    served = set()
    lock = threading.Lock()

    def log_message(self, *args):
        pass

    def record(self, status, sent):
        with self.lock:
            with open(self.log_path, "a") as log:
                log.write("%s %d %d\n" % (self.path, status, sent))

    def do_GET(self):
        relative = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path).lstrip("/")
        path = os.path.realpath(os.path.join(self.root, relative))
        if not path.startswith(os.path.realpath(self.root) + os.sep) or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return self.record(404, 0)
        size = os.path.getsize(path)
        start = 0
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", "").strip())
        if match and int(match.group(1)) < size:
            start = int(match.group(1))
        with self.lock:
            first = path not in self.served
            self.served.add(path)
        status = 206 if start else 200
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size - start))
        self.send_header("Accept-Ranges", "bytes")
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        end = start + (size - start) // 2 if first else size
        sent = 0
        try:
            with open(path, "rb") as source:
                source.seek(start)
                while start + sent < end:
                    data = source.read(min(CHUNK, end - start - sent))
                    if not data:
                        break
                    self.wfile.write(data)
                    sent += len(data)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.record(status, sent)
        if first:
            self.connection.shutdown(socket.SHUT_RDWR)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def write_port(port_file, port):
    with open(port_file + ".tmp", "w") as out:
        out.write(str(port))
    os.replace(port_file + ".tmp", port_file)


def serve_silently(port_file):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    write_port(port_file, listener.getsockname()[1])
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)  # kept open, never read or answered


def main():
    if sys.argv[1] == "silent":
        return serve_silently(sys.argv[2])
    CutHandler.root, port_file, CutHandler.log_path = sys.argv[2:5]
    open(CutHandler.log_path, "a").close()
    server = Server(("127.0.0.1", 0), CutHandler)
    write_port(port_file, server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
