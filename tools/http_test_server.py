#!/usr/bin/env python3
"""A local HTTP server for the download tests (Python standard library only).

Binds 127.0.0.1 on a free port, prints the port on its first output line and serves until its
standard input reaches its end (the test closes it, or the test process dies). Paths:

  /file/N       N bytes, byte i = (i * 31 + 7) & 0xFF, with Content-Length
  /redirect/N   302 to /file/N
  /loop         302 to itself (more redirects than a client follows)
  /nolength     a small body without Content-Length (the connection closes after it)
  anything else 404 with an HTML error page as its body
"""

import http.server
import sys
import threading


def file_body(count):
    return bytes((i * 31 + 7) & 0xFF for i in range(count))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # keep the test output clean
        pass

    def do_HEAD(self):
        self.respond(send_body=False)

    def do_GET(self):
        self.respond(send_body=True)

    def respond(self, send_body):
        parts = self.path.strip("/").split("/")
        if len(parts) == 2 and parts[0] == "file" and parts[1].isdigit():
            body = file_body(int(parts[1]))
            self.send(200, body, send_body, {"Content-Type": "application/octet-stream"})
        elif len(parts) == 2 and parts[0] == "redirect" and parts[1].isdigit():
            self.send(302, b"", send_body, {"Location": "/file/" + parts[1]})
        elif parts == ["loop"]:
            self.send(302, b"", send_body, {"Location": "/loop"})
        elif parts == ["nolength"]:
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Connection", "close")
            self.end_headers()
            if send_body:
                self.wfile.write(b"no length here")
            self.close_connection = True
        else:
            page = b"<html><body>404 page of the test server</body></html>"
            self.send(404, page, send_body, {"Content-Type": "text/html"})

    def send(self, status, body, send_body, headers):
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that abort a transfer on purpose reset the connection: not worth a traceback.
        if not isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            super().handle_error(request, client_address)


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)

    def stop_when_stdin_ends():
        sys.stdin.buffer.read()
        server.shutdown()

    threading.Thread(target=stop_when_stdin_ends, daemon=True).start()
    server.serve_forever()
    server.server_close()


if __name__ == "__main__":
    main()
