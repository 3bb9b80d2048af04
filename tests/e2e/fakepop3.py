#!/usr/bin/env python3
"""A scriptable POP3 server on 127.0.0.1 for the end-to-end tests: the
misbehaving servers a real one will not imitate.

  fakepop3.py [--mode MODE] [--fault STATE:KIND ...] [--chunk N]
              [--greeting-length N] [--uid-length N] [--foreign] [--random SEED]
              [--port P] [--messages N] [--log FILE] [--port-file FILE]

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
  in-use               normal, but the first connection's login is refused with
                       "-ERR [IN-USE]" (RFC 2449): another client holds the
                       mailbox

Faults, on any connection, in place of the answer the client waits for:
  --fault STATE:KIND   STATE is greeting, user (the answer to USER), pass (to
                       PASS or APOP), stat, uidl (to the second UIDL of a
                       session, or the first when the mailbox holds one
                       message) or quit; KIND is
                         reset     a reset (RST) of the connection
                         silent    no answer, ever; the server reads on
                         negative  "-ERR" (to QUIT: every time it comes)
                         close     an orderly close (FIN)
                       May be given once per state.
  --chunk N            every reply goes out N bytes at a time, each piece in
                       a segment of its own
  --greeting-length N  the greeting is N bytes long without its CRLF and ends
                       in the timestamp
  --uid-length N       the UIDs are N characters long ("uid-7-" and letters)
  --foreign            the replies carry bytes outside ASCII: Shift-JIS, UTF-8
                       and 0xFF, after the status word and after each UID
  --random SEED        each connection draws its own misbehaviour from SEED
                       and its number: a fault in a random state (no silence,
                       and a reset or close before QUIT only rarely), pieces
                       of random size, and new mail (and deleted mail) at
                       random; the plan is logged as "#3 -- plan: ..."

--log FILE gets one line per line received, written at once:
  2025-01-31T12:34:56.789 #3 USER cat
where #3 is the connection's number (from 1). A line is shown without its
CRLF; one that ends otherwise (bare LF, or cut off by the close) is shown
with escapes (STAT\\n) so faulty line ends stand out. Events of a
connection are logged as "#3 -- connected", "#3 -- closed by client",
"#3 -- reset by client", "#3 -- closed by server", "#3 -- reset by server",
"#3 -- sending failed: ...", "#3 -- silent from now on".
"""
import argparse
import hashlib
import os
import random
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
         "reset-after-greeting", "silent", "deny", "in-use"]
STATES = ["greeting", "user", "pass", "stat", "uidl", "quit"]
KINDS = ["reset", "silent", "negative", "close"]
# Shift-JIS ("メール" and a half-width katakana), UTF-8 ("メール"), a lone
# lead byte and 0xFF.
FOREIGN = b" \x83\x81\x81[\x83\x8b \xb6 \xe3\x83\xa1\xe3\x83\xbc\xe3\x83\xab \x82 \xff\xfe\xff"


def fault_option(text):
    state, _, kind = text.partition(":")
    if state not in STATES or kind not in KINDS:
        raise argparse.ArgumentTypeError("STATE:KIND with STATE in %s and KIND in %s"
                                         % ("|".join(STATES), "|".join(KINDS)))
    return state, kind


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
        self.ended = False
        self.log.write(self.conn, "-- connected")
        self.faults = dict(self.server.faults)
        self.chunk = self.server.chunk
        self.foreign = self.server.foreign
        self.uids = self.server.mailbox()
        if self.server.seed is not None:
            self.plan()
        if self.chunk:
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def plan(self):
        """This connection's misbehaviour, drawn from the seed and its number."""
        rng = random.Random("%s/%d" % (self.server.seed, self.conn))
        self.uids = self.server.new_mail(rng)
        self.chunk = rng.choice([0, 0, 0, 1, 2, 3, 7, 50])
        self.foreign = rng.random() < 0.2
        roll = rng.random()
        if roll < 0.35:
            self.faults = {}
        elif roll < 0.75:
            self.faults = {rng.choice(STATES): "negative"}
        elif roll < 0.95:
            self.faults = {"quit": rng.choice(["reset", "close", "negative"])}
        else:
            self.faults = {rng.choice(STATES[:-1]): rng.choice(["reset", "close"])}
        self.log.write(self.conn, "-- plan: %d messages, pieces of %s, %s%s" % (
            len(self.uids), self.chunk or "any size",
            ", ".join("%s at %s" % (k, st) for st, k in self.faults.items()) or "no fault",
            ", foreign bytes" if self.foreign else ""))

    def send(self, text, raw=b"\r\n"):
        """Sends a line (and any raw bytes after it). Once sending fails the
        rest is dropped, while the lines still arriving are logged."""
        if self.broken or self.ended:
            return
        data = (text.encode("latin-1") if isinstance(text, str) else text) + raw
        try:
            if not self.chunk:
                self.request.sendall(data)
                return
            for at in range(0, len(data), self.chunk):
                self.request.sendall(data[at:at + self.chunk])
                time.sleep(0.002)
        except OSError as error:
            self.broken = True
            self.log.write(self.conn, "-- sending failed: %s" % (error.strerror or error))

    def positive(self, text):
        """A positive reply, with bytes outside ASCII behind it under --foreign."""
        self.send(text.encode("ascii") + (FOREIGN if self.foreign else b""))

    def reset(self):
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.log.write(self.conn, "-- reset by server")
        self.reader.close()
        self.request.close()
        self.ended = True

    def fault(self, state, uidl_count=0):
        """Plays the fault planned for the state, if any; true when it took
        the place of the answer. After a reset or a close the session ends;
        after silence the lines still arriving are only logged."""
        kind = self.faults.get(state)
        if kind is None:
            return False
        if state == "uidl" and uidl_count != min(2, len(self.uids)):
            return False
        if kind == "negative":
            self.send("-ERR no %s for you" % state)
            return True
        if kind == "reset":
            self.reset()
        elif kind == "close":
            self.request.shutdown(socket.SHUT_RDWR)
            self.close()
            self.ended = True
        else:
            self.log.write(self.conn, "-- silent from now on")
            for _ in self.lines():
                pass
            self.ended = True
        return True

    def lines(self):
        """Received lines, logged, until the client closes."""
        while not self.ended:
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
        if self.fault("greeting"):
            if not self.ended:
                self.session()
            return
        length = self.server.greeting_length or (500 if mode == "long-greeting" else 0)
        if mode == "no-apop":
            self.positive("+OK fake POP3 server ready")
        elif length:
            head = "+OK fake POP3 server ready"
            filler = " " + ("lorem ipsum dolor sit amet " * 40)[:length - len(head) - len(TIMESTAMP) - 2]
            self.send(head + filler[:-1] + " " + TIMESTAMP)
        elif self.foreign:
            self.send(b"+OK fake POP3 server ready" + FOREIGN + b" " + TIMESTAMP.encode("ascii"))
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
        uids = self.uids
        count = len(uids)
        deleted = set()
        user = None
        authorized = False
        uidls = 0
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
                if self.fault("quit"):
                    if self.ended:
                        return
                    continue
                if self.mode == "close-on-quit":
                    self.close()
                    return
                if self.mode == "silent-on-quit":
                    for _ in self.lines():
                        pass
                    return
                self.positive("+OK bye")
                self.close()
                return
            state = {"USER": "user", "PASS": "pass", "APOP": "pass", "STAT": "stat"}.get(word)
            if word == "UIDL" and authorized:
                uidls += 1
                state = "uidl"
            if state and self.fault(state, uidls):
                if self.ended:
                    return
                continue
            if word == "NOOP":
                self.send("+OK")
            elif not authorized:
                if word == "USER" and args:
                    user = args[0]
                    self.positive("+OK")
                elif word in ("PASS", "APOP") and self.mode == "in-use" and self.conn == 1:
                    self.send("-ERR [IN-USE] the mailbox is locked by another session")
                elif word == "PASS" and user is not None:
                    if user == USER and rest == PASSWORD:
                        authorized = True
                        self.positive("+OK logged in")
                    else:
                        user = None
                        self.send("-ERR authentication failed")
                elif word == "APOP" and len(args) == 2 and self.mode != "no-apop":
                    digest = hashlib.md5((TIMESTAMP + PASSWORD).encode("ascii")).hexdigest()
                    if args[0] == USER and args[1].lower() == digest:
                        authorized = True
                        self.positive("+OK logged in")
                    else:
                        self.send("-ERR authentication failed")
                else:
                    self.send("-ERR not logged in")
            elif word == "STAT":
                live = [n for n in range(1, count + 1) if n not in deleted]
                self.positive("+OK %d %d" % (len(live), sum(len(message(n)) for n in live)))
            elif word in ("LIST", "UIDL"):
                show = (lambda n: str(len(message(n)))) if word == "LIST" else (lambda n: uids[n - 1])
                if args:
                    n = number()
                    if n:
                        self.positive("+OK %d %s" % (n, show(n)))
                    else:
                        self.send("-ERR no such message")
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

    def __init__(self, port, mode, messages, log, options):
        self.mode = mode
        self.messages = messages
        self.log = log
        self.count = 0
        self.count_lock = threading.Lock()
        self.faults = dict(options.fault or [])
        self.chunk = options.chunk
        self.greeting_length = options.greeting_length
        self.uid_length = options.uid_length
        self.foreign = options.foreign
        self.seed = options.random
        # The mailbox of --random: numbers of the messages it holds, which
        # grow with new mail and lose deleted mail.
        self.held = list(range(1, messages + 1))
        self.delivered = messages
        super().__init__((HOST, port), Handler)

    def uid(self, n):
        text = "uid-%d" % n
        if self.uid_length:
            text = (text + "-" + "abcdefghijklmnopqrstuvwxyz" * 3)[:self.uid_length]
        return text

    def mailbox(self):
        with self.count_lock:
            return [self.uid(n) for n in self.held]

    def new_mail(self, rng):
        """Random new mail and deleted mail before a connection of --random."""
        with self.count_lock:
            if self.held and rng.random() < 0.2:
                for n in rng.sample(self.held, rng.randint(1, min(3, len(self.held)))):
                    self.held.remove(n)
            for _ in range(rng.choice([0, 0, 0, 1, 1, 2, 5])):
                self.delivered += 1
                self.held.append(self.delivered)
            return [self.uid(n) for n in self.held]

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
    parser.add_argument("--fault", type=fault_option, action="append")
    parser.add_argument("--chunk", type=int, default=0)
    parser.add_argument("--greeting-length", type=int, default=0)
    parser.add_argument("--uid-length", type=int, default=0)
    parser.add_argument("--foreign", action="store_true")
    parser.add_argument("--random")
    options = parser.parse_args()

    server = Server(options.port, options.mode, options.messages, Log(options.log), options)
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
