"""HTTP or HTTPS test server on 127.0.0.1 for the checking engine's tests.

Serves the files of --root exactly as they lie on disk (the tests change them between
checks). Paths:
  /<file>               the file; a missing file gives 404 with a small HTML body
  /redirect/<file>      302 to /<file>
  /private/<file>       the file, behind HTTP Basic authentication with --user/--password
  /flaky/<file>         the file, or, while a file <file>.status holds a number, that status
                        with a small HTML body
Every accepted connection adds a line to the file .connections of --root.

--port 0 takes a free port. Prints "READY <port>" on stdout when listening, nothing else;
logs go to stderr. Ends on SIGTERM.
"""

import argparse
import base64
import os
import signal
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    args = parser.parse_args()
    root = os.path.realpath(args.root)

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *fmt_args):
            sys.stderr.write("http_server: " + (fmt % fmt_args) + "\n")

        def send_body(self, code, body, content_type="application/octet-stream", extra=None):
            self.send_response(code)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            for name, value in (extra or {}).items():
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)

        def serve_file(self, rel):
            path = os.path.realpath(os.path.join(root, rel))
            if not path.startswith(root + os.sep) or not os.path.isfile(path):
                self.send_body(404, b"<html><body>404 Not Found</body></html>\n", "text/html")
                return
            with open(path, "rb") as f:
                body = f.read()
            self.send_body(200, body)

        def authorised(self):
            expected = base64.b64encode(
                (args.user + ":" + args.password).encode("latin-1")).decode("ascii")
            return self.headers.get("Authorization", "") == "Basic " + expected

        def setup(self):
            super().setup()
            with open(os.path.join(root, ".connections"), "a") as log:
                log.write("connection\n")

        def do_GET(self):
            path = urllib.parse.unquote(self.path.split("?", 1)[0])
            if path.startswith("/flaky/"):
                rel = path[len("/flaky/"):]
                status = os.path.join(root, rel + ".status")
                if os.path.isfile(status):
                    with open(status) as f:
                        code = int(f.read().strip())
                    self.send_body(code, b"<html><body>failing</body></html>\n", "text/html")
                else:
                    self.serve_file(rel)
            elif path.startswith("/redirect/"):
                self.send_body(302, b"moved\n", "text/plain",
                               {"Location": "/" + path[len("/redirect/"):]})
            elif path.startswith("/private/"):
                if not self.authorised():
                    self.send_body(401, b"<html>login first</html>\n", "text/html",
                                   {"WWW-Authenticate": 'Basic realm="test"'})
                else:
                    self.serve_file(path[len("/private/"):])
            else:
                self.serve_file(path.lstrip("/"))

    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)

    def stop(signum, frame):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    print("READY %d" % server.server_address[1], flush=True)
    server.serve_forever()
    server.server_close()


if __name__ == "__main__":
    main()
