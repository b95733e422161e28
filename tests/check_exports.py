#!/usr/bin/env python3
"""Checks the exports of the built library against the .def file.

Usage: check_exports.py EXPORTS.def PLATFORM_EXPORTS.txt twmapav9.h LIBRARY [OBJDUMP]

- every export that the .def file lists (uncommented) is declared in the
  public header, and every Imap name the header declares is in the .def
  (commented or not);
- the library exports exactly the uncommented .def names (undecorated on
  Windows) and, on Linux, the platform names of PLATFORM_EXPORTS.txt;
- a Windows DLL imports only system DLLs.
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"}


def def_names(path):
    active, listed = [], []
    in_exports = False
    for raw in open(path, encoding="ascii"):
        line = raw.strip()
        if not line:
            continue
        if line.upper() == "EXPORTS":
            in_exports = True
            continue
        if not in_exports:
            continue
        commented = line.startswith(";")
        name = line.lstrip("; ").split()[0].split("@", 1)[0]
        if not name.startswith("Imap"):
            continue
        listed.append(name)
        if not commented:
            active.append(name)
    return active, listed


def header_names(path):
    text = open(path, encoding="ascii").read()
    return set(re.findall(r"\bWINAPI\s+(Imap\w+)\s*\(", text))


def elf_exports(lib):
    out = subprocess.run(["nm", "-D", "--defined-only", lib], check=True,
                         capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[1] in ("T", "W", "i"):
            names.add(parts[2].split("@", 1)[0])
    return names, set()


def pe_exports(lib, objdump):
    out = subprocess.run([objdump, "-p", lib], check=True,
                         capture_output=True, text=True).stdout
    names, imports = set(), set()
    in_table = False
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            imports.add(m.group(1).lower())
        if "[Ordinal/Name Pointer] Table" in line:
            in_table = True
            continue
        if in_table:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if m:
                names.add(m.group(1))
            elif line.strip() == "":
                in_table = False
    return names, imports


def main():
    def_path, extra_path, header_path, lib = sys.argv[1:5]
    objdump = sys.argv[5] if len(sys.argv) > 5 else "i686-w64-mingw32-objdump"
    active, listed = def_names(def_path)
    declared = header_names(header_path)
    failures = []
    for n in active:
        if n not in declared:
            failures.append("%s is exported but not declared in the header" % n)
    for n in sorted(declared - set(listed)):
        failures.append("%s is declared in the header but missing from the .def file" % n)
    if len(set(listed)) != len(listed):
        failures.append("the .def file lists a name twice")

    if lib.lower().endswith(".dll"):
        exported, imports = pe_exports(lib, objdump)
        expected = set(active)
        for dll in sorted(imports - SYSTEM_DLLS):
            failures.append("the DLL imports %s, which is not a system DLL" % dll)
        if "ws2_32.dll" in imports:
            failures.append("the DLL links the socket library instead of loading it")
    else:
        exported, _ = elf_exports(lib)
        extra = [l.split("#", 1)[0].strip() for l in open(extra_path, encoding="ascii")]
        expected = set(active) | {e for e in extra if e}
    for n in sorted(expected - exported):
        failures.append("%s is not exported by %s" % (n, lib))
    for n in sorted(exported - expected):
        failures.append("%s is exported by %s but not listed" % (n, lib))

    for f in failures:
        print("FAIL: " + f)
    print("%d exports checked, %d problems" % (len(expected), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
