#!/usr/bin/env bash
# Cross-builds QUIL for 64-bit Windows with mingw-w64: the libraries first,
# then quil.exe and the C++ tests in $QUIL_BUILD_DIR/windows from the same
# source tree. Targets may be named as arguments, else everything is built.
#
# The libraries are built once per machine and shared by every clone:
# they live under the user's cache folder
# ($XDG_CACHE_HOME/quil/windows-deps/<key>), keyed by the source versions,
# the cross compiler and the build recipe, so a change of any builds anew.
# A prefix is used only once its build has finished (.complete).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
mkdir -p "$build"

newest_source() { apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | head -1; }
key="$(
  for p in openssl curl tinyxml2 re2 cpp-httplib; do echo "$p $(newest_source "$p")"; done
  dpkg-query -W -f='${Package} ${Version}\n' libgtest-dev nlohmann-json3-dev
  x86_64-w64-mingw32-g++-posix --version | head -1
  cat "$root/scripts/windows/build-deps.sh" "$root/cmake/mingw-w64-x86_64.cmake"
)"
key="$(printf '%s' "$key" | sha256sum | cut -c1-16)"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quil/windows-deps"
export QUIL_WINDOWS_DEPS="$cache/$key"
mkdir -p "$cache"
(
  # One builder at a time per key; the others wait and then find it done.
  flock 9
  if [ ! -f "$QUIL_WINDOWS_DEPS/.complete" ]; then
    rm -rf "$QUIL_WINDOWS_DEPS"
    "$root/scripts/windows/build-deps.sh" "$QUIL_WINDOWS_DEPS" 2>"$build/windows-deps.log" || {
      tail -40 "$build/windows-deps.log" >&2
      exit 1
    }
    rm -rf "$QUIL_WINDOWS_DEPS/src"
    touch "$QUIL_WINDOWS_DEPS/.complete"
  fi
) 9>"$cache/$key.lock"

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQUIL_WINDOWS_DEPS="$QUIL_WINDOWS_DEPS" \
  "${launcher[@]}" >/dev/null
ninja -C "$build/windows" -j"$(nproc)" "$@"
