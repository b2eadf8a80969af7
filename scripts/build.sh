#!/usr/bin/env bash
# Configures and builds into build/ (or $QUIL_BUILD_DIR): the targets named
# as arguments, else everything.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j"$(nproc)" "$@"
