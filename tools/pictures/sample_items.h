#pragma once

// A long list for the pictures and the list benchmark to draw.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/app/fixture.h"

namespace fixture {

// A long, realistic list: projects under the home folder, every kind, spread sizes and dates,
// some undated, some protected or incompletely measured. The same list for the same count.
inline std::vector<tarnby::StorageItem> sampleItems(const std::string& home, std::size_t count) {
    static const char* const kWords[] = {"atlas", "Beacon", "cedar",  "Drift",    "ember",
                                         "fjord", "Grove",  "harbor", "Über-app", "juniper"};
    static const char* const kTargets[] = {"node_modules", "target", ".build", ".next"};
    static const tarnby::StorageKind kKinds[] = {tarnby::StorageKind::dependencies, tarnby::StorageKind::builds,
                                                 tarnby::StorageKind::builds, tarnby::StorageKind::builds};
    std::vector<tarnby::StorageItem> items;
    items.reserve(count);
    std::uint64_t state = 42;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t target = next() % 4;
        const std::string project = std::string(kWords[next() % 10]) + "-" + kWords[next() % 10] + std::to_string(i);
        std::string path = home + "/Code/client" + std::to_string(i % 37) + "/" + project + "/" + kTargets[target];
        const std::optional<int> age =
            next() % 9 == 0 ? std::nullopt : std::optional<int>(static_cast<int>(next() % 400));
        tarnby::StorageItem made = item(std::move(path), project + " " + kTargets[target], kKinds[target],
                                        static_cast<std::int64_t>(next() % 4'000'000'000ULL), age);
        if (i % 11 == 5) {
            made.kind = tarnby::StorageKind::caches;
            made.url = home + "/Library/Caches/cache-" + std::to_string(i);
            made.title = "Package cache " + std::to_string(i);
        }
        if (i % 13 == 7) {
            made.kind = tarnby::StorageKind::simulators;
            made.url = home + "/Library/Developer/CoreSimulator/Devices/" + std::to_string(100000 + i);
            made.title = "iPhone 15 Pro (" + std::to_string(i) + ")";
            made.deviceID = std::to_string(100000 + i);
            if (i % 3 == 0) made.protection = "This simulator is booted.";
        }
        if (i % 17 == 3) made.measurement.complete = false;
        items.push_back(std::move(made));
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const auto& a, const auto& b) { return a.measurement.bytes > b.measurement.bytes; });
    return items;
}

}  // namespace fixture
