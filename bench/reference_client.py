#!/usr/bin/env python3
"""The reference client of the check benchmark: the program's own command
sequence (USER, PASS, STAT, one UIDL per message, QUIT) sent with poplib.

  reference_client.py PORT
"""
import poplib
import sys

pop = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=60)
pop.user("cat")
pop.pass_("nyan")
count, _ = pop.stat()
for number in range(1, count + 1):
    pop.uidl(number)
pop.quit()
