#!/usr/bin/env python3
"""The reference client of the check benchmark: the program's own command
sequence (USER, PASS, STAT, one UIDL per message, QUIT) sent with poplib,
in plain text or over TLS from the first byte.

  reference_client.py PORT [--tls CA-FILE]
"""
import poplib
import ssl
import sys

port = int(sys.argv[1])
if len(sys.argv) > 3 and sys.argv[2] == "--tls":
    context = ssl.create_default_context(cafile=sys.argv[3])
    pop = poplib.POP3_SSL("localhost", port, timeout=60, context=context)
else:
    pop = poplib.POP3("127.0.0.1", port, timeout=60)
pop.user("cat")
pop.pass_("nyan")
count, _ = pop.stat()
for number in range(1, count + 1):
    pop.uidl(number)
pop.quit()
