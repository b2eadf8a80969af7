#!/usr/bin/env bash
# Installs what QUIL needs to build, run and test on Debian (bookworm or
# later). Safe to run again: only missing packages are installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libssl-dev openssl libcurl4-openssl-dev libsqlite3-dev libtinyxml2-dev
  libcpp-httplib-dev libre2-dev nlohmann-json3-dev libgtest-dev libbenchmark-dev libnss3-dev
  chromium fonts-noto-cjk xdg-utils xdg-user-dirs
  # the app window's browser tests: a virtual display, keys typed through it
  xvfb xdotool
  firefox-esr libnss3-tools
  # The Windows build: the cross compiler, Wine to run its tests, and
  # apt-get source for the libraries built for it.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 dpkg-dev
  # quil.exe's icon from the PNGs (icotool; wrestool reads resources back),
  # and its installer (makensis)
  icoutils nsis
  # the expiry reminder's notifications (GDBus); tests run a private bus
  libglib2.0-dev dbus-daemon
  # building the Debian package and checking it with the desktop's validators
  file desktop-file-utils appstream man-db groff-base systemd jq unzip
  # RE2's Unicode tables for that build are generated from unicode-data.
  unicode-data python3 python3-six perl
  # The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
  clang libclang-rt-dev
)
# Node.js may come from elsewhere than Debian (it often bundles npm).
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Source packages of the same suites as the binary ones (the Windows build
# compiles OpenSSL, curl and tinyxml2 from them).
need_update=0
if ! apt-cache showsrc openssl 2>/dev/null | grep -q '^Version:'; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/quil-deb-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/quil-deb-src.list >/dev/null
  fi
  need_update=1
fi

if ((${#missing[@]})) || ((need_update)); then
  $sudo apt-get update -qq
fi
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
