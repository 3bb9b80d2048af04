#!/usr/bin/env python3
"""The owners' gate: every field of the shared records has one writing file,
every timer of the main window one file that sets and kills it, and the calls
that are easy to get wrong stay where they have been looked at.

The owners are read from the code itself: the file named beside each field of
the records below, or above a record for all of its fields, and the table
beside the timer ids (base/appstate.h), whose rows for a record's own timers
(an id made from the record's address) name the one file that sets and kills
them; a mailbox's timers are the ids of its first slot, mailboxTimer(TIMER_x,
slot). A field that is a record of its own
("its fields' owners") is passed by address to its owners' functions; only
its fields are gated.

A write is judged by the field's name, whatever stands before it (app.x,
box->dialogue.x, p->x, a reference's d.x): an assignment to it, an increment
or decrement, or its address taken. The names of the records' fields are
therefore unique among them. What is written through a buffer's pointer
(box->connection.lineBuffer[0] = ...) belongs to whoever uses the buffer.
Binding a reference or a pointer to a record hides nothing from a gate that
judges by the field's name: writes through it are judged the same. An allowed
file that no longer makes the call it is allowed is a breach, so that the
lists say what the code does. Prints each breach as file:line and exits 1 when
there is one.
"""
import re
import subprocess
import sys

PROGRAM = ("app/", "sheet/", "check/", "net/", "tray/", "settings/", "base/")
FOLDERS = r"(?:app|sheet|check|net|tray|settings|base)"
# The records whose fields have owners, and the headers that declare them.
RECORDS = {
    "base/appstate.h": ["AppState"],
    "check/mailbox.h": ["CheckCycle", "Schedule", "Listing", "KnownUids", "Mailbox"],
    "check/session.h": ["KeptCapabilities", "Dialogue"],
    "check/imapsession.h": ["ImapDialogue"],
    "net/connection.h": ["Connection"],
    "net/tls.h": ["TlsChannel"],
    "tray/previews.h": ["MailCounts", "Previews"],
}
# strcpy only where the target is known to hold the source.
STRCPY_ALLOWED = {"check/knownuids.cpp", "base/paths.cpp"}
# Libraries are loaded from the system folder, or as resources from the
# program's own folder, and nowhere else.
LOADLIBRARY_ALLOWED = {"base/system.cpp", "tray/splash.cpp"}
PATH = re.compile(r"\b(%s/\w+\.cpp)\b" % FOLDERS)
SUBRECORD = "its fields' owners"


def record_fields(text, struct):
    """[(field, type, owner or SUBRECORD or None)] from the comments beside a
    record's fields; a comment block above several fields names their common
    owner, and the comment just above the record names the default."""
    start = text.index("struct %s {" % struct)
    above = text[:start].rstrip().splitlines()
    default = None
    for line in reversed(above):
        if not line.startswith("//"):
            break
        found = PATH.search(line)
        if found:
            default = found.group(1)
            break
    body = text[start:]
    body = body[:body.index("\n};")]
    fields, pending = [], None
    for line in body.splitlines()[1:]:
        code, _, comment = line.partition("//")
        field = re.search(r"^\s*((?:const\s+)?[\w:]+\**)\s+\**(\w+)(?:\[[^\]]*\])*\s*(?:=[^;]*)?;", code)
        found = PATH.search(comment)
        if field:
            if SUBRECORD in comment:
                owner = SUBRECORD
            else:
                owner = found.group(1) if found else (pending or default)
            fields.append((field.group(2), field.group(1), owner))
        elif comment.strip():
            pending = found.group(1) if found else pending
        elif not line.strip():
            pending = None
    return fields


def timer_owners(header):
    """({TIMER_x: owner file}, {files that own a record's address-made timers})"""
    owners, record_timers = {}, set()
    for line in open(header, encoding="utf-8"):
        m = re.match(r"//\s+((?:TIMER_\w+,?\s*)+)\s+(%s/\S+)" % FOLDERS, line)
        if m:
            for timer in re.findall(r"TIMER_\w+", m.group(1)):
                owners[timer] = m.group(2)
            continue
        m = re.match(r"//\s+each (\w+)'s .*?\s(%s/\S+)$" % FOLDERS, line.rstrip())
        if m:
            record_timers.add(m.group(2))
    return owners, record_timers


def gated_fields():
    """{field: owner or SUBRECORD}, and the breaches of the gate's own rule
    that a field's name belongs to one record's owner."""
    owners, problems, records = {}, [], {}
    for header, structs in RECORDS.items():
        text = open(header, encoding="utf-8").read()
        for struct in structs:
            records[struct] = (header, record_fields(text, struct))
    for struct, (header, fields) in records.items():
        for field, kind, owner in fields:
            if kind.rstrip("*") in records:
                owner = SUBRECORD
            if owner is None:
                problems.append(f"{header}: {struct}.{field} has no owner named")
                continue
            if field in owners and owners[field] != owner:
                problems.append(f"{header}: {struct}.{field} is also the name of a field "
                                f"owned by {owners[field]}")
            owners[field] = owner
    return owners, problems


# A member written: name op= ..., name++, name--; ++name, --name, &name.
MEMBER = r"(?:\.|->)\s*(\w+)"
WRITE_AFTER = re.compile(MEMBER + r"\s*(?:[-+*/|&^%]|<<|>>)?=(?!=)|" + MEMBER + r"\s*(?:\+\+|--)")
WRITE_BEFORE = re.compile(r"(?:\+\+|--|(?<![&\w)\]])&(?!&))\s*\(?\s*\w+(?:\s*\[[^\]]*\])?"
                          r"(?:\s*(?:\.|->)\s*\w+(?:\s*\[[^\]]*\])?)*\s*(?:\.|->)\s*(\w+)\b"
                          r"(?!\s*(?:\[|\.|->|\())")


def main():
    files = [f for f in subprocess.run(["git", "ls-files", "*.cpp"], capture_output=True,
                                       text=True, check=True).stdout.split()
             if f.startswith(PROGRAM)]
    owners, breaches = gated_fields()
    timers, record_timers = timer_owners("base/appstate.h")
    # Every id of the table is in the list whose spacing a static_assert
    # checks, so that a new one cannot take another slot's id unseen.
    header = open("base/appstate.h", encoding="utf-8").read()
    listed = re.search(r"TIMER_IDS\[\]\s*=\s*\{([^}]*)\}", header)
    for timer in sorted(set(timers) - set(re.findall(r"TIMER_\w+", listed.group(1) if listed else ""))):
        breaches.append(f"base/appstate.h: {timer} is missing from TIMER_IDS")
    used = {"strcpy": set(), "LoadLibrary": set()}
    for path in files:
        for number, line in enumerate(open(path, encoding="utf-8"), 1):
            code = line.split("//")[0]
            written = [(m.group(1) or m.group(2), False) for m in WRITE_AFTER.finditer(code)]
            written += [(m.group(1), True) for m in WRITE_BEFORE.finditer(code)]
            for field, addressed in written:
                owner = owners.get(field)
                if owner is None:
                    continue
                if owner == SUBRECORD:
                    if not addressed:
                        breaches.append(f"{path}:{number}: the record {field} is written whole")
                elif owner != path:
                    breaches.append(f"{path}:{number}: {field} is written by {owner} only")
            for m in re.finditer(r"\b(?:SetTimer|KillTimer)\s*\(\s*\w+\s*,\s*"
                                 r"(?:mailboxTimer\s*\(\s*)?(TIMER_\w+|\(UINT_PTR\))?", code):
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
