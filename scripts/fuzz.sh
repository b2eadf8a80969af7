#!/usr/bin/env bash
# Runs every fuzz target for a bounded time under AddressSanitizer and
# UndefinedBehaviorSanitizer (the build of scripts/sanitize.sh): first the
# committed regression inputs once each, then fuzzing from the committed
# seed corpus. New inputs go to a scratch folder, never into fuzz/; a crash,
# leak, time-out or failed check fails the run and keeps the input in
# $QUIL_BUILD_DIR/sanitize/fuzz-artifacts.
#
#   fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 15 s, every target)
#
# For a longer search: scripts/fuzz.sh 1800
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}/sanitize"
seconds="${1:-15}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  for d in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

"$root/scripts/sanitize.sh" --build-parsers || exit 1

artifacts="$build/fuzz-artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# An input that runs longer than this is a hang (seconds).
common=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/")

failed=0
for t in "${targets[@]}"; do
  bin="$build/fuzz/$t"
  log="$scratch/$t.log"
  regressions=("$root/fuzz/regressions/$t"/*)
  if [ -e "${regressions[0]}" ] && ! "$bin" "${common[@]}" "${regressions[@]}" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz $t: FAILED on a regression input"
    failed=1
    continue
  fi
  mkdir -p "$scratch/$t"
  if "$bin" "${common[@]}" -max_len=4096 -max_total_time="$seconds" -print_final_stats=1 \
    "$scratch/$t" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz $t: ${runs:-?} inputs in $seconds s, no finding"
  else
    tail -60 "$log"
    echo "fuzz $t: FAILED (input kept in $artifacts)"
    failed=1
  fi
done

# The page's reply reader runs under node.
if node "$root/fuzz/reply_reader_fuzz.mjs" "$seconds"; then :; else failed=1; fi

[ "$failed" -eq 0 ]
