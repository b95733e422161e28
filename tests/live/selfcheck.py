#!/usr/bin/env python3
"""selfcheck.py - checks a server started by dovecot.sh with Python's imaplib.

    python3 tests/live/selfcheck.py DIR/ports.env

Logs in every user (LOGIN and AUTHENTICATE PLAIN), prints the capabilities,
the mailbox list with counts and the INBOX of tw1 (flags, sizes, subjects),
and times a refused password. Exit status 0 when every check holds.
"""
import imaplib
import sys
import time

# Dovecot names AUTH= mechanisms only before login and UNSELECT only after.
EXPECTED_CAPS_BEFORE = ["IMAP4rev1", "IDLE", "SASL-IR", "AUTH=PLAIN", "AUTH=LOGIN", "ID", "LITERAL+"]
EXPECTED_CAPS_AFTER = ["IMAP4rev1", "IDLE", "UNSELECT", "ID", "LITERAL+"]
EXPECTED_COUNTS = {"INBOX": 7, "Archive": 2, "Work": 0, "Work/Projects": 1, "Entw&APw-rfe": 1}
TIMEOUT = 5
MAX_FAIL_SECS = 0.2


def read_env(path):
    env = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line or line.startswith("#") or "=" not in line:
                continue
            key, value = line.split("=", 1)
            if len(value) >= 2 and value[0] == value[-1] == "'":
                value = value[1:-1]
            env[key] = value
    return env


failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def check_caps(c, when, expected):
    typ, data = c.capability()
    caps = [x.upper() for x in data[0].decode().split()]
    print("CAPABILITY %s: %s" % (when, data[0].decode()))
    for cap in expected:
        check(cap.upper() in caps, "capability %s %s" % (cap, when))


def connect(env):
    return imaplib.IMAP4(env["TW_LIVE_HOST"], int(env["TW_LIVE_IMAP_PORT"]), timeout=TIMEOUT)


def main():
    env = read_env(sys.argv[1])
    users = []
    n = 1
    while "TW_LIVE_USER%d" % n in env:
        users.append((env["TW_LIVE_USER%d" % n], env["TW_LIVE_PASS%d" % n]))
        n += 1
    check(len(users) >= 3, "users in ports.env: %s" % ", ".join(u for u, _ in users))

    m = connect(env)
    check_caps(m, "before login", EXPECTED_CAPS_BEFORE)

    # LOGIN for every user; imaplib quotes the arguments (tw3's password
    # needs \" and \\ inside the quoted string).
    for user, password in users:
        c = connect(env)
        typ, data = c.login(user, password)
        check(typ == "OK", "LOGIN %s %r -> %s %s" % (user, password, typ, data))
        c.logout()

    # AUTHENTICATE PLAIN with an initial response (SASL-IR).
    for user, password in users:
        c = connect(env)
        typ, data = c.authenticate("PLAIN", lambda _: ("\0%s\0%s" % (user, password)).encode())
        check(typ == "OK", "AUTHENTICATE PLAIN %s -> %s" % (user, typ))
        c.logout()

    # ANONYMOUS.
    c = connect(env)
    typ, data = c.authenticate("ANONYMOUS", lambda _: b"selfcheck")
    check(typ == "OK", "AUTHENTICATE ANONYMOUS -> %s" % typ)
    c.logout()

    # Wrong passwords and an unknown user, answered at once (several times:
    # no growing penalty), by LOGIN and by AUTHENTICATE PLAIN.
    for user, password in [(users[0][0], "wrong")] * 3 + [("nosuch", "wrong"), (users[2][0], "pa\"ss")]:
        c = connect(env)
        t0 = time.monotonic()
        try:
            c.login(user, password)
            refused = False
        except imaplib.IMAP4.error:
            refused = True
        dt = time.monotonic() - t0
        check(refused and dt < MAX_FAIL_SECS, "LOGIN %s %r refused in %.3f s" % (user, password, dt))
        t0 = time.monotonic()
        try:
            c.authenticate("PLAIN", lambda _: ("\0%s\0%s" % (user, password)).encode())
            refused = False
        except imaplib.IMAP4.error:
            refused = True
        dt = time.monotonic() - t0
        check(refused and dt < MAX_FAIL_SECS, "AUTHENTICATE PLAIN %s refused in %.3f s" % (user, dt))
        c.logout()
    c = connect(env)
    t0 = time.monotonic()
    typ, _ = c.login(users[0][0], users[0][1])
    dt = time.monotonic() - t0
    check(typ == "OK" and dt < MAX_FAIL_SECS, "good login after failures in %.3f s" % dt)

    check_caps(c, "after login", EXPECTED_CAPS_AFTER)
    typ, data = c.list('""', '"*"')
    print("LIST \"\" \"*\":")
    for line in data:
        print("   ", line.decode())
    names = [line.decode().rsplit(" ", 1)[1].strip('"') for line in data]
    check(sorted(names) == sorted(EXPECTED_COUNTS), "mailboxes %s" % names)
    typ, data = c.lsub('""', '"*"')
    print("LSUB \"\" \"*\":", [line.decode() for line in data])
    for name, count in EXPECTED_COUNTS.items():
        typ, data = c.status('"%s"' % name, "(MESSAGES UNSEEN UIDNEXT UIDVALIDITY)")
        print("   ", data[0].decode())
        check(typ == "OK" and ("MESSAGES %d " % count) in data[0].decode(), "STATUS %s MESSAGES %d" % (name, count))

    typ, data = c.select("INBOX")
    check(typ == "OK" and data[0] == b"7", "SELECT INBOX EXISTS %s" % data[0].decode())
    typ, data = c.fetch("1:*", "(UID FLAGS RFC822.SIZE INTERNALDATE BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    for item in data:
        if isinstance(item, tuple):
            print("   ", item[0].decode(), item[1].decode().strip())
    typ, data = c.search(None, "UNSEEN")
    check(data[0] == b"1 3 4 5 7", "SEARCH UNSEEN: %s" % data[0].decode())
    typ, data = c.response("UIDVALIDITY")
    check(data[0] == b"1700000001", "INBOX UIDVALIDITY %s" % data[0].decode())
    c.logout()
    m.logout()

    print("all checks passed" if not failures else "%d check(s) failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
