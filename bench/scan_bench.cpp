// One whole scan of a home as `quillet scan` makes it, wall and process CPU time, with what the
// result keeps of the files its items share through hard links.
//
//   QUILLET_BENCH_HOME=/some/generated/home build/release/bench/scan_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "core/scanning/platform_locations.h"
#include "core/scanning/scanner.h"

namespace {

void BM_Scan(benchmark::State& state) {
    const char* home = std::getenv("QUILLET_BENCH_HOME");
    if (home == nullptr) {
        state.SkipWithError("set QUILLET_BENCH_HOME to a home made by generate_home");
        return;
    }
    const tarnby::ScanConfiguration configuration =
        tarnby::PlatformLocations::configuration(home, {std::string(home) + "/Developer"}, tarnby::UserEnvironment{});
    for (auto _ : state) {
        const tarnby::ScanResult result = tarnby::Scanner::scan(configuration, std::nullopt, {}, {});
        double records = 0, bytes = 0, cut = 0;
        for (const tarnby::StorageItem& item : result.items) {
            records += static_cast<double>(item.measurement.sharedLinks.size());
            bytes += static_cast<double>(item.measurement.sharedLinks.capacity() * sizeof(tarnby::SharedLink));
            cut += item.measurement.sharedLinksCut ? 1 : 0;
        }
        state.counters["items"] = static_cast<double>(result.items.size());
        state.counters["shared_links"] = records;
        state.counters["shared_link_bytes"] = bytes;
        state.counters["items_cut"] = cut;
    }
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
