// One measurement of a large folder on one thread and on the automatic number, wall and
// process CPU time, so the cost of spreading a walk shows apart from the rest of a scan.
//
//   QUILLET_BENCH_FOLDER=/some/large/folder build/release/bench/measure_bench
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "core/scanning/file_inspection.h"

namespace {

void BM_Measure(benchmark::State& state) {
    const char* folder = std::getenv("QUILLET_BENCH_FOLDER");
    if (folder == nullptr) {
        state.SkipWithError("set QUILLET_BENCH_FOLDER to a large folder");
        return;
    }
    const tarnby::ScanCancellation cancellation;
    const auto threads = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        const tarnby::Measurement m =
            tarnby::FileInspection::measure(folder, cancellation, tarnby::FileInspection::kEntryLimit, threads);
        state.counters["files"] = static_cast<double>(m.files);
    }
}
// 1: the calling thread alone; 0: as a scan measures (threads once the folder proves large).
BENCHMARK(BM_Measure)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
