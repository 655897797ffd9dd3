"""The real aiosmtpd test server with two behaviours the mailer's tests need on top.

Usage:
    /usr/bin/python3 -u smtp_gate_server.py PORT FOLDER [--refuse PREFIX] [--hold]
                                            [--auth USER PASSWORD]

PORT, FOLDER  as for tests/peers/smtp_server.py: every accepted message is saved in FOLDER
              as N.eml (content after DATA) and N.json ({"mail_from", "rcpt_tos"}).
--refuse      RCPT TO an address whose local part begins with PREFIX is answered
              "550 5.1.1 <address>: Recipient address rejected".
--hold        at the first RCPT TO the server creates FOLDER/held and waits until
              FOLDER/release exists before it answers, so a test can act while a client is
              in the middle of its session.
--auth        offer AUTH LOGIN without TLS with the prompts "Username:" and "Password:" that
              common mail servers send, accept only this user and password, and answer
              MAIL FROM with 530 until the client has logged in.

Prints one line "READY <port>" on stdout when listening and nothing else there; logs go to
stderr. Ends on SIGTERM or SIGINT.
"""

import asyncio
import logging
import os
import signal
import sys
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))

from aiosmtpd.smtp import SMTP  # noqa: E402
from aiosmtpd.smtp import AuthResult, LoginPassword  # noqa: E402
from smtp_server import SavingHandler  # noqa: E402


def make_authenticator(user, password):
    # handled=False makes the server answer a refused login with 535 itself.
    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        logging.info("auth %s as %r: %s", mechanism, getattr(auth_data, "login", None), ok)
        return AuthResult(success=ok, handled=False)
    return authenticator


class PromptingSMTP(SMTP):
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


class GateHandler(SavingHandler):
    def __init__(self, folder, refuse_prefix, hold):
        super().__init__(folder)
        self.refuse_prefix = refuse_prefix
        self.hold = hold

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.hold:
            self.hold = False
            open(os.path.join(self.folder, "held"), "wb").close()
            logging.info("holding at RCPT TO %s", address)
            release = os.path.join(self.folder, "release")
            while not os.path.exists(release):
                await asyncio.sleep(0.02)
            logging.info("released")
        if self.refuse_prefix and address.startswith(self.refuse_prefix):
            logging.info("refusing %s", address)
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"


def main(argv):
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format="smtp_gate_server: %(message)s")
    args = argv[1:]
    if len(args) < 2:
        sys.stderr.write(__doc__)
        return 2
    port = int(args[0])
    folder = args[1]
    refuse_prefix = None
    hold = False
    auth = None
    rest = args[2:]
    while rest:
        if rest[0] == "--refuse" and len(rest) > 1:
            refuse_prefix = rest[1]
            rest = rest[2:]
        elif rest[0] == "--auth" and len(rest) > 2:
            auth = (rest[1], rest[2])
            rest = rest[3:]
        elif rest[0] == "--hold":
            hold = True
            rest = rest[1:]
        else:
            sys.stderr.write(__doc__)
            return 2
    os.makedirs(folder, exist_ok=True)
    handler = GateHandler(folder, refuse_prefix, hold)

    kwargs = {"hostname": "localhost", "decode_data": False}
    if auth:
        warnings.filterwarnings("ignore", message="Requiring AUTH")
        kwargs.update(authenticator=make_authenticator(*auth), auth_required=True,
                      auth_require_tls=False)
    else:
        kwargs.update(auth_exclude_mechanism=["LOGIN", "PLAIN"])

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: PromptingSMTP(handler, loop=loop, **kwargs), "127.0.0.1", port))
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, loop.stop)
    sys.stdout.write("READY %d\n" % server.sockets[0].getsockname()[1])
    sys.stdout.flush()
    try:
        loop.run_forever()
    finally:
        server.close()
        loop.run_until_complete(server.wait_closed())
        loop.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
