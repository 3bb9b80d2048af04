#!/usr/bin/env python3
"""The reference client of the check benchmark: the program's own command
sequence (USER, PASS, STAT, one UIDL per message, QUIT) sent with poplib,
in plain text or over TLS from the first byte; with --listing one bare
UIDL (RFC 1939's listing of every message) takes the place of the walk.

  reference_client.py PORT [--tls CA-FILE] [--listing]
"""
import poplib
import ssl
import sys

port = int(sys.argv[1])
options = sys.argv[2:]
if "--tls" in options:
    context = ssl.create_default_context(cafile=options[options.index("--tls") + 1])
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
