#!/usr/bin/env bash
# Builds the C++ tests and the fuzz targets with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer into
# $QUIL_BUILD_DIR/sanitize (build/sanitize), then runs the tests once: any
# finding, leaks included, fails the run. scripts/fuzz.sh uses the same
# build.
#
#   sanitize.sh [--build-only | --parsers | --build-parsers]
#
# --parsers builds the fuzz targets and runs only the test programs of the
# layers that read outside input (base, proxy, certificates, platform): the
# share the test command runs. --build-parsers only builds those.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}/sanitize"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
# -O1 keeps the build short and the stacks readable; no benchmarks.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DQUIL_SANITIZE=ON -DQUIL_BUILD_FUZZ=ON -DQUIL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null || exit 1
parser_tests=(quil_base_tests quil_proxy_tests quil_cert_tests quil_platform_tests)
mode="${1:-}"
if [ "$mode" = "--parsers" ] || [ "$mode" = "--build-parsers" ]; then
  targets=(); for t in "$root"/fuzz/*_fuzz.cc; do targets+=("$(basename "$t" .cc)"); done
  ninja -C "$build" -j"$(nproc)" "${parser_tests[@]}" "${targets[@]}" || exit 1
else
  ninja -C "$build" -j"$(nproc)" || exit 1
fi
[ "$mode" = "--build-only" ] || [ "$mode" = "--build-parsers" ] && exit 0

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ "$mode" = "--parsers" ]; then
  for t in "${parser_tests[@]}"; do "$build/tests/$t" --gtest_brief=1 || exit 1; done
  exit 0
fi
# The tests that kill processes at random moments check files, not memory:
# a killed process reports nothing, so they run in the plain build only.
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 900 -E 'CrashConsistency|AKillAtAnyMoment'
