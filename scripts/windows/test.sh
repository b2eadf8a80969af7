#!/usr/bin/env bash
# Runs the cross-built C++ tests under Debian's wine, in a 64-bit Wine
# prefix made for this run in a temporary folder (so Wine's registry and
# certificate stores start empty and nothing of the user's is touched), and
# removes it afterwards. Arguments go to ctest.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"

prefix="$(mktemp -d "${TMPDIR:-/tmp}/quil-wine-XXXXXX")"
export WINEPREFIX="$prefix/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT

# The prefix, with a wineserver that stays up for the whole run so each
# test program starts quickly.
wineboot --init >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
wineserver -p 2>/dev/null

ctest --test-dir "$build/windows" --output-on-failure --timeout 600 "$@"
