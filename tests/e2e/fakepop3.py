#!/usr/bin/env python3
"""A scriptable POP3 server on 127.0.0.1 for the end-to-end tests: the
misbehaving servers a real one will not imitate.

  fakepop3.py --mode MODE [--port P] [--messages N] [--log FILE] [--port-file FILE]

--port 0 (the default) takes a free port. Once listening, the port is
printed on stdout and, with --port-file, written to that file (whole, by a
rename), so a test can wait for either. The server handles any number of
connections, each in a thread of its own, until it is killed.

Modes:
  normal               greets with the APOP timestamp <123.456@fake>; user "cat",
                       password "nyan" (USER/PASS or APOP); STAT, LIST, UIDL
                       (message n has the UID "uid-n"), RETR, TOP, NOOP, RSET,
                       DELE, QUIT
  no-apop              normal, but the greeting has no timestamp and APOP fails
  long-greeting        normal, with a greeting of about 500 bytes that ends in
                       the timestamp
  close-on-quit        normal, but QUIT closes the connection with no answer
  silent-on-quit       normal, but QUIT is never answered and the connection
                       stays open until the client closes it
  reset-after-greeting greets, then answers the first line the client sends
                       with a reset (RST) of the connection
  silent               accepts and never says anything
  deny                 a negative greeting, then closes

--log FILE gets one line per line received, written at once:
  2025-01-31T12:34:56.789 #3 USER cat
where #3 is the connection's number (from 1). A line is shown without its
CRLF; one that ends otherwise (bare LF, or cut off by the close) is shown
with escapes (STAT\\n) so faulty line ends stand out. Events of a
connection are logged as "#3 -- connected", "#3 -- closed by client",
"#3 -- reset by client", "#3 -- closed by server", "#3 -- reset by server",
"#3 -- sending failed: ...".
"""
import argparse
import hashlib
import os
import socket
import socketserver
import struct
import sys
import threading
import time

HOST = "127.0.0.1"  # never anything else
USER = "cat"
PASSWORD = "nyan"
TIMESTAMP = "<123.456@fake>"
MODES = ["normal", "no-apop", "long-greeting", "close-on-quit", "silent-on-quit",
         "reset-after-greeting", "silent", "deny"]


class Log:
    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8") if path else None
        self.lock = threading.Lock()

    def write(self, conn, text):
        if self.file is None:
            return
        now = time.time()
        stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(now)) + ".%03d" % (now % 1 * 1000)
        with self.lock:
            self.file.write("%s #%d %s\n" % (stamp, conn, text))
            self.file.flush()


def shown(raw):
    """The text of a received line as it goes into the log."""
    if raw.endswith(b"\r\n") and b"\r" not in raw[:-2] and b"\n" not in raw[:-2]:
        return raw[:-2].decode("utf-8", "backslashreplace")
    return raw.decode("latin-1").encode("unicode_escape").decode("ascii")


def message(n):
    return ("From: Sender %d <sender%d@fake>\r\n"
            "To: cat <cat@fake>\r\n"
            "Subject: Message %d\r\n"
            "\r\n"
            "Body of message %d.\r\n" % (n, n, n, n)).encode("ascii")


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.conn = self.server.next_conn()
        self.log = self.server.log
        self.mode = self.server.mode
        self.reader = self.request.makefile("rb")
        self.broken = False
        self.log.write(self.conn, "-- connected")

    def send(self, text, raw=b"\r\n"):
        """Sends a line (and any raw bytes after it). Once sending fails the
        rest is dropped, while the lines still arriving are logged."""
        if self.broken:
            return
        try:
            self.request.sendall(text.encode("ascii") + raw)
        except OSError as error:
            self.broken = True
            self.log.write(self.conn, "-- sending failed: %s" % (error.strerror or error))

    def lines(self):
        """Received lines, logged, until the client closes."""
        while True:
            try:
                raw = self.reader.readline()
            except ConnectionResetError:
                self.log.write(self.conn, "-- reset by client")
                return
            except OSError as error:
                self.log.write(self.conn, "-- receiving failed: %s" % (error.strerror or error))
                return
            if not raw:
                self.log.write(self.conn, "-- closed by client")
                return
            self.log.write(self.conn, shown(raw))
            yield raw.rstrip(b"\r\n").decode("latin-1")

    def close(self):
        self.log.write(self.conn, "-- closed by server")

    def handle(self):
        mode = self.mode
        if mode == "silent":
            for _ in self.lines():
                pass
            return
        if mode == "deny":
            self.send("-ERR no POP3 service here")
            self.close()
            return
        if mode == "no-apop":
            self.send("+OK fake POP3 server ready")
        elif mode == "long-greeting":
            head = "+OK fake POP3 server ready"
            filler = " " + ("lorem ipsum dolor sit amet " * 20)[:500 - len(head) - len(TIMESTAMP) - 2]
            self.send(head + filler.rstrip() + " " + TIMESTAMP)
        else:
            self.send("+OK fake POP3 server ready " + TIMESTAMP)

        if mode == "reset-after-greeting":
            for _ in self.lines():
                self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.log.write(self.conn, "-- reset by server")
                self.reader.close()
                self.request.close()
                return
            return

        self.session()

    def session(self):
        count = self.server.messages
        deleted = set()
        user = None
        authorized = False
        for line in self.lines():
            word, _, rest = line.partition(" ")
            word = word.upper()
            args = rest.split()

            def number():
                try:
                    n = int(args[0])
                except (IndexError, ValueError):
                    return None
                return n if 1 <= n <= count and n not in deleted else None

            if word == "QUIT":
                if self.mode == "close-on-quit":
                    self.close()
                    return
                if self.mode == "silent-on-quit":
                    for _ in self.lines():
                        pass
                    return
                self.send("+OK bye")
                self.close()
                return
            if word == "NOOP":
                self.send("+OK")
            elif not authorized:
                if word == "USER" and args:
                    user = args[0]
                    self.send("+OK")
                elif word == "PASS" and user is not None:
                    if user == USER and rest == PASSWORD:
                        authorized = True
                        self.send("+OK logged in")
                    else:
                        user = None
                        self.send("-ERR authentication failed")
                elif word == "APOP" and len(args) == 2 and self.mode != "no-apop":
                    digest = hashlib.md5((TIMESTAMP + PASSWORD).encode("ascii")).hexdigest()
                    if args[0] == USER and args[1].lower() == digest:
                        authorized = True
                        self.send("+OK logged in")
                    else:
                        self.send("-ERR authentication failed")
                else:
                    self.send("-ERR not logged in")
            elif word == "STAT":
                live = [n for n in range(1, count + 1) if n not in deleted]
                self.send("+OK %d %d" % (len(live), sum(len(message(n)) for n in live)))
            elif word in ("LIST", "UIDL"):
                show = (lambda n: str(len(message(n)))) if word == "LIST" else (lambda n: "uid-%d" % n)
                if args:
                    n = number()
                    self.send("+OK %d %s" % (n, show(n)) if n else "-ERR no such message")
                else:
                    self.send("+OK")
                    for n in range(1, count + 1):
                        if n not in deleted:
                            self.send("%d %s" % (n, show(n)))
                    self.send(".")
            elif word in ("RETR", "TOP"):
                n = number()
                lines = None
                if word == "TOP":
                    lines = int(args[1]) if len(args) == 2 and args[1].isdigit() else -1
                if not n or lines == -1:
                    self.send("-ERR no such message")
                    continue
                head, _, body = message(n).decode("ascii").partition("\r\n\r\n")
                if lines is not None:
                    body = "".join(body.splitlines(True)[:lines])
                self.send("+OK", b"\r\n" + (head + "\r\n\r\n" + body).encode("ascii") + b".\r\n")
            elif word == "DELE":
                n = number()
                if n:
                    deleted.add(n)
                    self.send("+OK deleted")
                else:
                    self.send("-ERR no such message")
            elif word == "RSET":
                deleted.clear()
                self.send("+OK")
            else:
                self.send("-ERR unknown command")

    def finish(self):
        try:
            self.reader.close()
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, port, mode, messages, log):
        self.mode = mode
        self.messages = messages
        self.log = log
        self.count = 0
        self.count_lock = threading.Lock()
        super().__init__((HOST, port), Handler)

    def next_conn(self):
        with self.count_lock:
            self.count += 1
            return self.count

    def handle_error(self, request, client_address):
        # A client that goes away mid-answer is part of the game.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description="A scriptable POP3 server on 127.0.0.1.")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--mode", choices=MODES, default="normal")
    parser.add_argument("--messages", type=int, default=2)
    parser.add_argument("--log")
    parser.add_argument("--port-file")
    options = parser.parse_args()

    server = Server(options.port, options.mode, options.messages, Log(options.log))
    port = server.server_address[1]
    if options.port_file:
        temp = options.port_file + ".tmp"
        with open(temp, "w") as f:
            f.write("%d\n" % port)
        os.replace(temp, options.port_file)
    print(port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
