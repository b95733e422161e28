#!/bin/bash
# dovecot.sh - a throwaway Dovecot IMAP server on loopback for the live tests.
#
#   dovecot.sh start DIR   (re)creates DIR with a private configuration, users
#                          and mail (tests/live/mail/layout.txt), starts the
#                          server and writes DIR/ports.env once it answers
#   dovecot.sh stop DIR    stops the server started in DIR; nothing running
#                          is not an error
#
# Needs root (the server switches to the dovecot and dovenull users). It reads
# only DIR/dovecot.conf: the system's /etc/dovecot, its state directory and
# its ports 143/993 are never touched. The port is picked from 20000-29999
# (TW_LIVE_PORT_BASE / TW_LIVE_PORT_SPAN change that), below the kernel's
# range for outgoing connections, so no client socket can take it between the
# pick and the bind; a port taken anyway is retried with another.
#
# DIR/ports.env holds KEY=VALUE lines (values with shell characters in single
# quotes, so the file can also be sourced by sh): TW_LIVE_HOST,
# TW_LIVE_IMAP_PORT, TW_LIVE_USERn / TW_LIVE_PASSn, TW_LIVE_DIR, TW_LIVE_LOG.
# It exists only while the server runs.

set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
MAIL_SRC=$HERE/mail
LAYOUT=$MAIL_SRC/layout.txt
MARKER=.tidewire-live          # marks a directory this script may wipe
HOST=127.0.0.1
PORT_BASE=${TW_LIVE_PORT_BASE:-20000}   # ports are picked from BASE .. BASE+SPAN-1
PORT_SPAN=${TW_LIVE_PORT_SPAN:-10000}
BIND_TRIES=5                   # fresh ports tried when the bind fails
READY_STEPS=100                # 100 x 0.1 s until the greeting arrives
STOP_STEPS=100                 # 100 x 0.1 s after SIGTERM, then SIGKILL

die() { echo "dovecot.sh: $*" >&2; exit 1; }

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }

# The master's pid if the server of this DIR is running, else nothing.
running_pid() {
    local pidfile=$DIR/run/master.pid pid
    [ -f "$pidfile" ] || return 0
    pid=$(tr -dc '0-9' < "$pidfile")
    [ -n "$pid" ] || return 0
    # Only a process started with this DIR's config is ours (the pid may have
    # been reused since).
    if tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$DIR/dovecot.conf"; then
        echo "$pid"
    fi
}

# True while process $1 runs. An exited master waits as a zombie until init
# reaps it, which can take a second or two here: a zombie counts as gone.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# True while something listens on 127.0.0.1:$1 (IPv4 table, hex port, state 0A).
port_listening() {
    local hex
    hex=$(printf '%04X' "$1")
    awk -v p=":$hex" '$2 ~ p"$" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6
}

# True while any TCP socket has $1 as its local port.
port_in_use() {
    local hex
    hex=$(printf '%04X' "$1")
    awk -v p=":$hex" '$2 ~ p"$" { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6
}

# A port in our range that no TCP socket uses.
pick_port() {
    local i p
    for i in 1 2 3 4 5 6 7 8 9 10; do
        p=$((PORT_BASE + RANDOM % PORT_SPAN))
        if ! port_in_use "$p"; then
            echo "$p"
            return 0
        fi
    done
    die "no free port found in $PORT_BASE-$((PORT_BASE + PORT_SPAN - 1))"
}

# True when an IMAP greeting arrives on $HOST:$1 within a second.
greets() {
    local line=""
    (
        exec 3<>"/dev/tcp/$HOST/$1" || exit 1
        read -r -t 1 line <&3 || exit 1
        exec 3>&-
        case "$line" in "* OK"*) exit 0 ;; *) exit 1 ;; esac
    ) 2>/dev/null
}

do_stop() {
    local pid port="" i
    pid=$(running_pid)
    if [ -f "$DIR/ports.env" ]; then
        port=$(sed -n 's/^TW_LIVE_IMAP_PORT=//p' "$DIR/ports.env")
    fi
    rm -f "$DIR/ports.env"
    [ -n "$pid" ] || return 0
    # The master stops its children, waits a second for its log process and
    # exits: about 1 s in all.
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < STOP_STEPS; i++)); do
        alive "$pid" || break
        sleep 0.1
    done
    if alive "$pid"; then
        echo "dovecot.sh: master $pid ignored SIGTERM, killing it" >&2
        kill -KILL "$pid" 2>/dev/null || true
        for ((i = 0; i < 20; i++)); do
            alive "$pid" || break
            sleep 0.1
        done
    fi
    alive "$pid" && die "master $pid is still running"
    # The login processes hold the listening socket too; they leave right
    # after the master.
    if [ -n "$port" ]; then
        for ((i = 0; i < 30; i++)); do
            port_listening "$port" || return 0
            sleep 0.1
        done
        die "port $port still listening after the server stopped"
    fi
}

# Maildir folder of mailbox $2 (modified UTF-7, '/' between levels) of user $1.
maildir_of() {
    local home=$DIR/home/$1
    if [ "$2" = INBOX ]; then
        echo "$home/Maildir"
    else
        echo "$home/Maildir/.${2//\//.}"
    fi
}

UIDVALIDITY_BASE=1700000000   # mailbox k of layout.txt gets UIDVALIDITY base + k
declare -A NEXT_UID=()         # maildir folder -> next UID
FOLDERS=()                     # maildir folders in the order they were made

# Makes the maildir folder $1 once (a sub-folder gets the maildirfolder mark).
make_maildir() {
    [ -n "${NEXT_UID[$1]:-}" ] && return 0
    mkdir -p "$1/cur" "$1/new" "$1/tmp"
    case "$1" in */Maildir) ;; *) : > "$1/maildirfolder" ;; esac
    NEXT_UID[$1]=1
    FOLDERS+=("$1")
}

# Users, homes and mail from layout.txt; writes DIR/users and the users part
# of ports.env (to $1). Each mailbox gets a dovecot-uidlist of its own, so
# UIDVALIDITY and UIDs are the same on every start.
populate() {
    local env=$1 uid gid kind a b c d e n=0 k folder epoch base
    uid=$(id -u dovecot) gid=$(id -g dovecot)
    : > "$DIR/users"
    while read -r kind a b c d e || [ -n "$kind" ]; do
        case "$kind" in
        '' | '#'*) ;;
        user)
            case "$a$b" in *[:\']*) die "layout.txt: user $a: no ':' or single quote in names and passwords" ;; esac
            n=$((n + 1))
            # name:password:uid:gid:gecos:home:shell:extra fields
            printf '%s\n' "$a:{PLAIN}$b:$uid:$gid::$DIR/home/$a::nodelay" >> "$DIR/users"
            make_maildir "$(maildir_of "$a" INBOX)"
            : > "$DIR/home/$a/Maildir/subscriptions"
            printf 'TW_LIVE_USER%d=%s\n' "$n" "$(env_quote "$a")" >> "$env"
            printf 'TW_LIVE_PASS%d=%s\n' "$n" "$(env_quote "$b")" >> "$env"
            ;;
        mailbox)
            make_maildir "$(maildir_of "$a" "$b")"
            ;;
        message)
            folder=$(maildir_of "$a" "$b")
            make_maildir "$folder"
            [ "$c" = - ] && c=
            epoch=$(date -u -d "${d/T/ } UTC" +%s)
            base="$epoch.M${NEXT_UID[$folder]}P1.tidewire"
            cp "$MAIL_SRC/$e" "$folder/cur/$base:2,$c"
            # The file's mtime is the message's internal date.
            touch -d "@$epoch" "$folder/cur/$base:2,$c"
            echo "${NEXT_UID[$folder]} :$base" >> "$folder/uids.tmp"
            NEXT_UID[$folder]=$((NEXT_UID[$folder] + 1))
            ;;
        subscribe)
            # Stored with the maildir++ separator, as Dovecot writes them.
            printf '%s\n' "${b//\//.}" >> "$DIR/home/$a/Maildir/subscriptions"
            ;;
        *) die "layout.txt: unknown directive '$kind'" ;;
        esac
    done < "$LAYOUT"
    # ANONYMOUS logins map to this user (userdb only: no password, no LOGIN).
    echo "anonymous::$uid:$gid::$DIR/home/anonymous::" > "$DIR/anonymous.users"
    make_maildir "$(maildir_of anonymous INBOX)"
    k=0
    for folder in "${FOLDERS[@]}"; do
        k=$((k + 1))
        # Version 3 header: UIDVALIDITY, next UID; then "UID :file name".
        echo "3 V$((UIDVALIDITY_BASE + k)) N${NEXT_UID[$folder]}" > "$folder/dovecot-uidlist"
        if [ -f "$folder/uids.tmp" ]; then
            cat "$folder/uids.tmp" >> "$folder/dovecot-uidlist"
            rm -f "$folder/uids.tmp"
        fi
    done
    chown -R dovecot:dovecot "$DIR/home"
    chown root:dovecot "$DIR/users" "$DIR/anonymous.users"
    chmod 0640 "$DIR/users" "$DIR/anonymous.users"
}

# A value for ports.env: as it is when it is plain, else in single quotes.
env_quote() {
    case "$1" in
    *\'*) die "value with a single quote: $1" ;;
    *[!A-Za-z0-9_.,:/@%+=-]*) printf "'%s'" "$1" ;;
    *) printf '%s' "$1" ;;
    esac
}

# DIR/dovecot.conf for IMAP on port $1.
write_config() {
    cat > "$DIR/dovecot.conf" <<EOF
# Private configuration of the live-test server (written by dovecot.sh).
instance_name = tidewire-live
base_dir = $DIR/run
state_dir = $DIR/state
log_path = $DIR/dovecot.log
protocols = imap
listen = $HOST

# Running as root with service users of the system.
first_valid_uid = 1
default_internal_user = dovecot
default_internal_group = dovecot
default_login_user = dovenull

# Authentication: plaintext allowed without TLS, failures answered at once.
disable_plaintext_auth = no
auth_mechanisms = plain login cram-md5 anonymous
auth_anonymous_username = anonymous
auth_failure_delay = 0
# A refused login is held back until the next half-second tick of the auth
# process unless the reply carries "nodelay", and a failed lookup drops the
# users file's extra fields: so every failure falls through to a deny passdb
# that adds nodelay.
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $DIR/users
  result_success = return-ok
  result_failure = continue-fail
  result_internalfail = continue-fail
}
passdb {
  driver = static
  args = nodelay=y
  deny = yes
}
userdb {
  driver = passwd-file
  args = username_format=%u $DIR/users
}
userdb {
  driver = passwd-file
  args = username_format=%u $DIR/anonymous.users
}

mail_location = maildir:~/Maildir
mail_temp_dir = $DIR/tmp
namespace inbox {
  inbox = yes
  separator = /
}
protocol imap {
  mail_max_userip_connections = 100
}

service imap-login {
  chroot =
  inet_listener imap {
    address = $HOST
    port = $1
  }
  # TLS: the imaps listener stays off (port 0) until the TLS block below is
  # filled in.
  inet_listener imaps {
    port = 0
  }
}
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}

# TLS (off for now). To serve TLS: generate a self-signed certificate into
# DIR at start, give the imaps listener above a picked port, and replace the
# line below with
#   ssl = yes
#   ssl_cert = <$DIR/tls/server.crt
#   ssl_key = <$DIR/tls/server.key
# then add TW_LIVE_IMAPS_PORT (and the CA file) to ports.env.
ssl = no
EOF
}

do_start() {
    local env port try rc u ok=
    [ "$(id -u)" = 0 ] || die "must run as root (Dovecot switches to the dovecot and dovenull users)"
    command -v dovecot > /dev/null || die "dovecot not found (Debian package dovecot-imapd)"
    for u in dovecot dovenull; do
        id "$u" > /dev/null 2>&1 || die "user $u missing (it comes with the dovecot-core package)"
    done

    # A previous run's directory: stop what runs there, then wipe it.
    if [ -e "$DIR" ]; then
        if [ -e "$DIR/$MARKER" ]; then
            do_stop
            rm -rf "$DIR"
        elif [ -d "$DIR" ] && [ -z "$(ls -A "$DIR")" ]; then
            rmdir "$DIR"
        else
            die "$DIR exists and was not made by this script; not wiping it"
        fi
    fi
    mkdir -p "$DIR"
    : > "$DIR/$MARKER"
    chmod 0755 "$DIR"
    mkdir -m 0755 "$DIR/home" "$DIR/state" "$DIR/tmp"
    chown dovecot:dovecot "$DIR/tmp"
    # The service users must reach base_dir and the homes through DIR's parents.
    for u in dovecot dovenull; do
        runuser -u "$u" -- test -x "$DIR" ||
            die "user $u cannot traverse $DIR (give its parent directories o+x)"
    done

    env=$DIR/ports.env.tmp
    : > "$env"
    populate "$env"

    for ((try = 1; try <= BIND_TRIES; try++)); do
        port=$(pick_port)
        write_config "$port"
        rm -rf "$DIR/run"
        rc=0
        dovecot -c "$DIR/dovecot.conf" < /dev/null >> "$DIR/start.log" 2>&1 || rc=$?
        if [ "$rc" = 0 ]; then
            ok=1
            break
        fi
        if grep -q 'Address already in use' "$DIR/start.log" "$DIR/dovecot.log" 2>/dev/null; then
            echo "dovecot.sh: port $port taken, trying another" >&2
            : > "$DIR/start.log"
            : > "$DIR/dovecot.log"
            continue
        fi
        cat "$DIR/start.log" "$DIR/dovecot.log" >&2 2>/dev/null || true
        die "dovecot failed to start (exit $rc)"
    done
    [ -n "$ok" ] || die "no port could be bound after $BIND_TRIES tries"

    for ((try = 0; try < READY_STEPS; try++)); do
        greets "$port" && break
        sleep 0.1
    done
    if [ "$try" -ge "$READY_STEPS" ]; then
        tail -n 20 "$DIR/dovecot.log" >&2 2>/dev/null || true
        do_stop
        die "no IMAP greeting on $HOST:$port within $((READY_STEPS / 10)) s"
    fi

    {
        echo "TW_LIVE_HOST=$HOST"
        echo "TW_LIVE_IMAP_PORT=$port"
        cat "$env"
        echo "TW_LIVE_DIR=$(env_quote "$DIR")"
        echo "TW_LIVE_LOG=$(env_quote "$DIR/dovecot.log")"
    } > "$DIR/ports.env.new"
    rm -f "$env"
    mv "$DIR/ports.env.new" "$DIR/ports.env"
    echo "dovecot.sh: IMAP on $HOST:$port (pid $(running_pid)), settings in $DIR/ports.env"
}

[ $# = 2 ] || usage
DIR=$(realpath -m -- "$2")
[ "$DIR" != / ] || die "unsuitable directory $DIR"

case "$1" in
start) do_start ;;
stop) [ -d "$DIR" ] && do_stop; exit 0 ;;
*) usage ;;
esac
