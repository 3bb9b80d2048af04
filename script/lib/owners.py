#!/usr/bin/env python3
"""The owners' gate: every field of the shared records has one writing file,
every timer of the main window one file that sets and kills it, and the calls
that are easy to get wrong stay where they have been looked at.

The owners are read from the code itself: the file named beside each field of
AppState (base/appstate.h) and Session (check/session.h), and the table beside
the timer ids (base/appstate.h), whose rows for a record's own timers (an id
made from the record's address) name the one file that sets and kills them.
A field's write is an assignment to it, an increment or decrement, its
address taken or a reference bound to it; what is written through a
buffer's pointer (app.lineBuffer[0] = ...) belongs to whoever uses the
buffer. A record is never reached through another name: its address taken
or a reference or pointer bound to it would hide every write made through
them, so those are breaches wherever they stand. An allowed file that no
longer makes the call it is allowed is a breach too, so that the lists say
what the code does. Prints each breach as file:line and exits 1 when there
is one.
"""
import re
import subprocess
import sys

PROGRAM = ("app/", "sheet/", "check/", "net/", "tray/", "settings/", "base/")
# strcpy only where the target is known to hold the source.
STRCPY_ALLOWED = {"check/knownuids.cpp", "check/pop3.cpp", "base/paths.cpp"}
# Libraries are loaded from the system folder, or as resources from the
# program's own folder, and nowhere else.
LOADLIBRARY_ALLOWED = {"base/system.cpp", "tray/splash.cpp"}
PATH = re.compile(r"\b((?:app|sheet|check|net|tray|settings|base)/\w+\.cpp)\b")


def record_owners(header, struct):
    """{field: owner file} from the comments beside a record's fields; a
    comment block above several fields names their common owner."""
    text = open(header, encoding="utf-8").read()
    body = text[text.index("struct %s {" % struct):]
    body = body[:body.index("\n};")]
    owners, pending = {}, None
    for line in body.splitlines()[1:]:
        code, _, comment = line.partition("//")
        found = PATH.search(comment)
        field = re.search(r"(\w+)(?:\[\w+\])?\s*(?:=[^;]*)?;", code)
        if field:
            owner = found.group(1) if found else pending
            if owner:
                owners[field.group(1)] = owner
        elif comment.strip():
            pending = found.group(1) if found else pending
        elif not line.strip():
            pending = None
    return owners


def timer_owners(header):
    """({TIMER_x: owner file}, {files that own a record's timers})"""
    owners, record_timers = {}, set()
    for line in open(header, encoding="utf-8"):
        m = re.match(r"//\s+((?:TIMER_\w+,?\s*)+)\s+((?:app|check|net|tray|sheet|settings|base)/\S+)",
                     line)
        if m:
            for timer in re.findall(r"TIMER_\w+", m.group(1)):
                owners[timer] = m.group(2)
            continue
        m = re.match(r"//\s+each (\w+)'s .*?\s((?:app|check|net|tray|sheet|settings|base)/\S+)$",
                     line.rstrip())
        if m:
            record_timers.add(m.group(2))
    return owners, record_timers


def main():
    files = [f for f in subprocess.run(["git", "ls-files", "*.cpp"], capture_output=True,
                                       text=True, check=True).stdout.split()
             if f.startswith(PROGRAM)]
    records = {"app": record_owners("base/appstate.h", "AppState"),
               "session": record_owners("check/session.h", "Session")}
    # The buffers are made and released by start-up and shutdown.
    for field in ("greeting", "lineBuffer", "sendBuffer", "tlsInput",
                  "tlsOutput", "currentUids", "knownUids"):
        records["app"].setdefault(field, "app/mainwindow.cpp")
    timers, record_timers = timer_owners("base/appstate.h")
    write = re.compile(r"(?:\b(app|session)\.(\w+)\s*(?:[-+*/|&^]?=(?!=)|\+\+|--))"
                       r"|(?:(?:\+\+|--|(?<![&\w)\]])&(?!&))\s*(app|session)\.(\w+)\b(?!\s*\[))"
                       r"|(?:&\s*\w+\s*(?:=|\{|\()\s*(app|session)\.(\w+)\b(?!\s*\[))")
    # &app, &session, or a name bound to either: AppState& a = app;
    alias = re.compile(r"(?<![&\w)\]])&\s*(app|session)\b(?!\s*\.)"
                       r"|&\s*\w+\s*(?:=|\{|\()\s*(app|session)\b(?!\s*\.)"
                       r"|\b(?:AppState|Session)\s*(?:const\s*)?[&*]")
    used = {"strcpy": set(), "LoadLibrary": set()}
    breaches = []
    for path in files:
        for number, line in enumerate(open(path, encoding="utf-8"), 1):
            code = line.split("//")[0]
            for m in write.finditer(code):
                record, field = next((m.group(i), m.group(i + 1)) for i in (1, 3, 5) if m.group(i))
                owner = records[record].get(field)
                if owner is None:
                    breaches.append(f"{path}:{number}: {record}.{field} has no owner named")
                elif owner != path:
                    breaches.append(f"{path}:{number}: {record}.{field} is written by {owner} only")
            for m in re.finditer(r"\b(?:SetTimer|KillTimer)\s*\(\s*\w+\s*,\s*(TIMER_\w+|\(UINT_PTR\))?",
                                 code):
                timer = m.group(1)
                if timer and timer.startswith("TIMER_"):
                    owner = timers.get(timer)
                    if owner != path:
                        breaches.append(f"{path}:{number}: {timer} is set and killed by "
                                        f"{owner or 'no file named'} only")
                elif timer and path not in record_timers:
                    # An id made from a record's address belongs to the file
                    # the table names for that record's timers.
                    breaches.append(f"{path}:{number}: a record's timer outside the file "
                                    f"that owns that record's timers")
            if alias.search(code):
                breaches.append(f"{path}:{number}: a shared record reached through another name")
            if re.search(r"\bstrcpy\s*\(", code):
                used["strcpy"].add(path)
                if path not in STRCPY_ALLOWED:
                    breaches.append(f"{path}:{number}: strcpy outside the files allowed it")
            if re.search(r"\bLoadLibrary\w*\s*\(", code):
                used["LoadLibrary"].add(path)
                if path not in LOADLIBRARY_ALLOWED:
                    breaches.append(f"{path}:{number}: a library loaded outside base/system.cpp")
    for call, allowed in (("strcpy", STRCPY_ALLOWED), ("LoadLibrary", LOADLIBRARY_ALLOWED)):
        for path in sorted(allowed - used[call]):
            breaches.append(f"script/lib/owners.py: {path} is allowed {call} but no longer calls it")
    for breach in breaches:
        print(breach, file=sys.stderr)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
