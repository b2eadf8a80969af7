#!/usr/bin/env bash
# Installs from the build folder and builds the Debian package from it (no
# second build), then checks both: where every file lands, the package's
# metadata and computed dependencies, the desktop entry, the AppStream
# file, the user units and the manual pages with their own validators, and
# that the packaged programs run. The packaged quil is run in a private
# mount namespace whose /etc is an overlay, to see the order in which it
# reads its configuration files without touching the machine's /etc.
# usage: package_test.sh BUILD_DIR
set -uo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
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
  printf '%s\n' bin/quil bin/quil-devproxy bin/quil-signer \
    "share/applications/$app_id.desktop" "share/applications/$app_id.demo.desktop" \
    "share/metainfo/$app_id.metainfo.xml" share/doc/quil/copyright share/doc/quil/changelog.gz \
    "share/icons/hicolor/scalable/apps/$app_id.svg" \
    share/man/man1/quil.1.gz share/man/man1/quil-devproxy.1.gz share/man/man1/quil-signer.1.gz \
    share/quil/signer/extension/manifest.json share/quil/signer/extension/background.js \
    share/quil/signer/extension/content.js share/quil/signer/quil-signer.xpi \
    lib/systemd/user/quil-expiry.service lib/systemd/user/quil-expiry.timer
  for size in 16 22 24 32 48 64 128 256; do
    echo "share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  done
}

# The security component where the browsers look for every user, outside
# the prefix (relative to the root).
host_name="tw.com.example.quil.signer"
gecko_id="quil-signer@example.com.tw"
system_files() {
  printf '%s\n' "etc/chromium/native-messaging-hosts/$host_name.json" \
    "etc/opt/chrome/native-messaging-hosts/$host_name.json" \
    "usr/lib/mozilla/native-messaging-hosts/$host_name.json" \
    "usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/$gecko_id.xpi" \
    usr/share/chromium/extensions/quil-signer/manifest.json \
    usr/share/chromium/extensions/quil-signer/background.js \
    usr/share/chromium/extensions/quil-signer/content.js
}
# The manifests under `root` name `program` and admit the QUIL extension only.
check_manifests() {
  local root="$1" program="$2" f
  for f in "etc/chromium/native-messaging-hosts/$host_name.json" "etc/opt/chrome/native-messaging-hosts/$host_name.json"; do
    [ "$(jq -r .path "$root/$f")" = "$program" ] || fail "$f names $(jq -r .path "$root/$f")"
    [ "$(jq -c .allowed_origins "$root/$f")" = '["chrome-extension://pcaajijhfkhhhbofpnfeecceedmaglga/"]' ] ||
      fail "$f admits $(jq -c .allowed_origins "$root/$f")"
  done
  f="usr/lib/mozilla/native-messaging-hosts/$host_name.json"
  [ "$(jq -r .path "$root/$f")" = "$program" ] || fail "$f names $(jq -r .path "$root/$f")"
  [ "$(jq -c .allowed_extensions "$root/$f")" = "[\"$gecko_id\"]" ] || fail "$f admits $(jq -c .allowed_extensions "$root/$f")"
}

# --- from source: cmake --install with a prefix of the user's choice
DESTDIR="$work/staged" cmake --install "$build" --prefix /opt/quil >/dev/null || fail "cmake --install"
while read -r f; do
  [ -f "$work/staged/opt/quil/$f" ] || fail "cmake --install did not install $f"
done < <(expected_files)
[ -f "$work/staged/etc/quil/quil.conf" ] || fail "cmake --install did not install /etc/quil/quil.conf"
# A second installation keeps the operator's configuration.
echo "QUIL_PROXY_URL=https://operator.example/PELIProxy/proxy/" >"$work/staged/etc/quil/quil.conf"
DESTDIR="$work/staged" cmake --install "$build" --prefix /opt/quil >/dev/null || fail "cmake --install again"
grep -q operator.example "$work/staged/etc/quil/quil.conf" || fail "cmake --install replaced the operator's quil.conf"
while read -r f; do
  [ -f "$work/staged/$f" ] || fail "cmake --install did not install $f"
done < <(system_files)
check_manifests "$work/staged" /opt/quil/bin/quil-signer
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
{ expected_files | sed 's|^|usr/|'; echo etc/quil/quil.conf; system_files; } | sort >"$work/expected"
diff -u "$work/expected" "$work/contents" >"$work/diff" || fail "package contents differ from the installation: $(cat "$work/diff")"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $2 != "root/root" {print}' | grep . && fail "files not owned by root"

dpkg-deb -I "$deb" conffiles | sort >"$work/conffiles"
printf '%s\n' /etc/quil/quil.conf "/etc/chromium/native-messaging-hosts/$host_name.json" \
  "/etc/opt/chrome/native-messaging-hosts/$host_name.json" |
  sort | diff -u - "$work/conffiles" >/dev/null || fail "conffiles: $(cat "$work/conffiles")"

dpkg-deb -x "$deb" "$work/root"
check_manifests "$work/root" /usr/bin/quil-signer
[ "$("$work/root/usr/bin/quil-signer" GetVersion)" = "1,0,0,2" ] || fail "packaged quil-signer GetVersion"
# The same extension for both browsers, with the id the manifests admit.
unzip -p "$work/root/usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/$gecko_id.xpi" manifest.json |
  jq -e ".browser_specific_settings.gecko.id == \"$gecko_id\"" >/dev/null || fail "the xpi's extension id"
cmp -s "$work/root/usr/share/chromium/extensions/quil-signer/manifest.json" \
  "$work/root/usr/share/quil/signer/extension/manifest.json" || fail "two different extensions"
root="$work/root/usr"
grep -qx 'ExecStart=/usr/bin/quil --check-expiry' "$root/lib/systemd/user/quil-expiry.service" || fail "packaged service ExecStart"
file -b "$root/bin/quil" | grep -q 'not stripped' && fail "quil is not stripped"
[ "$("$root/bin/quil" --version)" = "quil $(field Version)" ] || fail "packaged quil --version"
[ "$("$root/bin/quil-devproxy" --version)" = "quil-devproxy $(field Version)" ] || fail "packaged quil-devproxy --version"

# --- validators
for entry in "$app_id" "$app_id.demo"; do
  quiet "desktop-file-validate $entry" desktop-file-validate "$root/share/applications/$entry.desktop"
done
grep -qx 'Name\[zh_TW\]=QUIL 憑證管理' "$root/share/applications/$app_id.desktop" || fail "the entry's Traditional Chinese name"
grep -q '^Exec=quil$' "$root/share/applications/$app_id.desktop" || fail "the entry does not start quil"
grep -qx 'Name\[zh_TW\]=QUIL 憑證管理（示範）' "$root/share/applications/$app_id.demo.desktop" ||
  fail "the demo entry's Traditional Chinese name"
grep -qx 'Exec=quil --demo' "$root/share/applications/$app_id.demo.desktop" || fail "the demo entry does not start quil --demo"
grep -qx 'Icon=tw.com.example.quil' "$root/share/applications/$app_id.demo.desktop" || fail "the demo entry's icon"

# The copyright file in the machine-readable format, the changelog dpkg reads.
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$root/share/doc/quil/copyright" ||
  fail "copyright: not in the machine-readable format"
grep -q '^Files: \*$' "$root/share/doc/quil/copyright" || fail "copyright: no Files paragraph"
zcat "$root/share/doc/quil/changelog.gz" >"$work/changelog" || fail "changelog.gz is not gzip"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1)" = "$(field Version)" ] ||
  fail "the changelog's last version is not the package's: $(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1)"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Source 2>&1)" = quil ] || fail "the changelog's source name"
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
for program in quil quil-devproxy quil-signer; do
  page="$root/share/man/man1/$program.1.gz"
  # man drops the formatter's warnings unless told to keep them; "w" is every warning.
  quiet "man $program" sh -c "MAN_KEEP_STDERR=1 MANWIDTH=80 man --warnings=w -l '$page' >/dev/null"
  text="$(MANWIDTH=200 man -l "$page" 2>/dev/null)"
  grep -q "^NAME" <<<"$text" || fail "man $program has no NAME"
  for option in $("$root/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "man $program does not describe $option"
  done
done

# --- the configuration files: the installation's, the user's, then the
# environment, each winning over the one before. The packaged quil runs
# with /etc overlaid by a folder of this test's, against a loopback server
# that logs the path of every request (the start-up's version check goes
# to the proxy URL).
grep -q '^#QUIL_PROXY_URL=' "$work/root/etc/quil/quil.conf" || fail "the packaged quil.conf does not show QUIL_PROXY_URL"
grep -q '^[^#[:space:]]' "$work/root/etc/quil/quil.conf" && fail "the packaged quil.conf sets something"
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
  echo "note: not root, or no private mount namespace: the configuration read order is not checked" >&2
else
  python3 "$here/request_log_server.py" "$work/requests" 120 >"$work/port" &
  server_pid=$!
  for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
  port="$(cat "$work/port")"
  mkdir -p "$work/etc-upper/quil" "$work/etc-work" "$work/home/.config/quil"
  proxy() { echo "QUIL_PROXY_URL=http://127.0.0.1:$port/$1/PELIProxy/proxy/"; }
  # The version check is sealed with the proxy's key: it goes beside the
  # installation's file, named relatively.
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 2>/dev/null |
    openssl pkey -pubout -out "$work/etc-upper/quil/proxy.pem" || fail "openssl: no proxy key"
  { echo "# the operator's"; proxy system; echo "QUIL_PROXY_PUBKEY = proxy.pem"; } >"$work/etc-upper/quil/quil.conf"
  # The first request of a start with this environment: "system", "user" or "env".
  first_request_of() {
    : >"$work/requests"
    env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$@" \
      unshare --mount sh -c 'mount -t overlay overlay -o "lowerdir=/etc,upperdir=$1,workdir=$2" /etc && exec "$3" --no-browser' \
      sh "$work/etc-upper" "$work/etc-work" "$root/bin/quil" >"$work/quil.out" 2>&1 &
    local pid=$!
    for _ in $(seq 150); do [ -s "$work/requests" ] && break; sleep 0.1; done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    sed -n '1s|^/\([a-z]*\)/PELIProxy/proxy/.*|\1|p' "$work/requests"
  }
  got="$(first_request_of)"
  [ "$got" = system ] || fail "with /etc/quil/quil.conf alone the proxy was '$got': $(cat "$work/quil.out")"
  proxy user >"$work/home/.config/quil/quil.conf"
  got="$(first_request_of)"
  [ "$got" = user ] || fail "the user's quil.conf did not win over /etc/quil/quil.conf: '$got'"
  got="$(first_request_of QUIL_PROXY_URL="http://127.0.0.1:$port/env/PELIProxy/proxy/")"
  [ "$got" = env ] || fail "QUIL_PROXY_URL did not win over the files: '$got'"
  echo "QUIL_PROXY_URLL=typo" >>"$work/home/.config/quil/quil.conf"
  first_request_of >/dev/null
  grep -qF "$work/home/.config/quil/quil.conf:2: unknown setting QUIL_PROXY_URLL" "$work/quil.out" ||
    fail "a wrong line of quil.conf is not named: $(cat "$work/quil.out")"
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb") checked"
