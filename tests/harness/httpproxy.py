#!/usr/bin/env python3
"""Small forwarding HTTP proxy for the Wine tests.

Takes requests in absolute form ("GET http://host:port/path HTTP/1.1"), as a client set up
to use a proxy sends them, and forwards each to 127.0.0.1 on the port the address names,
whatever its host name: a test may address the server by a name no resolver knows, so a
request that arrives proves that the client went through the proxy. It never connects
anywhere but the loopback address. Every proxied request is appended to a log file, one
line each: the method and the address as the client sent it ("GET http://x:8080/a").

Usage: httpproxy.py PORTFILE REQUESTLOG
The chosen port is written to PORTFILE once the proxy listens.
"""
import http.client
import http.server
import os
import socketserver
import sys
import threading
import urllib.parse

HOP_BY_HOP = {"connection", "keep-alive", "proxy-connection", "proxy-authorization", "te", "trailer",
              "transfer-encoding", "upgrade"}
CHUNK = 64 * 1024


class Proxy(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    request_log = None
    log_lock = threading.Lock()

    def log_message(self, *args):  # keep the terminal quiet
        pass

    def record(self):
        with self.log_lock:
            with open(self.request_log, "a", encoding="utf-8") as log:
                log.write("%s %s\n" % (self.command, self.path))

    def forward(self):
        address = urllib.parse.urlsplit(self.path)
        if address.scheme != "http" or not address.port:
            self.send_error(400, "absolute http address with a port expected")
            return
        self.record()
        target = address.path or "/"
        if address.query:
            target += "?" + address.query
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_BY_HOP}
        length = int(self.headers.get("Content-Length", 0) or 0)
        body = self.rfile.read(length) if length else None
        upstream = http.client.HTTPConnection("127.0.0.1", address.port, timeout=120)
        try:
            upstream.request(self.command, target, body=body, headers=headers)
            reply = upstream.getresponse()
            self.send_response(reply.status, reply.reason)
            for name, value in reply.getheaders():
                if name.lower() not in HOP_BY_HOP:
                    self.send_header(name, value)
            self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                while True:
                    chunk = reply.read(CHUNK)
                    if not chunk:
                        break
                    self.wfile.write(chunk)
        except (OSError, http.client.HTTPException):
            self.close_connection = True
        finally:
            upstream.close()
        # One request per connection: bodies of unknown length end with it.
        self.close_connection = True

    do_GET = forward
    do_HEAD = forward


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    port_file, request_log = sys.argv[1], sys.argv[2]
    Proxy.request_log = request_log
    open(request_log, "a").close()
    server = Server(("127.0.0.1", 0), Proxy)
    with open(port_file + ".tmp", "w") as out:
        out.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
