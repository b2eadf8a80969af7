#!/usr/bin/env bash
# Builds QUIL's Windows installer: quil.exe (scripts/windows/build.sh), then
# makensis (Debian: nsis) packs it with packaging/windows/quil.nsi into
# $QUIL_BUILD_DIR/windows/package/QUIL-<version>-setup.exe, the version
# being the one quil.exe's version resource states. Prints the setup
# program's path.
#
#   package.sh [--exe FILE] [--out DIR]
#     --exe FILE  package this quil.exe instead of building one
#     --out DIR   write the setup program there
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
exe=""
out="$build/windows/package"
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    *) echo "usage: $0 [--exe FILE] [--out DIR]" >&2; exit 2 ;;
  esac
done
if [ -z "$exe" ]; then
  "$root/scripts/windows/build.sh" quil >&2
  exe="$build/windows/src/quil.exe"
fi
[ -f "$exe" ] || { echo "$exe: no such file" >&2; exit 1; }

mkdir -p "$out"
work="$(mktemp -d "$out/.package-XXXXXX")"
trap 'rm -rf "$work"' EXIT
# Installed without its symbol tables, as the Debian package's programs;
# the setup program and the uninstaller show the program's own icon.
x86_64-w64-mingw32-strip -o "$work/quil.exe" "$exe"
wrestool -x --type=group_icon --name=233 -o "$work/quil.ico" "$exe"
[ -s "$work/quil.ico" ] || { echo "$exe has no icon 233" >&2; exit 1; }
mkdir "$work/out"
makensis -V2 -INPUTCHARSET UTF8 -DQUIL_EXE="$work/quil.exe" -DQUIL_ICON="$work/quil.ico" -DOUTDIR="$work/out" \
  "$root/packaging/windows/quil.nsi" >&2
setup="$(ls "$work"/out/QUIL-*-setup.exe)"
mv "$setup" "$out/"
echo "$out/$(basename "$setup")"
