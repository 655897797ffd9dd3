"""Reads one message saved by the test SMTP servers with the standard MIME parser and prints
what a reader of the mail would see, one field a line: NAME<TAB>VALUE, where the value has
backslash, CR, LF and TAB written as \\, \r, \n and \t.

Usage: /usr/bin/python3 read_message.py FOLDER N     (reads FOLDER/N.eml and FOLDER/N.json)

Fields: mail-from, rcpt (one line per envelope recipient), from-name, from-address, to (one
line per address of the To header), cc, bcc (raw header or empty), subject, x-mailer,
multipart (0 or 1), content-type, charset, transfer-encoding, defects (the parser's count of
defects in the structure), body (the decoded text in its charset).
"""

import email
import email.policy
import email.utils
import json
import os
import sys


def out(name, value):
    value = (value.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
             .replace("\t", "\\t"))
    sys.stdout.write("%s\t%s\n" % (name, value))


def main(argv):
    folder, n = argv[1], argv[2]
    with open(os.path.join(folder, n + ".json"), "rb") as f:
        meta = json.load(f)
    with open(os.path.join(folder, n + ".eml"), "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)

    out("mail-from", meta["mail_from"])
    for rcpt in meta["rcpt_tos"]:
        out("rcpt", rcpt)
    name, address = email.utils.parseaddr(msg.get("From", ""))
    out("from-name", name)
    out("from-address", address)
    for _, address in email.utils.getaddresses(msg.get_all("To", [])):
        out("to", address)
    out("cc", msg.get("Cc", ""))
    out("bcc", msg.get("Bcc", ""))
    out("subject", msg.get("Subject", ""))
    out("x-mailer", msg.get("X-Mailer", ""))
    out("multipart", "1" if msg.is_multipart() else "0")
    out("content-type", msg.get_content_type())
    out("charset", msg.get_content_charset() or "")
    out("transfer-encoding", msg.get("Content-Transfer-Encoding", ""))
    out("defects", str(len(msg.defects)))
    payload = msg.get_payload(decode=True) or b""
    out("body", payload.decode(msg.get_content_charset() or "ascii", errors="replace"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
