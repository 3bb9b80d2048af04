#!/usr/bin/env python3
"""Prints the UIDs a KivvetLE.log holds, one per line, record by record up
to the first empty one; exits 1 unless the file is exactly 32768 bytes.

  uidfile.py FILE
"""
import sys

data = open(sys.argv[1], "rb").read()
if len(data) != 32768:
    print(f"size {len(data)}", file=sys.stderr)
    sys.exit(1)
for at in range(0, 32768, 32):
    record = bytes(b ^ 0xFF for b in data[at:at + 32]).split(b"\0")[0]
    if not record:
        break
    print(record.decode("ascii", "replace"))
