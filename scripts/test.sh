#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the C++ unit and
# integration tests (ctest), the parsers' tests under the sanitizers and
# the fuzz targets for a bounded time, the same tests cross-built for Windows
# under Wine, then the browser tests (Playwright driving Debian's chromium).
# Screenshots of the main screens land in e2e/out/.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
export QUIL_BUILD_DIR="$build"

"$root/scripts/install-deps.sh" || exit 1
"$root/scripts/build.sh" || exit 1

log="$(mktemp)"
trap 'rm -f "$log"' EXIT

ctest --test-dir "$build" --output-on-failure -j2 --timeout 600 2>&1 | tee "$log"
ctest_rc=${PIPESTATUS[0]}

# The tests of the layers that read outside input again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then every fuzz target
# for a bounded time (the same build; scripts/sanitize.sh alone runs every
# C++ test so). Not counted in the closing line: these are the same tests
# once more.
sanitize_start=$SECONDS
"$root/scripts/sanitize.sh" --parsers
sanitize_rc=$?
"$root/scripts/fuzz.sh" 10
fuzz_rc=$?
echo "sanitizer and fuzz part: $((SECONDS - sanitize_start)) s"

# Windows: cross-build (the libraries once, cached in the build folder), run
# the C++ tests under Wine and build the installer.
windows_start=$SECONDS
if "$root/scripts/windows/build.sh"; then
  "$root/scripts/windows/test.sh" 2>&1 | tee -a "$log"
  windows_rc=${PIPESTATUS[0]}
  # The installer, which the browser tests install under Wine.
  if ! "$root/scripts/windows/package.sh" --exe "$build/windows/src/quil.exe" >/dev/null; then
    echo "the Windows installer failed"
    windows_rc=1
  fi
else
  echo "the Windows build failed"
  windows_rc=1
fi
echo "windows part: $((SECONDS - windows_start)) s"

(cd "$root/e2e" && npm ci --no-audit --no-fund --loglevel=error >/dev/null) || exit 1
(cd "$root/e2e" && node --test --test-concurrency=1 tests/) 2>&1 | tee -a "$log"
e2e_rc=${PIPESTATUS[0]}

# One closing line over both runners.
read -r c_total c_failed < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" |
  awk '{t += $1; f += $2} END {print t + 0, f + 0}')
c_skipped=$(grep -c '\*\*\*Skipped\|Not Run' "$log" || true)
n_pass=$(sed -n 's/^[#ℹ] pass \([0-9]*\)$/\1/p' "$log" | tail -1)
n_fail=$(sed -n 's/^[#ℹ] fail \([0-9]*\)$/\1/p' "$log" | tail -1)
n_skip=$(sed -n 's/^[#ℹ] skipped \([0-9]*\)$/\1/p' "$log" | tail -1)
passed=$(( ${c_total:-0} - ${c_failed:-0} - ${c_skipped:-0} + ${n_pass:-0} ))
failed=$(( ${c_failed:-0} + ${n_fail:-0} ))
skipped=$(( ${c_skipped:-0} + ${n_skip:-0} ))
if [ "$ctest_rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
if [ "$windows_rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
if [ "$sanitize_rc" -ne 0 ] || [ "$fuzz_rc" -ne 0 ]; then failed=$((failed + 1)); fi
if [ "$e2e_rc" -ne 0 ] && [ "${n_fail:-0}" -eq 0 ]; then failed=$((failed + 1)); fi
echo
echo "all: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
