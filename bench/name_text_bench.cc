// Reading certificate names and serials of growing length and ambiguity:
// the time per call should grow in proportion to the length (Google
// Benchmark fits the complexity and prints it as "BigO").
#include <benchmark/benchmark.h>

#include <string>

#include "cert/dn_text.h"

namespace {

// An issuer whose organization holds n "a=a, " items: each can be split in
// two ways, which a backtracking matcher tries one by one.
std::string AmbiguousIssuer(int n) {
  std::string items;
  for (int i = 0; i < n; ++i) items += "a=a, ";
  return "CN=Exmpl User CA, O=" + items + "x=x, C=TW";
}

void BM_PickAbsentAttribute(benchmark::State& state) {
  std::string issuer = AmbiguousIssuer(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(quil::pickDnAttribute(issuer, "OU"));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PickAbsentAttribute)->RangeMultiplier(4)->Range(16, 16384)->Complexity();

void BM_ExtractValue(benchmark::State& state) {
  std::string issuer = AmbiguousIssuer(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(quil::extractDnValue(issuer, "CN"));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExtractValue)->RangeMultiplier(4)->Range(16, 16384)->Complexity();

void BM_UserIdFromLongCn(benchmark::State& state) {
  std::string cn = std::string(static_cast<size_t>(state.range(0)), 'A') + "-01";
  for (auto _ : state) benchmark::DoNotOptimize(quil::userIdFromCn(cn, quil::UserIdPattern::kPkcs12Reader));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_UserIdFromLongCn)->RangeMultiplier(8)->Range(64, 1 << 20)->Complexity();

void BM_SerialText(benchmark::State& state) {
  std::string bytes(static_cast<size_t>(state.range(0)), '\x5A');
  for (auto _ : state) benchmark::DoNotOptimize(quil::serialText(bytes));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SerialText)->RangeMultiplier(8)->Range(16, 1 << 18)->Complexity();

}  // namespace

BENCHMARK_MAIN();
