"""Scripted FTP server on 127.0.0.1 that writes down every command it receives.

It takes any login, serves the files under --root for RETR in active mode (PORT or EPRT) and
answers the few other commands a download uses; everything else is refused with 502. Every
command line received is appended to --log as it arrived, one per line, with the bytes
outside printable ASCII written as \\xNN, so a test can see exactly what reached the server.
--port 0 takes a free port. Prints "READY <port>" on stdout when listening. Ends on SIGTERM.
"""

import argparse
import os
import signal
import socket
import sys
import threading


def escape(raw):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02x" % b for b in raw)


class Session:
    def __init__(self, conn, root, log, lock):
        self.conn = conn
        self.root = root
        self.log = log
        self.lock = lock
        self.cwd = ""
        self.data_addr = None

    def reply(self, text):
        self.conn.sendall((text + "\r\n").encode("latin-1"))

    def record(self, raw):
        with self.lock:
            with open(self.log, "a", encoding="ascii") as f:
                f.write(escape(raw) + "\n")

    def path_of(self, name):
        parts = [p for p in (self.cwd + "/" + name).split("/") if p and p != "."]
        if ".." in parts:
            return None
        return os.path.join(self.root, *parts)

    def retr(self, name):
        path = self.path_of(name)
        if path is None or not os.path.isfile(path) or self.data_addr is None:
            self.reply("550 No such file")
            return
        with open(path, "rb") as f:
            body = f.read()
        self.reply("150 Opening data connection")
        try:
            data = socket.create_connection(self.data_addr, timeout=10)
            data.sendall(body)
            data.close()
        except OSError:
            self.reply("425 Cannot open data connection")
            return
        self.data_addr = None
        self.reply("226 Transfer complete")

    def command(self, raw):
        line = raw.decode("latin-1")
        verb, _, arg = line.partition(" ")
        verb = verb.upper()
        if verb == "USER":
            self.reply("331 Password required")
        elif verb == "PASS":
            self.reply("230 Logged in")
        elif verb == "PWD":
            self.reply('257 "/" is the current directory')
        elif verb == "CWD":
            target = self.path_of(arg)
            if target is not None and os.path.isdir(target):
                self.cwd = (self.cwd + "/" + arg).strip("/")
                self.reply("250 Directory changed")
            else:
                self.reply("550 No such directory")
        elif verb == "TYPE":
            self.reply("200 Type set")
        elif verb == "PORT":
            fields = arg.split(",")
            self.data_addr = (".".join(fields[:4]), int(fields[4]) * 256 + int(fields[5]))
            self.reply("200 PORT command successful")
        elif verb == "EPRT":
            fields = arg.split(arg[0]) if arg else []
            if len(fields) < 4:
                self.reply("501 Bad EPRT")
            else:
                self.data_addr = (fields[2], int(fields[3]))
                self.reply("200 EPRT command successful")
        elif verb == "SIZE":
            path = self.path_of(arg)
            if path is not None and os.path.isfile(path):
                self.reply("213 %d" % os.path.getsize(path))
            else:
                self.reply("550 No such file")
        elif verb == "RETR":
            self.retr(arg)
        elif verb == "QUIT":
            self.reply("221 Goodbye")
            return False
        else:
            self.reply("502 Command not implemented")
        return True

    def run(self):
        self.reply("220 sentorix scripted ftp")
        pending = b""
        while True:
            chunk = self.conn.recv(4096)
            if not chunk:
                break
            pending += chunk
            while b"\r\n" in pending:
                raw, pending = pending.split(b"\r\n", 1)
                self.record(raw)
                if not self.command(raw):
                    self.conn.close()
                    return
        self.conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    lock = threading.Lock()

    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(0))
    print("READY %d" % listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        conn.settimeout(30)
        session = Session(conn, args.root, args.log, lock)
        threading.Thread(target=session.run, daemon=True).start()


if __name__ == "__main__":
    main()
