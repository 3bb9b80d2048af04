#!/usr/bin/env python3
"""The IMAP reference client of the check benchmark: the program's commands
(LOGIN, EXAMINE INBOX, UID FETCH n:* (UID FLAGS) from the mailbox's
UIDNEXT, as a client that knows its mark finds no new mail) sent with
Python's imaplib, one after another as imaplib sends them, then LOGOUT.
The capabilities come with Dovecot's greeting, so imaplib asks none.

With --all it asks UID FETCH 1:* (UID FLAGS), as a first check does;
with --unseen UID SEARCH UNSEEN instead of the fetch (the lean first
check); with --status only STATUS INBOX (MESSAGES UIDNEXT UIDVALIDITY)
after the login, no EXAMINE (the lean second check of a server without
IDLE).

  imap_reference.py PORT [--all | --unseen | --status]
"""
import imaplib
import sys

imap = imaplib.IMAP4("127.0.0.1", int(sys.argv[1]), timeout=60)
imap.login("cat", "nyan")
if "--status" in sys.argv[2:]:
    imap.status("INBOX", "(MESSAGES UIDNEXT UIDVALIDITY)")
    imap.logout()
    sys.exit(0)
imap.select("INBOX", readonly=True)  # EXAMINE
_, (uidnext,) = imap.response("UIDNEXT")
if "--unseen" in sys.argv[2:]:
    imap.uid("SEARCH", "UNSEEN")
else:
    first = 1 if "--all" in sys.argv[2:] else int(uidnext)
    imap.uid("FETCH", f"{first}:*", "(UID FLAGS)")
imap.logout()
