#!/usr/bin/env python3
"""Small HTTP server for the Wine tests: serves one folder on 127.0.0.1.

Fault injection by the first path segment:
  /404/<path>   answers 404
  /500/<path>   answers 500
  /cut/<path>   announces the whole file's Content-Length, sends half the body, closes
  /slow/<path>  sends the body in small pieces with pauses
  /silent/<path>   reads the request and answers nothing until the client gives up
  /trickle/<path>  sends the body very slowly, but without long gaps
  /cuthalf/<path>  the first request of a path is cut at half; later ones are served, ranges honoured
  /norange/<path>  like cuthalf, but later requests ignore Range and get the whole file (200)
  /busy/<path>     the first two requests of a path get 503 with "Retry-After: 1"
  /redirect/<path> 302 to /<path>
  /loop/<path>     302 to itself
  /tohttp/<path>   302 to http://127.0.0.1:1/<path> (meant for the TLS listeners)
Plain requests honour "Range: bytes=N-" (206, or 416 past the end).
Every request is appended to a log file, one line each: its path alone, or with
--detailed its local time, method, status and path ("2024-05-01 12:00:00.123 GET 200 /x"),
for a person reading what a run fetched. A request with a Range header gets " Range: <value>"
appended to its line.

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

FAULTS = ("404", "500", "cut", "slow", "silent", "trickle", "cuthalf", "norange", "busy", "redirect", "loop",
          "tohttp")
SLOW_CHUNK = 1024
SLOW_PAUSE = 0.05
TRICKLE_CHUNK = 256
TRICKLE_PAUSE = 0.2
SILENT_LIMIT = 300
BUSY_ANSWERS = 2


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    request_log = None
    detailed = False
    log_lock = threading.Lock()
    seen = {}  # (fault, path) -> requests so far, for faults that change with repetition
    seen_lock = threading.Lock()

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
        if self.headers.get("Range"):
            line += " Range: " + self.headers.get("Range")
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

    def count(self, fault, relative):
        with self.seen_lock:
            number = self.seen.get((fault, relative), 0)
            self.seen[(fault, relative)] = number + 1
        return number

    def redirect(self, location):
        self.record(302)
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def stay_silent(self):
        self.record(0)
        self.connection.settimeout(SILENT_LIMIT)
        try:
            while self.connection.recv(1024):
                pass
        except OSError:
            pass
        self.close_connection = True

    def wanted_range(self, size):
        """First byte asked by "Range: bytes=N-", or None for no (usable) range."""
        value = self.headers.get("Range", "")
        if not value.startswith("bytes=") or not value.endswith("-"):
            return None
        try:
            return int(value[6:-1])
        except ValueError:
            return None

    def serve(self):
        fault, relative = self.split_fault()
        if fault == "404":
            return self.send_status(404, "Not Found")
        if fault == "500":
            return self.send_status(500, "Internal Server Error")
        if fault == "silent":
            return self.stay_silent()
        if fault == "loop":
            return self.redirect("/loop/" + relative)
        if fault == "redirect":
            return self.redirect("/" + relative)
        if fault == "tohttp":
            return self.redirect("http://127.0.0.1:1/" + relative)
        repeat = self.count(fault, relative) if fault in ("cuthalf", "norange", "busy") else 0
        if fault == "busy" and repeat < BUSY_ANSWERS:
            self.record(503)
            self.send_response(503)
            self.send_header("Retry-After", "1")
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return
        path = self.local_file(relative)
        if path is None:
            return self.send_status(404, "Not Found")
        with open(path, "rb") as source:
            data = source.read()
        first = None if fault == "norange" else self.wanted_range(len(data))
        if first is not None and first >= len(data):
            return self.send_status(416, "Range Not Satisfiable")
        status = 206 if first is not None else 200
        body = data[first:] if first is not None else data
        self.record(status)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        if first is not None:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, len(data) - 1, len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.command == "HEAD":
            return
        try:
            if fault == "cut" or (fault in ("cuthalf", "norange") and repeat == 0):
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
            elif fault in ("slow", "trickle"):
                chunk, pause = (SLOW_CHUNK, SLOW_PAUSE) if fault == "slow" else (TRICKLE_CHUNK, TRICKLE_PAUSE)
                for start in range(0, len(body), chunk):
                    self.wfile.write(body[start : start + chunk])
                    self.wfile.flush()
                    time.sleep(pause)
            else:
                self.wfile.write(body)
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
