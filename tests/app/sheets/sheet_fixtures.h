#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/planning/cleanup_plan.h"
#include "core/records/freed_space.h"
#include "core/records/storage_item.h"
#include "core/scanning/target_catalogue.h"

// Items and plans as a scan and the planner make them, for the sheet tests and pictures.
namespace quillet::ui::fixtures {

inline tarnby::TimePoint dayTime(int year, int month, int day, int hour) {
    using namespace std::chrono;
    return sys_days{std::chrono::year{year} / month / day} + hours{hour};
}

inline tarnby::StorageItem folder(const std::string& home, const std::string& project,
                                  std::int64_t bytes = 734'003'200) {
    const auto& target = tarnby::TargetCatalogue::kWalkedTargets[0];
    tarnby::StorageItem item;
    item.url = home + "/Code/" + project + "/node_modules";
    item.kind = tarnby::StorageKind::dependencies;
    item.title = project + " / node_modules";
    item.explanation = std::string(target.explanation);
    item.rebuild = "pnpm install --frozen-lockfile";
    item.measurement.bytes = item.measurement.freedBytes = bytes;
    item.measurement.files = 48'213;
    item.measurement.modified = dayTime(2026, 9, 14, 9);
    item.measurement.fingerprint = std::string(64, 'a');
    return item;
}

inline tarnby::StorageItem simulator(const std::string& home, const std::string& name, bool running,
                                     bool booted = true) {
    tarnby::StorageItem item;
    const std::string udid = "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A1" + std::to_string(name.size() % 10);
    item.url = home + "/Library/Developer/CoreSimulator/Devices/" + udid;
    item.kind = tarnby::StorageKind::simulators;
    item.title = name;
    item.explanation = std::string(tarnby::TargetCatalogue::kSimulatorExplanation);
    item.rebuild = std::string(tarnby::TargetCatalogue::kSimulatorRebuild);
    item.measurement.bytes = item.measurement.freedBytes = 2'147'483'648;
    item.measurement.files = 9'120;
    item.measurement.modified = dayTime(2026, 11, 2, 15);
    item.deviceID = udid;
    if (booted) {
        item.lastBoot = dayTime(2026, 10, 30, 8);
    }
    if (running) {
        item.protection = std::string(tarnby::TargetCatalogue::kInUseProtection);
    }
    return item;
}

inline tarnby::CleanupPlan plan(const std::string& home, int folders, bool withSimulator) {
    tarnby::CleanupPlan result;
    result.id = "7D7B4F52-3C0E-4A43-9A43-0F4B3B0A9E11";
    for (int i = 0; i < folders; ++i) {
        const tarnby::StorageItem item = folder(home, "site-" + std::to_string(i + 1), 120'000'000 + i * 7'300'000);
        result.items.push_back(
            {item.url, item.title, tarnby::PlannedOperation::moveFolderToTrash, item.measurement.bytes});
    }
    if (withSimulator) {
        const tarnby::StorageItem item = simulator(home, "iPhone 15", false);
        result.items.push_back(
            {item.url, item.title, tarnby::PlannedOperation::eraseSimulator, item.measurement.bytes});
    }
    return result;
}

// A pnpm store and a project hard-linking 89.3 MB of it: each alone frees little, the two
// together nearly all. The project lists what takes its space.
inline std::vector<tarnby::StorageItem> sharedPair(const std::string& home) {
    tarnby::StorageItem project = folder(home, "notes-pnpm", 89'700'000);
    project.measurement.freedBytes = 400'000;
    tarnby::StorageItem store = project;
    store.url = home + "/.local/share/pnpm/store";
    store.kind = tarnby::StorageKind::caches;
    store.title = "pnpm store";
    store.explanation = std::string(tarnby::TargetCatalogue::kCacheExplanation);
    store.rebuild = std::string(tarnby::TargetCatalogue::kCacheRebuild);
    store.measurement.bytes = 90'900'000;
    store.measurement.freedBytes = 1'600'000;
    const tarnby::SharedLink link{1, 77, 174'414, 2, 1};  // 89.3 MB in one link each
    project.measurement.sharedLinks = store.measurement.sharedLinks = {link};
    project.measurement.largest = {{".pnpm", 61'200'000},
                                   {"typescript", 12'400'000},
                                   {"next", 8'900'000},
                                   {"@types", 3'100'000},
                                   {"react-dom", 2'200'000},
                                   {".modules.yaml", 8'192},
                                   {"a-package-whose-name-goes-on-for-longer-than-the-sheet-has-room-for", 4'096},
                                   {".bin", 4'096}};
    return {store, project};
}

// What cleaning frees when the plan's items share nothing: all of it.
inline tarnby::FreedSpace freedAll(const tarnby::CleanupPlan& plan) {
    tarnby::FreedSpace freed;
    for (const auto& entry : plan.items) freed.bytes += entry.estimatedBytes;
    return freed;
}

}  // namespace quillet::ui::fixtures
