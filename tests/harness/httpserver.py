#!/usr/bin/env python3
"""Small HTTP server for the Wine tests: serves one folder on 127.0.0.1.

Fault injection by the first path segment:
  /404/<path>   answers 404
  /500/<path>   answers 500
  /cut/<path>   announces the whole file's Content-Length, sends half the body, closes
  /slow/<path>  sends the body in small pieces with pauses
Every request is appended to a log file, one line each: its path alone, or with
--detailed its local time, method, status and path ("2024-05-01 12:00:00.123 GET 200 /x"),
for a person reading what a run fetched.

Usage: httpserver.py [--detailed] ROOT PORTFILE REQUESTLOG [PORT]
       httpserver.py [--detailed] --tls NAME CHAIN KEY [--tls ...] ROOT PORTFILE REQUESTLOG
The chosen port is written to PORTFILE once the server listens. With --tls the same folder
is served over TLS instead, on one free port per NAME, each presenting its own certificate
chain (PEM, server certificate first) and key; PORTFILE then gets one "NAME PORT" line each.
"""
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

FAULTS = ("404", "500", "cut", "slow")
SLOW_CHUNK = 1024
SLOW_PAUSE = 0.05


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    request_log = None
    detailed = False
    log_lock = threading.Lock()

    def log_message(self, *args):  # keep the terminal quiet
        pass

    def record(self, status):
        if not self.request_log:
            return
        line = self.path
        if self.detailed:
            now = time.time()
            stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(now)) + ".%03d" % (int(now * 1000) % 1000)
            line = "%s %s %d %s" % (stamp, self.command, status, self.path)
        with self.log_lock:
            with open(self.request_log, "a", encoding="utf-8") as log:
                log.write(line + "\n")

    def split_fault(self):
        path = urllib.parse.urlsplit(self.path).path
        parts = path.lstrip("/").split("/", 1)
        if len(parts) == 2 and parts[0] in FAULTS:
            return parts[0], parts[1]
        return None, path.lstrip("/")

    def local_file(self, relative):
        relative = urllib.parse.unquote(relative)
        full = os.path.realpath(os.path.join(self.root, relative))
        root = os.path.realpath(self.root)
        if full != root and not full.startswith(root + os.sep):
            return None
        return full if os.path.isfile(full) else None

    def send_status(self, code, text):
        self.record(code)
        body = ("%d %s\n" % (code, text)).encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True

    def serve(self):
        fault, relative = self.split_fault()
        if fault == "404":
            return self.send_status(404, "Not Found")
        if fault == "500":
            return self.send_status(500, "Internal Server Error")
        path = self.local_file(relative)
        if path is None:
            return self.send_status(404, "Not Found")
        with open(path, "rb") as source:
            data = source.read()
        self.record(200)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.command == "HEAD":
            return
        try:
            if fault == "cut":
                self.wfile.write(data[: len(data) // 2])
                self.wfile.flush()
            elif fault == "slow":
                for start in range(0, len(data), SLOW_CHUNK):
                    self.wfile.write(data[start : start + SLOW_CHUNK])
                    self.wfile.flush()
                    time.sleep(SLOW_PAUSE)
            else:
                self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_GET(self):
        self.serve()

    def do_HEAD(self):
        self.serve()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def write_atomically(path, text):
    with open(path + ".tmp", "w") as out:
        out.write(text)
    os.replace(path + ".tmp", path)


def tls_server(chain, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(chain, key)
    server = Server(("127.0.0.1", 0), Handler)
    # A client that refuses the certificate ends the handshake; that must not end the server.
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=True)
    return server


def serve_tls(listeners, port_file):
    servers = [(name, tls_server(chain, key)) for name, chain, key in listeners]
    write_atomically(port_file, "".join("%s %d\n" % (name, s.server_address[1]) for name, s in servers))
    for _, server in servers[1:]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    servers[0][1].serve_forever()


def main():
    arguments = sys.argv[1:]
    listeners = []
    while arguments and arguments[0] in ("--detailed", "--tls"):
        if arguments[0] == "--detailed":
            Handler.detailed = True
            arguments = arguments[1:]
        else:
            listeners.append(tuple(arguments[1:4]))
            arguments = arguments[4:]
    root, port_file, request_log = arguments[0:3]
    # An optional fourth argument asks for a fixed port (the build's update server).
    wanted_port = int(arguments[3]) if len(arguments) > 3 else 0
    os.makedirs(root, exist_ok=True)
    Handler.root = root
    Handler.request_log = request_log
    if listeners:
        return serve_tls(listeners, port_file)
    server = Server(("127.0.0.1", wanted_port), Handler)
    write_atomically(port_file, str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
