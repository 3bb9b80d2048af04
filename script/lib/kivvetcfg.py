#!/usr/bin/env python3
"""Writes or reads KivvetLE.cfg for the end-to-end tests, the demo and the
benchmarks (script/lib/desktop.sh: write_settings).

  kivvetcfg.py write FILE key=value ...   (unnamed fields keep their defaults)
  kivvetcfg.py set FILE key=value ...     (changes the named fields of a file
                                           the program wrote; every other byte
                                           stays, the protected password too)
  kivvetcfg.py read FILE                  (prints key=value lines)
  kivvetcfg.py mailboxes FILE ACCOUNT ... (KivvetLE.mbx: the accounts of the
                                           second mailbox on, each one
                                           argument of key=value pairs
                                           joined by ";")

Texts are given in UTF-8 and stored in Shift-JIS, as the program does.
connectionSecurity (0 none, 1 STLS, 2 TLS from the first byte) lies after
accountName, at offset 1291, and fastScan (0 the walk, 1 one UIDL listing)
at 1292, both complemented like the fields before accountName. The file
ends after the last of them that is given (so the 1291 bytes of older
files when neither is); `read` prints each only when the file holds it.
notifyBalloon (0 off, 1 on) lies at 1293, complemented the same way: given,
the file is 1294 bytes long.
passwordProtected (byte 1294) and protectedLength (1295-1296,
little-endian) are printed likewise. showPreviews (0 off, 1 on) lies at
1809, after the protected password's place: given, the file is 1810 bytes
long, with no protected password. mailProtocol (0 POP3, 1 IMAP) lies at 1810:
given, the file is 1811 bytes long. The manners follow: quietWhileBusy
(1811; 0 off, else on), quietFrom and quietUntil (1812-1813 and 1814-1815,
minutes of the day, little-endian; 65535 none), showCount (1816; 1 on) and
keepTelling (1817; 1 on): any of them given, the file is 1818 bytes long, the protocol POP3 unless
given and the others not given as a first start writes them (quiet on, no
hours).
"""
import sys

TEXTS = [("serverHost", 0, 128), ("userId", 128, 128), ("password", 256, 128),
         ("voicePath", 392, 256), ("mailerPath", 648, 256), ("mailerArgs", 904, 256)]
BYTES = [("intervalMinutes", 386), ("checkAtStartup", 387), ("soundNotify", 388),
         ("useVoice", 389), ("soundNewOnly", 390), ("customVoice", 391),
         ("tooltipMode", 1160), ("blinkNewOnly", 1161), ("useApop", 1162)]
SECURITY_OFFSET = 1291
FAST_SCAN_OFFSET = 1292
BALLOON_OFFSET = 1293
PROTECTED_OFFSET = 1294
PREVIEWS_OFFSET = 1809
PROTOCOL_OFFSET = 1810
MANNERS = [("quietWhileBusy", 1811, 1, 1), ("quietFrom", 1812, 2, 0xFFFF),
           ("quietUntil", 1814, 2, 0xFFFF), ("showCount", 1816, 1, 0),
           ("keepTelling", 1817, 1, 0)]
MANNERS_END = 1818
DEFAULTS = {"port": 110, "intervalMinutes": 10, "checkAtStartup": 1, "soundNotify": 1,
            "useVoice": 1}


def write(path, pairs):
    values = dict(DEFAULTS)
    for pair in pairs:
        key, _, value = pair.partition("=")
        values[key] = value
    with_manners = any(name in values for name, _, _, _ in MANNERS)
    with_protocol = "mailProtocol" in values or with_manners
    with_previews = "showPreviews" in values or with_protocol
    with_balloon = "notifyBalloon" in values or with_previews
    with_security = "connectionSecurity" in values or "fastScan" in values or with_balloon
    with_fast_scan = "fastScan" in values or with_balloon
    image = bytearray(MANNERS_END if with_manners else
                      PROTOCOL_OFFSET + 1 if with_protocol else
                      PREVIEWS_OFFSET + 1 if with_previews else
                      BALLOON_OFFSET + 1 if with_balloon else
                      FAST_SCAN_OFFSET + 1 if with_fast_scan else
                      SECURITY_OFFSET + 1 if with_security else SECURITY_OFFSET)
    for name, offset, size in TEXTS:
        text = str(values.get(name, "")).encode("cp932", "surrogateescape")[: size - 1]
        image[offset:offset + len(text)] = text
    port = int(values.get("port", 110))
    image[384] = (port >> 8) & 0xFF
    image[385] = port & 0xFF
    for name, offset in BYTES:
        image[offset] = int(values.get(name, 0)) & 0xFF
    for i in range(1163):
        image[i] ^= 0xFF
    account = str(values.get("accountName", "")).encode("cp932", "surrogateescape")[:127]
    image[1163:1163 + len(account)] = account
    if len(image) > SECURITY_OFFSET:
        image[SECURITY_OFFSET:] = b"\xff" * (len(image) - SECURITY_OFFSET)
    if with_security:
        image[SECURITY_OFFSET] = ~int(values.get("connectionSecurity", 0)) & 0xFF
    if with_fast_scan:
        image[FAST_SCAN_OFFSET] = ~int(values.get("fastScan", 0)) & 0xFF
    if with_balloon:
        image[BALLOON_OFFSET] = ~int(values.get("notifyBalloon", 0)) & 0xFF
    if with_previews:
        image[PREVIEWS_OFFSET] = ~int(values.get("showPreviews", 0)) & 0xFF
    if with_protocol:
        image[PROTOCOL_OFFSET] = ~int(values.get("mailProtocol", 0)) & 0xFF
    if with_manners:
        for name, offset, size, default in MANNERS:
            value = int(values.get(name, default))
            for i in range(size):
                image[offset + i] = ~(value >> 8 * i) & 0xFF
    with open(path, "wb") as out:
        out.write(image)


ACCOUNTS_HEADER = 16
ACCOUNT_STRIDE = 2048


def mailboxes(path, accounts):
    """Each account is a record laid out as KivvetLE.cfg, padded to its
    stride, after a header: "KVMB" and the count, all complemented."""
    import os
    import tempfile
    header = bytearray(b"KVMB" + bytes([len(accounts)]) + bytes(11))
    image = bytearray(b ^ 0xFF for b in header)
    for account in accounts:
        with tempfile.NamedTemporaryFile(delete=False) as scratch:
            name = scratch.name
        write(name, account.split(";") + ["keepTelling=0"])
        record = bytearray(open(name, "rb").read())
        os.unlink(name)
        image += record + b"\xff" * (ACCOUNT_STRIDE - len(record))
    image += b"\xff" * (ACCOUNT_STRIDE * 7 - (len(image) - ACCOUNTS_HEADER))
    with open(path, "wb") as out:
        out.write(image)


def set_fields(path, pairs):
    data = bytearray(open(path, "rb").read())
    for pair in pairs:
        key, _, value = pair.partition("=")
        texts = {name: (offset, size) for name, offset, size in TEXTS}
        singles = dict(BYTES)
        if key in texts:
            offset, size = texts[key]
            raw = value.encode("cp932", "surrogateescape")[: size - 1]
            data[offset:offset + size] = bytes(~b & 0xFF for b in raw.ljust(size, b"\0"))
        elif key == "port":
            data[384] = ~(int(value) >> 8) & 0xFF
            data[385] = ~int(value) & 0xFF
        elif key in singles:
            data[singles[key]] = ~int(value) & 0xFF
        elif key == "connectionSecurity":
            data[SECURITY_OFFSET] = ~int(value) & 0xFF
        elif key == "showPreviews" and len(data) > PREVIEWS_OFFSET:
            data[PREVIEWS_OFFSET] = ~int(value) & 0xFF
        elif key == "mailProtocol" and len(data) > PROTOCOL_OFFSET:
            data[PROTOCOL_OFFSET] = ~int(value) & 0xFF
        else:
            sys.exit("unknown field: " + key)
    with open(path, "wb") as out:
        out.write(data)


def signed(byte):
    return byte - 256 if byte >= 128 else byte


def text(raw):
    return bytes(raw).split(b"\0")[0].decode("cp932", "surrogateescape")


def read(path):
    data = bytearray(open(path, "rb").read())
    has_security = len(data) > SECURITY_OFFSET
    data += bytes(max(0, 1291 - len(data)))
    for i in range(1163):
        data[i] ^= 0xFF
    for name, offset, size in TEXTS:
        print(f"{name}={text(data[offset:offset + size])}")
    print(f"port={signed(data[384]) * 256 + data[385]}")
    for name, offset in BYTES:
        print(f"{name}={signed(data[offset])}")
    print(f"accountName={text(data[1163:1291])}")
    if has_security:
        print(f"connectionSecurity={signed(data[SECURITY_OFFSET] ^ 0xFF)}")
    if len(data) > FAST_SCAN_OFFSET and has_security:
        print(f"fastScan={signed(data[FAST_SCAN_OFFSET] ^ 0xFF)}")
    if len(data) > BALLOON_OFFSET:
        print(f"notifyBalloon={signed(data[BALLOON_OFFSET] ^ 0xFF)}")
    if len(data) > PROTECTED_OFFSET + 2:
        print(f"passwordProtected={data[PROTECTED_OFFSET] ^ 0xFF}")
        length = (data[PROTECTED_OFFSET + 1] ^ 0xFF) | (data[PROTECTED_OFFSET + 2] ^ 0xFF) << 8
        print(f"protectedLength={length}")
    if len(data) > PREVIEWS_OFFSET:
        print(f"showPreviews={data[PREVIEWS_OFFSET] ^ 0xFF}")
    if len(data) > PROTOCOL_OFFSET:
        print(f"mailProtocol={data[PROTOCOL_OFFSET] ^ 0xFF}")
    for name, offset, size, _ in MANNERS:
        if len(data) >= offset + size:
            print(f"{name}={sum((data[offset + i] ^ 0xFF) << 8 * i for i in range(size))}")


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) >= 3 and sys.argv[1] == "set":
        set_fields(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) >= 4 and sys.argv[1] == "mailboxes":
        mailboxes(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 3 and sys.argv[1] == "read":
        read(sys.argv[2])
    else:
        sys.exit(__doc__)
