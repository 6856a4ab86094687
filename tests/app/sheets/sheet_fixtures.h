#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/planning/cleanup_plan.h"
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
    item.measurement.bytes = bytes;
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
    item.measurement.bytes = 2'147'483'648;
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

}  // namespace quillet::ui::fixtures
