#!/usr/bin/env bash
# Configures and builds into build/ (or $QUIL_BUILD_DIR): the targets named
# as arguments, else everything. Uses ccache when the machine has it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
ninja -C "$build" -j"$(nproc)" "$@"
