#!/usr/bin/env python3
"""The reference client of the check benchmark: the program's own command
sequence (USER, PASS, STAT, one UIDL per message, QUIT) sent with poplib,
in plain text or over TLS from the first byte; with --listing one bare
UIDL (RFC 1939's listing of every message) takes the place of the walk;
with --pipelined, a client of its own asks CAPA and, when the server
pipelines (RFC 2449), sends USER, PASS, STAT, UIDL and QUIT in one flight
and reads the replies in order; with --flight, the same client sends its
flight right after the greeting, without CAPA, as one that remembers what
the server said last time.

  reference_client.py PORT [--tls CA-FILE] [--listing | --pipelined | --flight]
"""
import poplib
import socket
import ssl
import sys

port = int(sys.argv[1])
options = sys.argv[2:]
context = None
if "--tls" in options:
    context = ssl.create_default_context(cafile=options[options.index("--tls") + 1])


def pipelined(ask_capa):
    host = "localhost" if context else "127.0.0.1"
    sock = socket.create_connection((host, port), timeout=60)
    if context:
        sock = context.wrap_socket(sock, server_hostname=host)
    replies = sock.makefile("rb")

    def line():
        text = replies.readline()
        if not text:
            raise SystemExit("connection closed")
        return text.rstrip(b"\r\n")

    def multiline():
        while line() != b".":
            pass

    line()  # greeting
    if ask_capa:
        sock.sendall(b"CAPA\r\n")
        capabilities = []
        if line().startswith(b"+OK"):
            while (text := line()) != b".":
                capabilities.append(text.split(b" ")[0].upper())
        if b"PIPELINING" not in capabilities:
            raise SystemExit("the server does not pipeline")
    sock.sendall(b"USER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nQUIT\r\n")
    for _ in range(3):  # USER, PASS, STAT
        if not line().startswith(b"+OK"):
            raise SystemExit("refused")
    if line().startswith(b"+OK"):
        multiline()
    line()  # QUIT
    sock.close()


if "--pipelined" in options or "--flight" in options:
    pipelined("--pipelined" in options)
    sys.exit(0)
if context:
    pop = poplib.POP3_SSL("localhost", port, timeout=60, context=context)
else:
    pop = poplib.POP3("127.0.0.1", port, timeout=60)
pop.user("cat")
pop.pass_("nyan")
count, _ = pop.stat()
if "--listing" in options:
    pop.uidl()
else:
    for number in range(1, count + 1):
        pop.uidl(number)
pop.quit()
