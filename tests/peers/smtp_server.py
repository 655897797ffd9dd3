"""A real SMTP server for the tests (aiosmtpd), listening on 127.0.0.1.

Usage:
    /usr/bin/python3 -u smtp_server.py PORT FOLDER [--auth USER PASSWORD]

PORT      port to listen on; 0 picks a free one.
FOLDER    every accepted message is saved there as two files, N counting from 1:
            N.eml   the message content exactly as received after DATA (periods undoubled)
            N.json  {"mail_from": "...", "rcpt_tos": ["...", ...]}
          Both are complete before the server answers the end of the data, so a client that
          has read its 250 can read them at once.
--auth    offer AUTH LOGIN (and PLAIN) without TLS, accept only this user and password, and
          answer MAIL FROM with 530 until the client has logged in. The LOGIN prompts are
          the customary "Username:" and "Password:" (base64). Without it no AUTH is
          offered and any sender is accepted.

Prints one line "READY <port>" on stdout when listening and nothing else there; logs go to
stderr. Ends on SIGTERM or SIGINT.
"""

import asyncio
import json
import logging
import os
import signal
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class SavingHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    def _write(self, name, data):
        path = os.path.join(self.folder, name)
        tmp = path + ".part"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        n = self.count
        self._write("%d.eml" % n, envelope.original_content or b"")
        meta = {"mail_from": envelope.mail_from, "rcpt_tos": list(envelope.rcpt_tos)}
        self._write("%d.json" % n, json.dumps(meta).encode())
        logging.info("saved message %d from %s to %s", n, envelope.mail_from,
                     envelope.rcpt_tos)
        return "250 OK"


class LoginPromptSMTP(SMTP):
    # The customary AUTH LOGIN prompts, as most servers send them (aiosmtpd's own differ).
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


def make_authenticator(user, password):
    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        logging.info("auth %s as %r: %s", mechanism,
                     getattr(auth_data, "login", None), ok)
        # handled=False lets the server answer a failure with its 535 line.
        return AuthResult(success=ok, handled=False)
    return authenticator


def main(argv):
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format="smtp_server: %(message)s")
    if len(argv) not in (3, 6) or (len(argv) == 6 and argv[3] != "--auth"):
        sys.stderr.write(__doc__)
        return 2
    # AUTH without TLS is what the tests want on 127.0.0.1; keep stderr free of the warning.
    warnings.filterwarnings("ignore", message="Requiring AUTH")
    port = int(argv[1])
    folder = argv[2]
    os.makedirs(folder, exist_ok=True)
    handler = SavingHandler(folder)

    kwargs = {"hostname": "localhost", "decode_data": False}
    if len(argv) == 6:
        kwargs.update(authenticator=make_authenticator(argv[4], argv[5]),
                      auth_required=True, auth_require_tls=False)
    else:
        kwargs.update(auth_exclude_mechanism=["LOGIN", "PLAIN"])

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(lambda: LoginPromptSMTP(handler, loop=loop, **kwargs), "127.0.0.1", port))
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, loop.stop)
    actual = server.sockets[0].getsockname()[1]
    sys.stdout.write("READY %d\n" % actual)
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
