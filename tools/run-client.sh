#!/bin/bash
# The main job: builds the library and its command-line client on Linux,
# starts a local Dovecot with sample mail (tests/live), and runs the client
# against it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/setup-debian.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/linux -j2 --target twimap >/dev/null

live=build/linux/live-client
bash tests/live/dovecot.sh start "$live" >/dev/null
trap 'bash tests/live/dovecot.sh stop "$live" >/dev/null' EXIT
# shellcheck disable=SC1091
. "$live/ports.env"

client=build/linux/bin/twimap
"$client" version
"$client" error 0x80042736
"$client" login "$TW_LIVE_HOST" "$TW_LIVE_IMAP_PORT" "$TW_LIVE_USER1" "$TW_LIVE_PASS1" plain
"$client" raw "$TW_LIVE_HOST" "$TW_LIVE_IMAP_PORT" "$TW_LIVE_USER1" "$TW_LIVE_PASS1" \
  'LIST "" "*"' 'STATUS INBOX (MESSAGES UNSEEN)' 'EXAMINE INBOX' 'FETCH 1:3 (FLAGS RFC822.SIZE ENVELOPE)'
