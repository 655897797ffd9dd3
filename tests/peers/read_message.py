"""Reads one message saved by tests/peers/smtp_server.py with Python's standard MIME parser and
prints what a reader of the mail would see, one field a line: NAME<TAB>VALUE, where the value
has backslash, CR, LF and TAB written as \\, \r, \n and \t. A field may appear several times.

Usage: /usr/bin/python3 read_message.py FOLDER N     (reads FOLDER/N.eml and FOLDER/N.json)

Fields:
  mail-from, rcpt        the envelope (one rcpt line per recipient, in order)
  header:NAME            every header line of the message, in order, its white space runs
                         folded into single blanks
  from-name, from-address, to
                         the From header parsed, and one "to" line per address of the To
                         headers
  multipart              1 or 0
  content-type, charset, transfer-encoding
                         of the message itself (charset empty when none)
  body                   a single-part message's content decoded, as text in its charset
  multi                  the type of every multipart node, in walking order
  part-type, part-charset, part-filename, part-encoding, part-data
                         one line each for every leaf part, in walking order (empty values
                         when absent); part-data is the content after the transfer decoding,
                         as raw bytes
  defects                the parser's count of structure defects over all parts

Prints nothing else; exits 1 when the files cannot be read.
"""

import email
import email.policy
import email.utils
import json
import os
import sys


def out(name, value):
    if isinstance(value, str):
        value = value.encode("utf-8", errors="surrogateescape")
    value = (value.replace(b"\\", b"\\\\").replace(b"\r", b"\\r").replace(b"\n", b"\\n")
             .replace(b"\t", b"\\t"))
    sys.stdout.buffer.write(name.encode() + b"\t" + value + b"\n")


def folded(value):
    return " ".join(str(value).split())


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    folder, n = argv[1], argv[2]
    try:
        with open(os.path.join(folder, n + ".json"), "rb") as f:
            meta = json.load(f)
        with open(os.path.join(folder, n + ".eml"), "rb") as f:
            raw = f.read()
    except OSError as error:
        sys.stderr.write("read_message: %s\n" % error)
        return 1
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)

    out("mail-from", meta["mail_from"])
    for rcpt in meta["rcpt_tos"]:
        out("rcpt", rcpt)
    for name, value in msg.items():
        out("header:" + name, folded(value))
    name, address = email.utils.parseaddr(msg.get("From", ""))
    out("from-name", name)
    out("from-address", address)
    for _, address in email.utils.getaddresses(msg.get_all("To", [])):
        out("to", address)
    out("multipart", "1" if msg.is_multipart() else "0")
    out("content-type", msg.get_content_type())
    out("charset", msg.get_content_charset() or "")
    out("transfer-encoding", msg.get("Content-Transfer-Encoding", ""))
    if not msg.is_multipart():
        payload = msg.get_payload(decode=True) or b""
        try:
            text = payload.decode(msg.get_content_charset() or "ascii", errors="replace")
        except LookupError:  # a charset Python does not know
            text = payload.decode("latin-1")
        out("body", text)

    defects = 0
    for part in msg.walk():
        defects += len(part.defects)
        if part.is_multipart():
            out("multi", part.get_content_type())
            continue
        out("part-type", part.get_content_type())
        out("part-charset", part.get_content_charset() or "")
        out("part-filename", part.get_filename() or "")
        out("part-encoding", part.get("Content-Transfer-Encoding", ""))
        out("part-data", part.get_payload(decode=True) or b"")
    out("defects", str(defects))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
