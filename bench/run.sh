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
"$root/scripts/build.sh" quil quil-devproxy quil-signer quil_test_keys proxy_bench devproxy_bench cert_bench name_text_bench bridge_load_bench >/dev/null
[ -d "$root/e2e/node_modules/playwright-core" ] ||
  (cd "$root/e2e" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)

echo "== $(date -u +%FT%TZ) $(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
min_time=()
[ "$quick" = 1 ] && min_time=(--benchmark_min_time=0.2)
for b in proxy_bench devproxy_bench cert_bench name_text_bench bridge_load_bench; do
  echo "== $b"
  "$build/bench/$b" "${min_time[@]}" --benchmark_out="$out/$b.json" --benchmark_out_format=json 2>&1 |
    grep -v '^\*\*\*WARNING'
done
echo "== page_bench"
if [ "$quick" = 1 ]; then node "$root/bench/page_bench.mjs" --calls 50 --starts 3 | tee "$out/page.json"
else node "$root/bench/page_bench.mjs" | tee "$out/page.json"; fi
echo "== signing_bench"
if [ "$quick" = 1 ]; then node "$root/bench/signing_bench.mjs" --signatures 4 | tee "$out/signing.json"
else node "$root/bench/signing_bench.mjs" | tee "$out/signing.json"; fi
echo "== load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The goals as ratios to floors taken in the same run, and the throughput.
node - "$out" <<'JS'
const { readFileSync } = require('node:fs');
const dir = process.argv[2];
const page = JSON.parse(readFileSync(`${dir}/page.json`, 'utf8'));
const runs = JSON.parse(readFileSync(`${dir}/devproxy_bench.json`, 'utf8')).benchmarks;
const fifty = runs.find((b) => b.name.startsWith('BM_FiftyParallelLoginsAndApplications'));
const one = runs.find((b) => b.name.startsWith('BM_OneApplication'));
const r = (x) => Math.round(x * 100) / 100;
console.log('== goals');
console.log(`page ready from navigation / browser floor: ${page.page_ready_over_floor}x ` +
  `(${page.page_ready_from_navigation.median_ms} / ${page.page_ready_floor.median_ms} ms, medians; goal <= 1.5)`);
console.log(`login screen taking input from navigation: ${page.login_ready_from_navigation.median_ms} ms (median)`);
console.log(`demo proxy CPU per application / RSA floor: ${r(fifty['cpu/floor'])}x ` +
  `(${r(fifty['server_cpu_ms/app'])} / ${r(fifty['rsa_floor_ms/app'])} ms; goal <= 1.5)`);
console.log(`50 customers at once: ${r(fifty['applications/s'])} applications/s`);
console.log(`client per application: ${r(fifty['client_cpu_ms/app'])} ms CPU among 50, ` +
  `${r(one.real_time)} ms waited and ${r(one['client_cpu_ms/app'])} ms CPU alone`);
JS
