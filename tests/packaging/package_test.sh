#!/usr/bin/env bash
# Installs from the build folder and builds the Debian package from it (no
# second build), then checks both: where every file lands, the package's
# metadata and computed dependencies, the desktop entry, the AppStream
# file, the user units and the manual pages with their own validators, and
# that the packaged programs run.
# usage: package_test.sh BUILD_DIR
set -uo pipefail
build="$1"
app_id="tw.com.example.quil"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# Runs a validator; it must succeed and say nothing.
quiet() {
  local what="$1"; shift
  local out
  out="$("$@" 2>&1)" || { fail "$what: exit $?: $out"; return; }
  [ -z "$out" ] || fail "$what: $out"
}

# The files every installation has, relative to the prefix.
expected_files() {
  printf '%s\n' bin/quil bin/quil-devproxy \
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$app_id.svg" \
    share/man/man1/quil.1.gz share/man/man1/quil-devproxy.1.gz \
    lib/systemd/user/quil-expiry.service lib/systemd/user/quil-expiry.timer
  for size in 16 22 24 32 48 64 128 256; do
    echo "share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  done
}

# --- from source: cmake --install with a prefix of the user's choice
DESTDIR="$work/staged" cmake --install "$build" --prefix /opt/quil >/dev/null || fail "cmake --install"
while read -r f; do
  [ -f "$work/staged/opt/quil/$f" ] || fail "cmake --install did not install $f"
done < <(expected_files)
grep -qx 'ExecStart=/opt/quil/bin/quil --check-expiry' "$work/staged/opt/quil/lib/systemd/user/quil-expiry.service" ||
  fail "the service does not start the installed program: $(grep ExecStart "$work/staged/opt/quil/lib/systemd/user/quil-expiry.service")"

# --- the Debian package
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack -G DEB"
  exit 1
}
deb="$(ls "$work"/pkg/*.deb)"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quil ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$("$build/src/quil" --version | cut -d' ' -f2)" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$(field Recommends)" = "chromium | google-chrome-stable, fonts-noto-cjk, xdg-utils" ] ||
  fail "Recommends: $(field Recommends)"
# Computed from the programs: every library they link, with versions.
depends="$(field Depends)"
for lib in libc6 libstdc++6 libssl3 libcurl4 libsqlite3-0 libtinyxml2-9 libglib2.0-0; do
  tr ',' '\n' <<<"$depends" | sed 's/^ //' | grep -qF "$lib (>= " || fail "Depends lacks $lib with a version: $depends"
done
[ "$(field Description | head -1)" = "certificate manager for securities trading" ] || fail "Description: $(field Description)"
field Description | awk 'length > 80 {bad = 1} END {exit bad}' || fail "description lines longer than 80 characters"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' | grep -v '/$' | sort >"$work/contents"
expected_files | sed 's|^|usr/|' | sort >"$work/expected"
diff -u "$work/expected" "$work/contents" >"$work/diff" || fail "package contents differ from the installation: $(cat "$work/diff")"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $2 != "root/root" {print}' | grep . && fail "files not owned by root"

dpkg-deb -x "$deb" "$work/root"
root="$work/root/usr"
grep -qx 'ExecStart=/usr/bin/quil --check-expiry' "$root/lib/systemd/user/quil-expiry.service" || fail "packaged service ExecStart"
file -b "$root/bin/quil" | grep -q 'not stripped' && fail "quil is not stripped"
[ "$("$root/bin/quil" --version)" = "quil $(field Version)" ] || fail "packaged quil --version"
[ "$("$root/bin/quil-devproxy" --version)" = "quil-devproxy $(field Version)" ] || fail "packaged quil-devproxy --version"

# --- validators
quiet desktop-file-validate desktop-file-validate "$root/share/applications/$app_id.desktop"
grep -q '^Name\[zh_TW\]=' "$root/share/applications/$app_id.desktop" || fail "no Traditional Chinese name"
grep -q '^Exec=quil$' "$root/share/applications/$app_id.desktop" || fail "the entry does not start quil"
if ! out="$(appstreamcli validate --no-net --explain "$root/share/metainfo/$app_id.metainfo.xml" 2>&1)"; then
  fail "appstreamcli validate: $out"
elif grep -q '^[EW]:' <<<"$out"; then
  fail "appstreamcli validate: $out"
fi
# The units as systemd reads them; the program path points into the unpacked tree.
mkdir -p "$work/units" "$work/run"
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/bin/|" "$root/lib/systemd/user/quil-expiry.service" >"$work/units/quil-expiry.service"
cp "$root/lib/systemd/user/quil-expiry.timer" "$work/units/"
grep -qx 'Persistent=true' "$work/units/quil-expiry.timer" || fail "the timer is not persistent"
grep -qx 'OnCalendar=daily' "$work/units/quil-expiry.timer" || fail "the timer is not daily"
quiet "systemd-analyze verify" env XDG_RUNTIME_DIR="$work/run" systemd-analyze --user --man=no verify \
  "$work/units/quil-expiry.timer" "$work/units/quil-expiry.service"

# --- manual pages: rendered without a warning, and every option of --help in them
for program in quil quil-devproxy; do
  page="$root/share/man/man1/$program.1.gz"
  # man drops the formatter's warnings unless told to keep them; "w" is every warning.
  quiet "man $program" sh -c "MAN_KEEP_STDERR=1 MANWIDTH=80 man --warnings=w -l '$page' >/dev/null"
  text="$(MANWIDTH=200 man -l "$page" 2>/dev/null)"
  grep -q "^NAME" <<<"$text" || fail "man $program has no NAME"
  for option in $("$root/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "man $program does not describe $option"
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb") checked"
