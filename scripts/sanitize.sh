#!/usr/bin/env bash
# Builds the C++ tests and the fuzz targets with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer into
# $QUIL_BUILD_DIR/sanitize (build/sanitize), then runs the tests once: any
# finding, leaks included, fails the run. scripts/fuzz.sh uses the same
# build.
#
#   sanitize.sh [--build-only]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}/sanitize"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
# -O1 keeps the build short and the stacks readable; no benchmarks.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DQUIL_SANITIZE=ON -DQUIL_BUILD_FUZZ=ON -DQUIL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null || exit 1
ninja -C "$build" -j"$(nproc)" || exit 1
[ "${1:-}" = "--build-only" ] && exit 0

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The tests that kill processes at random moments check files, not memory:
# a killed process reports nothing, so they run in the plain build only.
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 900 -E 'CrashConsistency|AKillAtAnyMoment'
