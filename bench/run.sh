#!/usr/bin/env bash
# Builds and runs every benchmark: the C++ ones (Google Benchmark) and the
# page bench (chromium through playwright-core). Prints the machine's load
# before and after, since the figures mean little on a busy machine.
#   bench/run.sh                 everything
#   bench/run.sh --quick         fewer repetitions, for a first look
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
export QUIL_BUILD_DIR="$build"
quick=0
[ "${1:-}" = "--quick" ] && quick=1

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" quil quil-devproxy proxy_bench devproxy_bench cert_bench name_text_bench bridge_load_bench >/dev/null
[ -d "$root/e2e/node_modules/playwright-core" ] ||
  (cd "$root/e2e" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)

echo "== $(date -u +%FT%TZ) $(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
min_time=()
[ "$quick" = 1 ] && min_time=(--benchmark_min_time=0.2)
for b in proxy_bench devproxy_bench cert_bench name_text_bench bridge_load_bench; do
  echo "== $b"
  "$build/bench/$b" "${min_time[@]}" 2>&1 | grep -v '^\*\*\*WARNING'
done
echo "== page_bench"
if [ "$quick" = 1 ]; then node "$root/bench/page_bench.mjs" --calls 50 --starts 3
else node "$root/bench/page_bench.mjs"; fi
echo "== load after: $(cut -d' ' -f1-3 /proc/loadavg)"
