#!/bin/bash
# Installs everything the build and the tests need on a fresh Debian 12
# machine (run as root). Safe to run again: apt skips what is there.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

packages=(
  cmake make g++ python3 binutils googletest
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine32 wine64 xvfb
  libidn2-0 libssl-dev
  dovecot-imapd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Dovecot's own service is not wanted: the tests start private instances.
if command -v systemctl >/dev/null 2>&1; then
  systemctl disable --now dovecot >/dev/null 2>&1 || true
fi
echo "setup: done"
