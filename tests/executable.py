#!/usr/bin/env python3
"""Checks the Windows executable itself: a 32-bit x86 console program that
imports only Windows' own DLLs and carries its manifest as resource 1 of
type 24.

  executable.py OBJDUMP OBJCOPY EXE MANIFEST
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

SYSTEM_DLLS = re.compile(r"(kernel32|msvcrt|ucrtbase|api-ms-win-.*)\.dll", re.I)


def main():
    objdump, objcopy, exe, manifest = sys.argv[1:]
    headers = subprocess.run([objdump, "-f", "-p", exe], capture_output=True,
                             text=True, check=True).stdout
    problems = []
    for wanted in (r"file format pei-i386", r"Magic\s+010b\s+\(PE32\)",
                   r"Subsystem\s+00000003\s+\(Windows CUI\)"):
        if not re.search(wanted, headers):
            problems.append(f"no {wanted!r} in the headers")
    dlls = re.findall(r"DLL Name: (\S+)", headers)
    problems += [f"imports {dll}" for dll in dlls if not SYSTEM_DLLS.fullmatch(dll)]

    # The resource tree as objdump prints it: type, then name, then language.
    tree = re.search(r"Entry: ID: 0x000018,.*\n.*\n\w+\s+Entry: ID: 0x000001,.*"
                     r"\n.*\n.*\n\w+\s+Leaf: Addr: 0x(\w+), Size: 0x(\w+)", headers)
    section = re.search(r"\.rsrc\s+\w+\s+(\w+)", subprocess.run(
        [objdump, "-h", exe], capture_output=True, text=True, check=True).stdout)
    base = re.search(r"ImageBase\s+(\w+)", headers)
    if not (tree and section and base):
        problems.append("no resource 1 of type 24")
    else:
        with tempfile.NamedTemporaryFile() as rsrc:
            subprocess.run([objcopy, "-O", "binary", "-j", ".rsrc", exe, rsrc.name],
                           check=True)
            start = int(tree[1], 16) - (int(section[1], 16) - int(base[1], 16))
            found = rsrc.read()[start:start + int(tree[2], 16)]
        if found != Path(manifest).read_bytes():
            problems.append(f"the manifest resource holds {found!r}")

    print(*problems, sep="\n") if problems else print(
        f"PE32 console i386, imports {', '.join(dlls)}, manifest embedded")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
