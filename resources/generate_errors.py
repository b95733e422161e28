#!/usr/bin/env python3
"""Generate the library's error tables from resources/errors.txt.

From the one list of error codes and texts this script writes:

  --header FILE   the public C header of TW_ERROR_ constants (include/twerrors.h)
  --table FILE    the C++ message table read by the Linux FormatMessage stand-in
  --mc FILE       the message-compiler source from which windmc builds the
                  message-table resource of TWMAPAV9.DLL

Any subset of outputs may be asked for; with none, the source is only checked.
--check-header FILE regenerates the header in memory and fails if FILE differs,
so a stale committed header is caught.

The source is checked before anything is written: 260 entries in ascending
order, numbers 10000..12999, unique numbers, names and texts, names beginning
with TW_ERROR_, texts of printable ASCII. Any fault is reported with its line
number and the script exits with status 1. Standard library only.
"""

import argparse
import os
import re
import sys
import tempfile

# The message table carries exactly this many entries: every named code plus
# the unnamed "No error".
EXPECTED_COUNT = 260

NUMBER_MIN = 10000
NUMBER_MAX = 12999

# Every code is the low word ORed into this base: severity "warning" (2) in
# bits 31-30 and facility 4 ("interface") in bits 27-16.
CODE_BASE = 0x80040000

NAME_RE = re.compile(r"TW_ERROR_[A-Z0-9]+(?:_[A-Z0-9]+)*\Z")
NO_NAME = "-"

SOURCE_NAME = "resources/errors.txt"
SCRIPT_NAME = "resources/generate_errors.py"


class SourceError(Exception):
    """The source file broke one or more rules; args[0] lists them."""


class Entry:
    __slots__ = ("number", "name", "text", "line")

    def __init__(self, number, name, text, line):
        self.number = number
        self.name = name  # None for an entry without a constant
        self.text = text
        self.line = line

    @property
    def code(self):
        return CODE_BASE | self.number


def parse(path):
    """Read and check the source; return its entries in ascending order.

    Raises SourceError naming every faulty line, so one run shows all the
    faults at once.
    """
    faults = []
    entries = []
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise SourceError("%s: cannot read: %s" % (path, e.strerror))

    for lineno, raw in enumerate(data.split(b"\n"), 1):
        where = "%s:%d" % (path, lineno)
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        try:
            line = raw.decode("ascii")
        except UnicodeDecodeError:
            faults.append("%s: line is not ASCII" % where)
            continue
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split(None, 2)
        if len(fields) < 3:
            faults.append("%s: expected NUMBER NAME TEXT" % where)
            continue
        number_s, name, text = fields
        if not number_s.isdigit():
            faults.append("%s: number %r is not decimal" % (where, number_s))
            continue
        number = int(number_s)
        if not NUMBER_MIN <= number <= NUMBER_MAX:
            faults.append("%s: number %d is outside %d..%d"
                          % (where, number, NUMBER_MIN, NUMBER_MAX))
        if name == NO_NAME:
            name = None
        elif not NAME_RE.match(name):
            faults.append("%s: name %r must be TW_ERROR_ followed by "
                          "upper-case words" % (where, name))
        faults.extend("%s: %s" % (where, f) for f in text_faults(text))
        entries.append(Entry(number, name, text, lineno))

    faults.extend(table_faults(path, entries))
    if faults:
        raise SourceError("\n".join(faults))
    return entries


def text_faults(text):
    """Return what is wrong with one text (nothing for a good one)."""
    faults = []
    if text != text.strip():
        faults.append("text has trailing blanks")
    bad = sorted({c for c in text if not " " <= c <= "~"})
    if bad:
        faults.append("text contains control characters %r" % "".join(bad))
    if text.endswith("."):
        # Also keeps a lone "." out of the .mc file, where it would end the
        # message early.
        faults.append("text ends with a period")
    if "*/" in text:
        faults.append("text contains '*/', which would end a C comment")
    return faults


def table_faults(path, entries):
    """Return the faults of the whole list: count, order, duplicates."""
    faults = []
    if len(entries) != EXPECTED_COUNT:
        faults.append("%s: %d entries, expected %d"
                      % (path, len(entries), EXPECTED_COUNT))
    for prev, cur in zip(entries, entries[1:]):
        if cur.number <= prev.number:
            faults.append("%s:%d: number %d does not follow %d (line %d); "
                          "keep the entries in ascending order"
                          % (path, cur.line, cur.number, prev.number,
                             prev.line))
    for what, key in (("number", lambda e: e.number),
                      ("name", lambda e: e.name),
                      ("text", lambda e: e.text)):
        seen = {}
        for e in entries:
            k = key(e)
            if k is None:
                continue
            if k in seen:
                faults.append("%s:%d: duplicate %s %r (first on line %d)"
                              % (path, e.line, what, k, seen[k]))
            else:
                seen[k] = e.line
    return faults


# --- C header -------------------------------------------------------------

HEADER_TOP = """\
/*
 * twerrors.h - error codes of the Tidewire IMAP library.
 *
 * Generated by %(script)s from
 * %(source)s; change that file and regenerate rather than
 * editing this one.
 *
 * ImapGetLastError returns these codes and ImapGetErrorString gives their
 * texts. Each code is 0x%(base)08X | n with n from %(lo)d to %(hi)d; a socket
 * error number n (Winsock, 10004 to 11004) is reported as 0x%(base)08X | n.
 *
 * The constants are unsigned int literals (suffix U). unsigned int is 32 bits
 * on every ABI the library is built for (32-bit Windows, 32- and 64-bit
 * Linux), exactly as wide as DWORD, so a code compares equal whether the
 * caller keeps it in a DWORD or in an int, ~ and - stay 32-bit, and the
 * constants can be used in #if. A UL suffix would make them 64-bit on 64-bit
 * Linux, where an int holding a code would sign-extend and compare unequal;
 * a (DWORD) cast would rule out #if. Compiles alone as C and as C++.
 */
#ifndef TWERRORS_H
#define TWERRORS_H
"""

HEADER_BOTTOM = """
#endif /* TWERRORS_H */
"""


def make_header(entries):
    named = [e for e in entries if e.name]
    width = max(len(e.name) for e in named)
    out = [HEADER_TOP % {"script": SCRIPT_NAME, "source": SOURCE_NAME,
                         "base": CODE_BASE, "lo": NUMBER_MIN,
                         "hi": NUMBER_MAX}]
    for e in named:
        out.append("\n/* %d: %s */\n#define %-*s 0x%08XU\n"
                   % (e.number, e.text, width, e.name, e.code))
    out.append(HEADER_BOTTOM)
    return "".join(out)


# --- C++ table ------------------------------------------------------------

TABLE_TOP = """\
/*
 * messagetable.cpp - the library's error texts for the FormatMessage
 * stand-in.
 *
 * Generated by %(script)s from
 * %(source)s; do not edit. Sorted by message id. Each text is
 * held as the message-table resource of the Windows build holds it: followed
 * by CR LF, with any '%%' doubled.
 */
#include "platform/messagetable.h"

const MESSAGETABLEENTRY g_MessageTable[] = {
"""

TABLE_BOTTOM = """\
};

const int g_cMessageTable =
    static_cast<int>(sizeof(g_MessageTable) / sizeof(g_MessageTable[0]));
"""


def c_string(text):
    """Return text as a C string literal body (printable ASCII in)."""
    # '?' is escaped so no pair of them can start a trigraph.
    return (text.replace("\\", "\\\\").replace('"', '\\"')
            .replace("?", "\\?"))


def make_table(entries):
    out = [TABLE_TOP % {"script": SCRIPT_NAME, "source": SOURCE_NAME}]
    for e in entries:
        # The same characters as windmc stores, so both builds hand
        # FormatMessage identical texts.
        out.append('    { 0x%08Xu, "%s\\r\\n" }, /* %d %s */\n'
                   % (e.code, c_string(mc_text(e.text)), e.number,
                      e.name or "(no constant)"))
    out.append(TABLE_BOTTOM)
    return "".join(out)


# --- message-compiler source ----------------------------------------------

MC_TOP = """\
; Message table of TWMAPAV9.DLL, generated by %(script)s
; from %(source)s; do not edit.
;
; Severity Warning (2) and facility Interface (4) put every id at
; 0x80040000 | MessageId, the codes the library reports.

MessageIdTypedef=DWORD
SeverityNames=(Warning=0x2)
FacilityNames=(Interface=0x4)
LanguageNames=(English=0x409:MSG00409)

"""


def mc_text(text):
    """Escape a text for the message compiler.

    '%' starts an insert or escape there; '%%' is a literal percent sign,
    which windmc stores unchanged, leaving it to FormatMessage.
    """
    return text.replace("%", "%%")


def make_mc(entries):
    out = [MC_TOP % {"script": SCRIPT_NAME, "source": SOURCE_NAME}]
    for e in entries:
        out.append("MessageId=%d\n" % e.number)
        out.append("Severity=Warning\n")
        out.append("Facility=Interface\n")
        if e.name:
            out.append("SymbolicName=%s\n" % e.name)
        out.append("Language=English\n")
        out.append("%s\n.\n\n" % mc_text(e.text))
    return "".join(out)


# --- driver ---------------------------------------------------------------

def write_file(path, content, newline="\n"):
    """Replace path with content, writing each line end as newline.

    A failed run leaves no half-written file behind.
    """
    directory = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(dir=directory, prefix=".tmp-",
                               suffix=os.path.basename(path))
    try:
        with os.fdopen(fd, "w", encoding="ascii", newline=newline) as f:
            f.write(content)
        # mkstemp creates the file readable by its owner only; give it the
        # mode an ordinary new file would have.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def check_file(path, expected):
    """Return None when path holds expected, else a message saying why not."""
    try:
        with open(path, "r", encoding="ascii", newline="") as f:
            actual = f.read()
    except OSError as e:
        return "%s: cannot read: %s" % (path, e.strerror)
    except UnicodeDecodeError:
        return "%s: is not ASCII" % path
    if actual == expected:
        return None
    old = actual.splitlines()
    new = expected.splitlines()
    for i, (a, b) in enumerate(zip(old, new), 1):
        if a != b:
            return ("%s:%d: differs from the generated header\n"
                    "  file:      %s\n  generated: %s" % (path, i, a, b))
    return ("%s: has %d lines, the generated header %d"
            % (path, len(old), len(new)))


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Generate the error tables from the error list.")
    parser.add_argument("source", help="the error list (resources/errors.txt)")
    parser.add_argument("--header", metavar="FILE",
                        help="write the C header of TW_ERROR_ constants")
    parser.add_argument("--table", metavar="FILE",
                        help="write the C++ message table")
    parser.add_argument("--mc", metavar="FILE",
                        help="write the message-compiler source for windmc")
    parser.add_argument("--check-header", metavar="FILE",
                        help="fail if FILE differs from the generated header")
    args = parser.parse_args(argv)

    try:
        entries = parse(args.source)
    except SourceError as e:
        sys.stderr.write("%s\n%s: %s is not valid; nothing written\n"
                         % (e.args[0], parser.prog, args.source))
        return 1

    if args.check_header:
        problem = check_file(args.check_header, make_header(entries))
        if problem:
            sys.stderr.write(
                "%s\n%s is out of date; regenerate it with\n"
                "  python3 %s %s --header %s\n"
                % (problem, args.check_header, sys.argv[0], args.source,
                   args.check_header))
            return 1

    # windmc keeps the line ends of the .mc file in the texts it stores, and
    # the resource must hold CR LF after each text, so the .mc file is
    # written with CR LF line ends.
    outputs = ((args.header, make_header, "\n"),
               (args.table, make_table, "\n"),
               (args.mc, make_mc, "\r\n"))
    for path, make, newline in outputs:
        if path:
            try:
                write_file(path, make(entries), newline)
            except OSError as e:
                sys.stderr.write("%s: cannot write %s: %s\n"
                                 % (parser.prog, path, e.strerror))
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
