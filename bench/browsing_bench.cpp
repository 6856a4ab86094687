// How long the window takes to derive the listed items from a very large scan.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "core/browsing/result_browsing.h"

namespace {

using tarnby::StorageItem;
using tarnby::StorageKind;
using tarnby::browsing::Choices;

// Titles and paths shaped like real findings: numbered projects, mixed case, a few
// non-ASCII names, several kinds, spread sizes and dates, some undated.
std::vector<StorageItem> makeItems(std::size_t count) {
    static const char* const kWords[] = {"alpha", "Beta", "gamma",  "Delta", "web",
                                         "api",   "Über", "mobile", "core",  "tools"};
    static const char* const kTargets[] = {"node_modules", "target", ".build", ".next"};
    std::mt19937_64 random(42);
    const auto now = std::chrono::system_clock::now();
    std::vector<StorageItem> items;
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        StorageItem item;
        const std::string project =
            std::string(kWords[random() % 10]) + "-" + kWords[random() % 10] + std::to_string(random() % 5000);
        const std::string target = kTargets[random() % 4];
        item.url = "/Users/developer/Code/client" + std::to_string(i % 97) + "/" + project + "/" + target;
        item.kind = static_cast<StorageKind>(random() % 4);
        item.title = project + " " + target;
        item.explanation = "Installed packages that your package manager can download again.";
        item.rebuild = "Your package manager downloads packages as needed";
        item.measurement.bytes = static_cast<std::int64_t>(random() % 5'000'000'000ULL);
        item.measurement.files = static_cast<std::int64_t>(random() % 100'000);
        if (random() % 10 != 0) item.measurement.modified = now - std::chrono::hours(random() % 5000);
        item.measurement.fingerprint = std::string(64, 'a');
        items.push_back(std::move(item));
    }
    return items;
}

const std::vector<StorageItem>& hundredThousand() {
    static const std::vector<StorageItem> items = makeItems(100'000);
    return items;
}

// The name keys the window keeps beside the list, made once when the list changes.
const std::vector<std::string>& hundredThousandKeys() {
    static const std::vector<std::string> keys = tarnby::browsing::nameKeys(hundredThousand());
    return keys;
}

// A keystroke as the window sees it: keys already made.
void listed(benchmark::State& state, Choices choices) {
    const auto& items = hundredThousand();
    const auto& keys = hundredThousandKeys();
    const auto now = std::chrono::system_clock::now();
    std::size_t count = 0;
    for (auto _ : state) {
        const auto order = tarnby::browsing::listedIndices(items, choices, now, &keys);
        count = order.size();
        benchmark::DoNotOptimize(order.data());
    }
    state.counters["listed"] = static_cast<double>(count);
}

// A caller without keys: a name sort makes the listed titles' keys every time.
void listedWithoutKeys(benchmark::State& state, Choices choices) {
    const auto& items = hundredThousand();
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        const auto order = tarnby::browsing::listedIndices(items, choices, now);
        benchmark::DoNotOptimize(order.data());
    }
}

// What the window pays once per new scan result or change to the kept set.
void makingNameKeys(benchmark::State& state) {
    const auto& items = hundredThousand();
    for (auto _ : state) {
        const auto keys = tarnby::browsing::nameKeys(items);
        benchmark::DoNotOptimize(keys.data());
    }
}

void filteredCopies(benchmark::State& state, Choices choices) {
    const auto& items = hundredThousand();
    const auto& keys = hundredThousandKeys();
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        const auto list = tarnby::browsing::filtered(items, choices, now, &keys);
        benchmark::DoNotOptimize(list.data());
    }
}

Choices make(std::string query, std::string order, int age = 0) {
    Choices choices;
    choices.query = std::move(query);
    choices.order = std::move(order);
    choices.age = age;
    return choices;
}

// Wall time, what the user waits for; the minimum of the repetitions is the figure least
// disturbed by other work on the machine.
void measured(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

}  // namespace

#define QUILLET_BROWSING_BENCH(function, name, choices) BENCHMARK_CAPTURE(function, name, choices)->Apply(measured)

// "code" matches every path, so the sort sees all 100,000 items.
QUILLET_BROWSING_BENCH(listed, search_all_by_name, make("code", "name"));
QUILLET_BROWSING_BENCH(listed, search_all_by_size, make("code", "size"));
QUILLET_BROWSING_BENCH(listed, search_all_by_age, make("code", "age"));
QUILLET_BROWSING_BENCH(listed, search_some_by_name, make("BETA", "name"));
QUILLET_BROWSING_BENCH(listed, search_non_ascii_by_name, make("über", "name"));
QUILLET_BROWSING_BENCH(listed, no_search_by_name_90_days, make("", "name", 90));
BENCHMARK(makingNameKeys)->Name("nameKeys/hundred_thousand_titles")->Apply(measured);
QUILLET_BROWSING_BENCH(listedWithoutKeys, search_all_by_name, make("code", "name"));
QUILLET_BROWSING_BENCH(listedWithoutKeys, search_some_by_name, make("BETA", "name"));
// Copying whole items is what a caller pays for filtered(); the window should map positions.
QUILLET_BROWSING_BENCH(filteredCopies, search_all_by_name_copies, make("code", "name"));

BENCHMARK_MAIN();
