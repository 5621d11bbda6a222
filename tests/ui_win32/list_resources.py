#!/usr/bin/env python3
"""Lists the resources of a Windows executable, one "TYPE NAME LANGUAGE" line
each, from objdump's dump of its resource directory; with --expect, checks
that the list is exactly the expected one (exit status 1 otherwise).

  list_resources.py [--objdump PROGRAM] [--expect FILE] PROGRAM.exe
"""
import argparse
import re
import subprocess
import sys

TYPES = {1: "CURSOR", 2: "BITMAP", 3: "ICON", 4: "MENU", 5: "DIALOG", 6: "STRING",
         14: "GROUP_ICON", 16: "VERSION", 24: "MANIFEST"}


def resources(dump):
    """(type, name, language) of each leaf of the three-level directory."""
    found, path, inside = [], [], False
    for line in dump.splitlines():
        if line.startswith("The .rsrc Resource Directory"):
            inside = True
        if not inside:
            continue
        # The entry's depth is its indentation: two spaces per level.
        entry = re.match(r"^[0-9a-f]{3}(\s+)Entry: (?:ID: 0x([0-9a-f]+)|name: (.*?)),", line)
        if entry:
            level = (len(entry.group(1)) - 2) // 2
            key = int(entry.group(2), 16) if entry.group(2) else entry.group(3)
            path = path[:level] + [key]
        elif "Leaf:" in line and len(path) == 3:
            kind, name, language = path
            found.append(f"{TYPES.get(kind, kind)} {name} 0x{language:04x}")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("--expect")
    parser.add_argument("program")
    args = parser.parse_args()
    dump = subprocess.run([args.objdump, "-p", args.program], check=True,
                          capture_output=True, text=True).stdout
    listed = resources(dump)
    print("\n".join(listed))
    if args.expect:
        with open(args.expect, encoding="utf-8") as file:
            expected = [line.strip() for line in file if line.strip() and not line.startswith("#")]
        if listed != expected:
            print("list_resources: expected\n  " + "\n  ".join(expected), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
