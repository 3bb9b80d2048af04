#!/usr/bin/env python3
"""The reference client of the IDLE benchmark: the program's dialogue and
nothing around it. It logs in, EXAMINEs INBOX and waits in IDLE; on an
EXISTS beyond the count it knows it sends DONE, peeks at the new
messages' senders and subjects (UID FETCH with BODY.PEEK), and goes back
into IDLE, until it is killed. In plain text or over TLS from the first
byte.

  idle_client.py PORT USER PASSWORD [--tls CA-FILE]
"""
import re
import socket
import ssl
import sys

port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
options = sys.argv[4:]
host = "127.0.0.1"
sock = socket.create_connection((host, port))
if "--tls" in options:
    context = ssl.create_default_context(cafile=options[options.index("--tls") + 1])
    host = "localhost"
    sock = context.wrap_socket(sock, server_hostname=host)
replies = sock.makefile("rb")
tags = 0


def line():
    text = replies.readline()
    if not text:
        raise SystemExit("connection closed")
    return text.decode("utf-8", "replace").rstrip("\r\n")


def send(command):
    global tags
    tags += 1
    tag = "a%d" % tags
    sock.sendall(("%s %s\r\n" % (tag, command)).encode())
    return tag


def until_tagged(tag, seen=None):
    while True:
        text = line()
        if text.startswith(tag + " "):
            return
        found = re.match(r"\* (\d+) EXISTS", text)
        if found and seen is not None:
            seen.append(int(found.group(1)))


line()  # the greeting
until_tagged(send("LOGIN %s %s" % (user, password)))
counts = []
until_tagged(send("EXAMINE INBOX"), counts)
known = counts[-1] if counts else 0
while True:
    tag = send("IDLE")
    while True:
        found = re.match(r"\* (\d+) EXISTS", line())
        if found and int(found.group(1)) > known:
            now = int(found.group(1))
            break
    sock.sendall(b"DONE\r\n")
    until_tagged(tag)
    until_tagged(send("FETCH %d:%d (UID FLAGS BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])" % (known + 1, now)))
    known = now
