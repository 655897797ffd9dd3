"""FTP test server (pyftpdlib) on 127.0.0.1 for the checking engine's tests.

One account (--user/--password) and anonymous access, both with --root as their login
directory, read-only. Active mode works as the server's default; nothing is configured for
passive mode. --port 0 takes a free port. Prints "READY <port>" on stdout when listening,
nothing else; logs go to stderr. Ends on SIGTERM.
"""

import argparse
import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    args = parser.parse_args()

    logging.basicConfig(stream=sys.stderr, level=logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")
    authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "sentorix test ftp"

    server = FTPServer(("127.0.0.1", args.port), Handler)

    def stop(signum, frame):
        server.close_all()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    print("READY %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
