// How long one date text takes; the window formats one per listed row.
#include <benchmark/benchmark.h>

#include <chrono>

#include "core/platform/formatting.h"

namespace {

void BM_DateWithTime(benchmark::State& state) {
    const tarnby::TimePoint when = std::chrono::system_clock::from_time_t(1'796'598'240);
    for (auto _ : state) benchmark::DoNotOptimize(tarnby::formatting::date(when, true));
}
BENCHMARK(BM_DateWithTime);

}  // namespace

BENCHMARK_MAIN();
