#!/usr/bin/env bash
# Installs what QUIL needs to build, run and test on Debian (bookworm or
# later). Safe to run again: only missing packages are installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libssl-dev openssl libcurl4-openssl-dev libsqlite3-dev libtinyxml2-dev
  libcpp-httplib-dev nlohmann-json3-dev libgtest-dev libbenchmark-dev
  chromium fonts-noto-cjk xdg-utils xdg-user-dirs
)
# Node.js may come from elsewhere than Debian (it often bundles npm).
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
