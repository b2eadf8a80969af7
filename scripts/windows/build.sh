#!/usr/bin/env bash
# Cross-builds QUIL for 64-bit Windows with mingw-w64: the libraries first
# (once; kept in $QUIL_BUILD_DIR/windows-deps), then quil.exe and the C++
# tests in $QUIL_BUILD_DIR/windows from the same source tree. Targets may
# be named as arguments, else everything is built.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
export QUIL_WINDOWS_DEPS="$build/windows-deps"
"$root/scripts/windows/build-deps.sh" "$QUIL_WINDOWS_DEPS" 2>"$build/windows-deps.log" || {
  tail -40 "$build/windows-deps.log" >&2
  exit 1
}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQUIL_WINDOWS_DEPS="$QUIL_WINDOWS_DEPS" \
  "${launcher[@]}" >/dev/null
ninja -C "$build/windows" -j"$(nproc)" "$@"
