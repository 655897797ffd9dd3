"""A real SMTP server for the tests (aiosmtpd), listening on 127.0.0.1.

Usage:
    /usr/bin/python3 -u smtp_server.py PORT FOLDER [--auth USER PASSWORD] [--refuse PREFIX]
                                                   [--hold] [--starttls CERT KEY]
                                                   [--implicit-tls CERT KEY] [--only-plain]
                                                   [--default-prompts]

PORT      port to listen on; 0 picks a free one.
FOLDER    every accepted message is saved there as two files, N counting from 1:
            N.eml   the message content exactly as received after DATA (periods undoubled)
            N.json  {"mail_from": "...", "rcpt_tos": ["...", ...]}
          Both are complete before the server answers the end of the data, so a client that
          has read its 250 can read them at once. tests/peers/read_message.py reads them.
--auth    offer AUTH LOGIN (and PLAIN) without TLS, accept only this user and password, and
          answer MAIL FROM with 530 until the client has logged in. The LOGIN prompts are
          the customary "Username:" and "Password:" (base64). Without it no AUTH is
          offered and any sender is accepted.
--refuse  RCPT TO an address whose local part begins with PREFIX is answered
          "550 5.1.1 <address>: Recipient address rejected".
--starttls  offer STARTTLS with this certificate and key (PEM), refuse every command but
          EHLO, HELO, NOOP, QUIT and STARTTLS before it (530), and offer AUTH only after it.
--implicit-tls  TLS from the first byte with this certificate and key (PEM).
--only-plain  with --auth: offer AUTH PLAIN only, not LOGIN.
--default-prompts  with --auth: aiosmtpd's own AUTH LOGIN prompts ("User Name" and
          "Password", each with a NUL) instead of the customary ones.
--hold    at the first RCPT TO the server creates FOLDER/held and waits until FOLDER/release
          exists before it answers, so a test can act while a client is in the middle of its
          session.

Every AUTH and MAIL command the server gets is written as one line (its verb and first
argument) to FOLDER/commands.log, so a test can tell that no login was attempted.

Prints one line "READY <port>" on stdout when listening and nothing else there; logs go to
stderr. Ends on SIGTERM or SIGINT.
"""

import asyncio
import json
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class SavingHandler:
    def __init__(self, folder, refuse_prefix=None, hold=False):
        self.folder = folder
        self.count = 0
        self.refuse_prefix = refuse_prefix
        self.hold = hold

    def _write(self, name, data):
        path = os.path.join(self.folder, name)
        tmp = path + ".part"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)

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
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        n = self.count
        self._write("%d.eml" % n, envelope.original_content or b"")
        meta = {"mail_from": envelope.mail_from, "rcpt_tos": list(envelope.rcpt_tos)}
        self._write("%d.json" % n, json.dumps(meta).encode())
        logging.info("saved message %d from %s to %s", n, envelope.mail_from,
                     envelope.rcpt_tos)
        return "250 OK"


class LoggingSMTP(SMTP):
    folder = None

    def _note(self, verb, arg):
        first = (arg or "").split(" ")[0]
        with open(os.path.join(self.folder, "commands.log"), "a") as f:
            f.write("%s %s\n" % (verb, first))

    async def smtp_AUTH(self, arg):
        self._note("AUTH", arg)
        return await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        self._note("MAIL", arg)
        return await super().smtp_MAIL(arg)


class LoginPromptSMTP(LoggingSMTP):
    # The customary AUTH LOGIN prompts, as most servers send them (aiosmtpd's own differ).
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


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


def parse_options(rest):
    """The options after PORT FOLDER as a dict; None when they are not understood."""
    options = {"auth": None, "refuse": None, "hold": False, "starttls": None,
               "implicit": None, "only_plain": False, "default_prompts": False}
    while rest:
        if rest[0] == "--auth" and len(rest) > 2:
            options["auth"] = (rest[1], rest[2])
            rest = rest[3:]
        elif rest[0] == "--refuse" and len(rest) > 1:
            options["refuse"] = rest[1]
            rest = rest[2:]
        elif rest[0] == "--hold":
            options["hold"] = True
            rest = rest[1:]
        elif rest[0] == "--starttls" and len(rest) > 2:
            options["starttls"] = (rest[1], rest[2])
            rest = rest[3:]
        elif rest[0] == "--implicit-tls" and len(rest) > 2:
            options["implicit"] = (rest[1], rest[2])
            rest = rest[3:]
        elif rest[0] == "--only-plain":
            options["only_plain"] = True
            rest = rest[1:]
        elif rest[0] == "--default-prompts":
            options["default_prompts"] = True
            rest = rest[1:]
        else:
            return None
    return options


def main(argv):
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format="smtp_server: %(message)s")
    options = parse_options(argv[3:]) if len(argv) >= 3 else None
    if options is None:
        sys.stderr.write(__doc__)
        return 2
    # AUTH without TLS is what the tests want on 127.0.0.1; keep stderr free of the warning.
    warnings.filterwarnings("ignore", message="Requiring AUTH")
    port = int(argv[1])
    folder = argv[2]
    os.makedirs(folder, exist_ok=True)
    handler = SavingHandler(folder, options["refuse"], options["hold"])

    kwargs = {"hostname": "localhost", "decode_data": False}
    if options["auth"]:
        # With STARTTLS the login waits for TLS; otherwise (plain, or TLS from the first byte,
        # which aiosmtpd does not count as TLS) it is accepted as it comes.
        kwargs.update(authenticator=make_authenticator(*options["auth"]),
                      auth_required=True, auth_require_tls=bool(options["starttls"]))
        if options["only_plain"]:
            kwargs.update(auth_exclude_mechanism=["LOGIN"])
    else:
        kwargs.update(auth_exclude_mechanism=["LOGIN", "PLAIN"])
    if options["starttls"]:
        kwargs.update(tls_context=tls_context(*options["starttls"]), require_starttls=True)
    server_ssl = tls_context(*options["implicit"]) if options["implicit"] else None
    protocol = LoggingSMTP if options["default_prompts"] else LoginPromptSMTP
    protocol.folder = folder

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(lambda: protocol(handler, loop=loop, **kwargs), "127.0.0.1", port,
                           ssl=server_ssl))
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
