#!/usr/bin/env python3
"""The IMAP reference client of the check benchmark: a second check's
commands (LOGIN, EXAMINE INBOX, UID FETCH n:* (UID FLAGS) from the
mailbox's UIDNEXT, as a client that knows its mark finds no new mail; the
program asks UID SEARCH UID n:* UNSEEN there, one short answer too) sent
with Python's imaplib, one after another as imaplib sends them, then LOGOUT.
The capabilities come with Dovecot's greeting, so imaplib asks none.
With --first, a lean client's first look at a mailbox instead: EXAMINE,
then UID SEARCH UNSEEN.

  imap_reference.py PORT [--first]
"""
import imaplib
import sys

imap = imaplib.IMAP4("127.0.0.1", int(sys.argv[1]), timeout=60)
imap.login("cat", "nyan")
imap.select("INBOX", readonly=True)  # EXAMINE
_, (uidnext,) = imap.response("UIDNEXT")
if "--first" in sys.argv:
    imap.uid("SEARCH", "UNSEEN")
else:
    imap.uid("FETCH", f"{int(uidnext)}:*", "(UID FLAGS)")
imap.logout()
