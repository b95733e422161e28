#!/usr/bin/env python3
"""Replays recorded IMAP server sessions of the conformance corpus against
the library.

    run_conformance.py --corpus DIR --client PATH [--runner PATH] [--scratch DIR]
                       [--only NAME ...] [--verbose]

For each scenario of the table below it starts the corpus's replay server
on a free loopback port, runs `[runner] client SCENARIO PORT` (the client
program is linked to the shared library and knows what to do and conclude
in each scenario), waits for the server's verdict and checks both: the
client's last line and the verdict's result must be the expected ones.
The runner is how a Windows client runs here (tests/wine-run); the replay
server is always run by this interpreter, on this side.

One line per scenario, then "N passed, M failed" (", K skipped" when some
were skipped). Exit status 0 only when nothing failed. Without the corpus
directory everything is skipped (exit 0), unless CI=true, where that is a
failure. Ready and verdict files go under --scratch (default: a fresh
temporary directory), never beside the sources.

Every wait is bounded: the ready file within READY_TIMEOUT, the client
within CLIENT_TIMEOUT, the server's exit within SERVER_EXIT_TIMEOUT.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

READY_TIMEOUT = 10.0
CLIENT_TIMEOUT = 60.0
# Once the client has gone its socket is closed and the server ends within
# its end wait (1 s); a server still running then waits for a connection
# that will not come (a client that failed before connecting).
SERVER_EXIT_TIMEOUT = 10.0
POLL_INTERVAL = 0.05
# The server waits this long for the client to connect; a Windows client's
# first start under Wine can take a while.
ACCEPT_TIMEOUT = 30

# (scenario, expected verdict, expected client outcome, reason)
#
# The client's scripts state what a correct client concludes. A row whose
# verdict is not "matched" or whose client outcome is not "ok" records a
# known disagreement between the library and the scenario: the client
# outcome is then a piece of the expected "RESULT fail: ..." line, so the
# row fails as soon as the library behaves differently, better or worse,
# and the row is updated.
OK = "ok"
SCENARIOS = [
    # Greetings and capability lists.
    ("courier-greeting-capability", "matched", OK, None),
    ("exchange2003-greeting", "matched", OK, None),
    ("protonmail-greeting-capability", "matched", OK, None),
    ("qqmail-greeting", "matched", OK, None),
    ("uw-greeting-uppercase-rev", "matched", OK, None),
    ("dovecot-preauth-greeting", "matched", OK, None),
    ("uw-preauth-greeting", "matched", OK, None),
    # LOGIN, AUTHENTICATE PLAIN.
    ("dovecot-login-capability-code", "matched", OK, None),
    ("exchange-login", "matched", OK, None),
    ("exchange-authenticate-failed", "matched", OK, None),
    ("gmail-authenticate-plain", "matched", OK, None),
    ("gmail-login-capability-logout", "matched", OK, None),
    ("gmail-login-rejected", "matched", OK, None),
    ("yahoo-login-failed", "matched", OK, None),
    ("cyrus-authenticate-capability-code", "extra", "step 3 LOGIN(PLAIN): returned -1",
     "the library sends CAPABILITY after every login; the scenario has no such step (the new list "
     "is in the OK's [CAPABILITY] code), the server answers BAD and ImapLogin fails with "
     "TW_ERROR_UNEXPECTED_SERVER_RESPONSE, releasing the session"),
    ("rfc9051-login-response-codes", "matched", OK, None),
    ("lowercase-capability-list", "matched", OK, None),
    # Only the raw LIST's completion is checked until the listing calls exist.
    ("icloud-authenticate-list", "mismatch", "step 2 LOGIN(PLAIN): returned -1",
     "the library takes the capability list from the CAPABILITY answer only; iCloud names "
     "AUTH=PLAIN only in the greeting's [CAPABILITY] code, so ImapLogin declines PLAIN with "
     "TW_ERROR_INVALID_AUTHENTICATION_TYPE without sending it, and the LOGOUT that follows "
     "does not match the AUTHENTICATE step"),
    # AUTHENTICATE PLAIN without SASL-IR: ImapLogin declines it, the client
    # runs the exchange through the continuation, ImapWrite and ImapRead.
    ("yandex-authenticate-continuation", "matched", OK, None),
    ("strato-authenticate-list", "mismatch", "step 1 CONNECT: connect failed",
     "the library sends CAPABILITY after the greeting; the scenario has no such step (the list "
     "is in the greeting's [CAPABILITY] code) and expects AUTHENTICATE first, so the server "
     "ends the session with BYE and ImapConnect fails"),
    # Raw commands in the selected state, BYE.
    ("gmail-bad-command", "matched", OK, None),
    ("dovecot-noop-alert", "matched", "step 5 RESULT_TEXT_HAS(System shutdown in 10 minutes)",
     "the untagged OK [ALERT] before the NOOP's completion is read and dropped: no call hands "
     "its text to the application (the result text is the tagged \"NOOP complete.\")"),
    ("rfc3501-bye-autologout", "matched", OK, None),
    ("exchange-bye-mid-session", "matched", OK, None),
    # Left out for now: every other scenario needs mailbox selection records,
    # listings, FETCH, SEARCH, STATUS, APPEND, IDLE or NAMESPACE results,
    # which the library does not offer yet beyond raw ImapCommand.
]


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--corpus", required=True, help="the conformance corpus directory")
    p.add_argument("--client", required=True, help="the conformance_client program")
    p.add_argument("--runner", help="program that runs the client (e.g. tests/wine-run)")
    p.add_argument("--scratch", help="directory for ready and verdict files (default: temporary)")
    p.add_argument("--only", action="append", default=[], metavar="NAME",
                   help="run only this scenario (repeatable)")
    p.add_argument("--verbose", action="store_true", help="show the client's output for every scenario")
    return p.parse_args()


def client_command(args, *client_args):
    cmd = [args.runner] if args.runner else []
    return cmd + [args.client] + list(client_args)


def stop(proc):
    """Kills a process this driver started and reaps it (bounded)."""
    if proc.poll() is None:
        proc.kill()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass


def wait_for_file(path, proc, timeout):
    """True once path exists and is not empty; False on time-out or when
    proc exits first."""
    deadline = time.monotonic() + timeout
    for _ in range(int(timeout / POLL_INTERVAL) + 1):
        try:
            if os.path.getsize(path) > 0:
                return True
        except OSError:
            pass
        if proc.poll() is not None or time.monotonic() > deadline:
            return False
        time.sleep(POLL_INTERVAL)
    return False


def last_result_line(output):
    for line in reversed(output.splitlines()):
        if line.startswith("RESULT "):
            return line[len("RESULT "):].strip()
    return None


def indent(text, prefix="    "):
    return "".join(prefix + line + "\n" for line in text.rstrip("\n").splitlines())


def run_scenario(args, scratch, name, want_verdict, want_client):
    """Returns (passed, detail lines)."""
    work = os.path.join(scratch, name)
    os.makedirs(work, exist_ok=True)
    ready = os.path.join(work, "ready")
    verdict_path = os.path.join(work, "verdict.json")
    for f in (ready, verdict_path):
        if os.path.exists(f):
            os.remove(f)
    server_cmd = [sys.executable, os.path.join(args.corpus, "replay_server.py"), "serve", name,
                  "--port", "0", "--ready-file", ready, "--verdict", verdict_path,
                  "--accept-timeout", str(ACCEPT_TIMEOUT), "--transcript"]
    with open(os.path.join(work, "server.log"), "wb") as server_log:
        server = subprocess.Popen(server_cmd, stdout=server_log, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL)
    try:
        if not wait_for_file(ready, server, READY_TIMEOUT):
            return False, ["replay server not ready within %g s (status %s)" % (READY_TIMEOUT, server.poll())]
        with open(ready) as f:
            port = f.read().strip()

        client_out = ""
        client_status = None
        try:
            done = subprocess.run(client_command(args, name, port), stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                  timeout=CLIENT_TIMEOUT)
            client_out = done.stdout.decode("utf-8", "replace")
            client_status = done.returncode
        except subprocess.TimeoutExpired as e:
            client_out = (e.stdout or b"").decode("utf-8", "replace")
            client_out += "\n(client killed after %g s)\n" % CLIENT_TIMEOUT
        except OSError as e:
            client_out = "(client did not start: %s)\n" % e

        try:
            server.wait(timeout=SERVER_EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            stop(server)
            return False, ["replay server still running %g s after the client ended "
                           "(did the client connect?)" % SERVER_EXIT_TIMEOUT,
                           "client output:", indent(client_out).rstrip("\n")]
    finally:
        stop(server)

    verdict = None
    try:
        with open(verdict_path) as f:
            verdict = json.load(f)
    except (OSError, ValueError) as e:
        return False, ["no verdict (%s); server status %s" % (e, server.returncode),
                       "client output:", indent(client_out).rstrip("\n")]

    result = last_result_line(client_out)
    problems = []
    got_verdict = verdict.get("result")
    if got_verdict != want_verdict:
        problems.append("verdict %s, expected %s" % (got_verdict, want_verdict))
    if want_client == OK:
        if result != "ok" or client_status != 0:
            problems.append("client: %s (status %s)" % (result or "no RESULT line", client_status))
    elif result is None or not result.startswith("fail:") or want_client not in result:
        problems.append("client: %s (status %s), expected a failure with \"%s\""
                        % (result or "no RESULT line", client_status, want_client))

    details = []
    if problems or args.verbose:
        details.append("client output:")
        details.append(indent(client_out).rstrip("\n"))
    if problems and got_verdict != "matched":
        for key in ("step", "line", "expected", "actual", "reason", "extra"):
            if verdict.get(key):
                details.append("verdict %s: %s" % (key, verdict[key]))
        tail = verdict.get("transcript") or verdict.get("last") or []
        if tail:
            details.append("transcript (end):")
            for entry in tail[-20:]:
                details.append("    %s" % (entry,))
    return not problems, problems + details


def check_client_scripts(args, names):
    """Scenarios the client has a script for, or None when it cannot say."""
    try:
        done = subprocess.run(client_command(args, "--list"), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=CLIENT_TIMEOUT)
    except (OSError, subprocess.TimeoutExpired) as e:
        print("cannot list the client's scripts: %s" % e)
        return None
    if done.returncode != 0:
        print("cannot list the client's scripts (status %d)" % done.returncode)
        return None
    return set(done.stdout.decode("utf-8", "replace").split())


def main():
    args = parse_args()
    names = [row[0] for row in SCENARIOS]
    unknown = [n for n in args.only if n not in names]
    if unknown:
        print("not in the table: %s" % ", ".join(unknown))
        return 2
    rows = [row for row in SCENARIOS if not args.only or row[0] in args.only]

    if not os.path.isfile(os.path.join(args.corpus, "replay_server.py")):
        in_ci = os.environ.get("CI") == "true"
        if in_ci:
            print("conformance corpus not found at %s: under CI that is a failure" % args.corpus)
            print("0 passed, 1 failed, %d skipped" % len(rows))
            return 1
        print("conformance corpus not found at %s: %d scenarios skipped" % (args.corpus, len(rows)))
        print("0 passed, 0 failed, %d skipped" % len(rows))
        return 0

    failed = passed = 0
    scripts = check_client_scripts(args, names)
    if scripts is None:
        failed += 1
    else:
        unlisted = sorted(scripts - set(names))
        if unlisted:
            print("FAIL client scripts without a row in the table: %s" % ", ".join(unlisted))
            failed += 1

    scratch = args.scratch or tempfile.mkdtemp(prefix="tw-conformance-")
    os.makedirs(scratch, exist_ok=True)
    try:
        for name, want_verdict, want_client, reason in rows:
            if not os.path.isfile(os.path.join(args.corpus, "scenarios", name + ".imap")):
                print("FAIL %s: not in the corpus" % name)
                failed += 1
                continue
            t0 = time.monotonic()
            ok, details = run_scenario(args, scratch, name, want_verdict, want_client)
            elapsed = time.monotonic() - t0
            if ok:
                passed += 1
                note = ""
                if reason:
                    note = " [expected deviation: verdict %s, client %s: %s]" % (
                        want_verdict, "ok" if want_client == OK else "fails", reason)
                print("ok   %s (%.1f s)%s" % (name, elapsed, note))
            else:
                failed += 1
                print("FAIL %s (%.1f s)" % (name, elapsed))
                if reason:
                    print("    known deviation expected: %s" % reason)
            for line in details:
                print(indent(line).rstrip("\n"))
            sys.stdout.flush()
    finally:
        if not args.scratch:
            shutil.rmtree(scratch, ignore_errors=True)

    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
