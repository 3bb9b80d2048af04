#!/usr/bin/env python3
"""Reads the resources of the built files back from their PE images and
checks what Windows and Explorer read from them: the manifest of
KivvetLE.exe, the version resource of both files, every tray icon at
every size. Prints one line per finding; exits 1 on any fault.

  peresources.py VERSION KivvetLE.exe KivvetLE.dll [setup.exe]
"""
import struct
import sys
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:  # Debian's python3-pefile beside another interpreter
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICONS = ["APPICON", "GETICON", "BLANKICON", "VOICE1ICON", "VOICE2ICON", "NOGOODICON"]
SIZES = [16, 20, 24, 32, 40, 48]
WIN10_AND_11 = {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
faults = []


def check(ok, what):
    print(("  ok: " if ok else "  FAILED: ") + what)
    if not ok:
        faults.append(what)


def resources(pe):
    """{(type, name or id): bytes} of the first language of each resource."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for entry in kind.directory.entries:
            name = str(entry.name) if entry.name else entry.id
            data = entry.directory.entries[0].data.struct
            found[(kind.id, name)] = pe.get_data(data.OffsetToData, data.Size)
    return found


def check_version(pe, path, version, description_wanted):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    numbers = [int(n) for n in version.split(".")] + [0]
    check(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS)
          == ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3]),
          f"{path}: file version {version}")
    check(strings.get("ProductName") == "Kivvet LE", f"{path}: product name Kivvet LE")
    check(strings.get("FileVersion") == version and strings.get("ProductVersion") == version,
          f"{path}: version texts {version}")
    description = strings.get("FileDescription", "")
    check(description_wanted(description), f"{path}: description {description!r}")


def check_manifest(found, path):
    text = found.get((RT_MANIFEST, 1), b"")
    check(bool(text), f"{path}: RT_MANIFEST 1")
    if not text:
        return
    root = ET.fromstring(text)
    every = list(root.iter())
    tag = lambda e: e.tag.rsplit("}", 1)[-1]
    controls = [e.attrib for e in every if tag(e) == "assemblyIdentity"
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    check(controls and controls[0].get("version") == "6.0.0.0"
          and controls[0].get("publicKeyToken") == "6595b64144ccf1df",
          f"{path}: depends on Common-Controls 6.0.0.0")
    values = {tag(e): (e.text or "").strip() for e in every if tag(e) in ("dpiAware", "dpiAwareness")}
    check(values.get("dpiAwareness", "").split(",")[0].strip() == "PerMonitorV2"
          and values.get("dpiAware") == "true/pm", f"{path}: DPI awareness {values}")
    ids = {e.get("Id") for e in every if tag(e) == "supportedOS"}
    check(ids == WIN10_AND_11, f"{path}: supported on Windows 10 and 11 only")
    levels = [e.get("level") for e in every if tag(e) == "requestedExecutionLevel"]
    check(levels == ["asInvoker"], f"{path}: runs as invoker")
    check(not any(tag(e) == "activeCodePage" for e in every), f"{path}: the system's code page")


def check_icons(found, path):
    for name in ICONS:
        group = found.get((RT_GROUP_ICON, name), b"")
        sizes = []
        if len(group) >= 6:
            count = struct.unpack_from("<H", group, 4)[0]
            for i in range(count):
                width, height, _, _, _, _, _, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
                image = found.get((RT_ICON, ident), b"")
                header_width = struct.unpack_from("<i", image, 4)[0] if len(image) >= 8 else -1
                sizes.append(width if width == height == header_width else -1)
        check(sorted(sizes) == SIZES, f"{path}: {name} at {sorted(sizes)} pixels")


def main(argv):
    version, exe, dll = argv[1:4]
    pe = pefile.PE(exe)
    found = resources(pe)
    check_manifest(found, exe)
    check_version(pe, exe, version, lambda d: d.startswith("Kivvet LE") and "にゃ" in d)
    check_icons(found, exe)
    pe = pefile.PE(dll)
    check_version(pe, dll, version, lambda d: "にゃ" in d)
    check((RT_MANIFEST, 1) not in resources(pe), f"{dll}: no manifest in the resource library")
    for setup in argv[4:]:
        pe = pefile.PE(setup)
        check_version(pe, setup, version, lambda d: "Kivvet LE" in d)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
