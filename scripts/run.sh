#!/usr/bin/env bash
# Installs what is missing, builds, and starts QUIL. Without QUIL_PROXY_URL
# in the environment it runs against the built-in demo proxy.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" quil quil-devproxy
args=("$@")
if [ -z "${QUIL_PROXY_URL:-}" ]; then
  args=(--demo "${args[@]}")
fi
exec "${QUIL_BUILD_DIR:-$root/build}/src/quil" "${args[@]}"
