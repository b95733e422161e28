#!/usr/bin/env python3
"""Reads the resources of a built TWMAPAV9.DLL and checks them.

Usage: check_pe_resources.py TWMAPAV9.DLL resources/errors.txt

- the message table (type 11, English 0x409) holds exactly the entries of
  errors.txt, each text followed by CR LF, ids 0x80040000 | n;
- the version record (type 16) reads 9.5.9530.3421 and carries the
  library's description.

It works on the file alone, so it checks a 32-bit DLL on a machine that
cannot run one.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "resources"))
import generate_errors  # noqa: E402

DESCRIPTION = "Tidewire Internet Message Access Protocol Library"


def resources(img):
    pe = struct.unpack_from("<I", img, 0x3C)[0]
    if img[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE image")
    nsec = struct.unpack_from("<H", img, pe + 6)[0]
    optsz = struct.unpack_from("<H", img, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", img, opt)[0]
    ddir = opt + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", img, ddir + 8 * 2)[0]
    sections = []
    for i in range(nsec):
        s = opt + optsz + 40 * i
        vsz, va, rawsz, rawptr = struct.unpack_from("<IIII", img, s + 8)
        sections.append((va, max(vsz, rawsz), rawptr))

    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise SystemExit("address 0x%x is in no section" % rva)

    base = offset(rsrc_rva)

    def entries(doff):
        named, ids = struct.unpack_from("<HH", img, base + doff + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", img, base + doff + 16 + 8 * i)

    found = {}
    for rtype, t_off in entries(0):
        for rname, n_off in entries(t_off & 0x7FFFFFFF):
            for lang, l_off in entries(n_off & 0x7FFFFFFF):
                drva, dsize = struct.unpack_from("<II", img, base + l_off)
                found[(rtype, rname, lang)] = img[offset(drva):offset(drva) + dsize]
    return found


def message_table(data):
    texts = {}
    for block in range(struct.unpack_from("<I", data, 0)[0]):
        low, high, off = struct.unpack_from("<III", data, 4 + 12 * block)
        for mid in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, off)
            raw = data[off + 4:off + length]
            texts[mid] = raw.decode("utf-16-le" if flags == 1 else "latin-1").rstrip("\0")
            off += length
    return texts


def main():
    img = open(sys.argv[1], "rb").read()
    entries = generate_errors.parse(sys.argv[2])
    res = resources(img)
    failures = []

    table = res.get((11, 1, 0x409))
    if table is None:
        failures.append("no English message table")
    else:
        texts = message_table(table)
        want = {e.code: e.text.replace("%", "%%") + "\r\n" for e in entries}
        if len(texts) != len(want):
            failures.append("message table has %d entries, errors.txt %d" % (len(texts), len(want)))
        for code, text in sorted(want.items()):
            if texts.get(code) != text:
                failures.append("0x%08X: %r, expected %r" % (code, texts.get(code), text))

    version = res.get((16, 1, 0x409))
    if version is None:
        failures.append("no version record")
    else:
        sig = version.find(struct.pack("<I", 0xFEEF04BD))
        ms, ls = struct.unpack_from("<II", version, sig + 8)
        got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if got != (9, 5, 9530, 3421):
            failures.append("file version %d.%d.%d.%d" % got)
        if DESCRIPTION.encode("utf-16-le") not in version:
            failures.append("version record lacks the description")

    for f in failures[:20]:
        print("FAIL: " + f)
    print("%d message-table entries checked, %d problems" % (len(entries), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
