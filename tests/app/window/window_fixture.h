#pragma once

// A storage model on a fixture home whose scans return prepared items, for the window's tests.

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "app/model/storage_model.h"
#include "core/records/scan_result.h"

namespace window_fixture {

using namespace std::chrono_literals;

struct NoSimulators final : tarnby::SimulatorManaging {
    std::vector<tarnby::SimulatorDevice> inventory() const override { return {}; }
};

// Reports `progressTexts`, then returns `result`; while `gate` is set it holds the scan until the
// test releases it (at most 10 s, so a failing test cannot hang the model's destructor). With
// `found`, it reports those items as measured, in that order, one per release of `steps` (all at
// once without), stops reporting at a stop, and returns what it reported, sorted as the scanner
// sorts. What the last scan saw is read once the model is idle or gone.
struct FakeScan {
    tarnby::ScanResult result;
    std::shared_ptr<std::binary_semaphore> gate;
    std::vector<tarnby::StorageItem> found;
    std::shared_ptr<std::counting_semaphore<>> steps;
    std::vector<std::string> progressTexts;
    std::atomic<int> calls{0};
    std::atomic<int> reported{0};  // items reported as measured in the last scan
    std::atomic<bool> sawCancellation{false};
    std::optional<std::vector<tarnby::SimulatorDevice>> devices;
    tarnby::Scanner::Progress progress;  // kept, to report after the scan

    quillet::StorageModelSetup::ScanFunction function() {
        return [this](const tarnby::ScanConfiguration&, const std::optional<std::vector<tarnby::SimulatorDevice>>& seen,
                      const tarnby::ScanCancellation& cancellation, const tarnby::Scanner::Progress& report,
                      const tarnby::Scanner::Measured& measured) {
            ++calls;
            devices = seen;
            progress = report;
            for (const auto& text : progressTexts) report(text);
            std::vector<tarnby::StorageItem> measuredItems;
            reported = 0;
            for (const auto& next : found) {
                if (!waitForStep(cancellation)) break;
                if (measured) measured(next);
                measuredItems.push_back(next);
                ++reported;
            }
            if (auto held = gate) held->try_acquire_for(10s);
            tarnby::ScanResult out = result;
            if (!found.empty()) {
                std::stable_sort(measuredItems.begin(), measuredItems.end(), [](const auto& a, const auto& b) {
                    return a.measurement.bytes > b.measurement.bytes;
                });
                out.items = std::move(measuredItems);
            }
            out.cancelled = sawCancellation = cancellation.isCancelled();
            return out;
        };
    }
    void hold() { gate = std::make_shared<std::binary_semaphore>(0); }
    void release() {
        if (gate) gate->release();
    }
    void holdSteps() { steps = std::make_shared<std::counting_semaphore<>>(0); }

private:
    bool waitForStep(const tarnby::ScanCancellation& cancellation) const {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!cancellation.isCancelled() && std::chrono::steady_clock::now() < end) {
            if (!steps || steps->try_acquire_for(5ms)) return true;
        }
        return false;
    }
};

// Plans the items it is given, one planned entry each, or returns `plan` when that is set, or
// throws `failure`; held at `gate` while that is set, and with `untilAbandoned` until the model
// goes away (at most 10 s). What it was given is kept for the test.
struct FakePlan {
    std::shared_ptr<std::binary_semaphore> gate;
    std::optional<tarnby::CleanupPlan> plan;
    std::exception_ptr failure;
    bool untilAbandoned = false;
    std::vector<std::string> given;
    bool acknowledged = false;
    bool sawAbandon = false;

    quillet::StorageModelSetup::PlanFunction function() {
        return [this](const std::vector<tarnby::StorageItem>& items, const tarnby::ScanConfiguration&,
                      const tarnby::SimulatorManaging&, bool acknowledge, const tarnby::ScanCancellation& abandon) {
            given.clear();
            for (const auto& planned : items) given.push_back(planned.url);
            acknowledged = acknowledge;
            if (auto held = gate) held->try_acquire_for(10s);
            const auto end = std::chrono::steady_clock::now() + 10s;
            while (untilAbandoned && !abandon.isCancelled() && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(5ms);
            }
            sawAbandon = abandon.isCancelled();
            if (failure) std::rethrow_exception(failure);
            if (plan) return *plan;
            tarnby::CleanupPlan made;
            for (const auto& planned : items) {
                made.items.push_back({planned.url, planned.title, tarnby::PlannedOperation::moveFolderToTrash,
                                      planned.measurement.bytes});
            }
            return made;
        };
    }
    void hold() { gate = std::make_shared<std::binary_semaphore>(0); }
    void release() {
        if (gate) gate->release();
    }
};

inline tarnby::StorageItem item(std::string path, std::string title, tarnby::StorageKind kind, std::int64_t bytes,
                                std::optional<int> daysAgo = 40) {
    tarnby::StorageItem made;
    made.url = std::move(path);
    made.title = std::move(title);
    made.kind = kind;
    made.measurement.bytes = made.measurement.freedBytes = bytes;
    if (daysAgo) made.measurement.modified = std::chrono::system_clock::now() - std::chrono::days(*daysAgo);
    return made;
}

// A fixture home with a model whose scans return `scan.result`.
struct Home {
    QTemporaryDir folder;
    FakeScan scan;
    FakePlan plan;

    std::string path() const { return folder.path().toStdString(); }
    quillet::StorageModelSetup setup() {
        return {path(),
                std::make_shared<NoSimulators>(),
                scan.function(),
                plan.function(),
                [](const std::string&) { return std::optional<std::int64_t>(123'000'000'000); },
                std::nullopt};
    }
};

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

inline bool idle(const quillet::StorageModel& model) {
    return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
}

}  // namespace window_fixture
