#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/records/scan_cancellation.h"
#include "core/records/scan_result.h"
#include "core/records/simulator_device.h"
#include "core/records/storage_item.h"
#include "core/records/storage_kind.h"
#include "core/scanning/file_inspection.h"
#include "core/scanning/scan_configuration.h"

namespace tarnby {

// What a folder met in a project walk is, when it is a target.
struct Classification {
    StorageKind kind;
    std::string explanation;
    std::string rebuild;
};

// The fixed limits of a scan; tests shrink them instead of building a million files.
struct ScanLimits {
    std::size_t rootEntries = 1'000'000;  // per project-root walk
    std::size_t measuredEntries = FileInspection::kEntryLimit;
    std::size_t progressInterval = 1000;  // entries between "Looking through" texts
    // Threads measuring findings while the walk goes on, each measurement walking as many:
    // 0 lets the hardware decide, 1 does everything on the scanning thread. The result is the
    // same either way.
    std::size_t threads = 0;
};

namespace Scanner {

// Kind, explanation and rebuild text of a folder met while walking a project root, or nothing.
// Only the catalogue's names touch the disk: marker and lock-file existence tests, and for a
// marker pattern ("*.csproj") a listing of the folder the marker belongs in.
std::optional<Classification> classify(const std::string& path);

// True for "/System", "/Library", "/Applications", "/bin", "/sbin", "/usr", "/etc" and
// anything below them, compared as standardized path text.
bool protectedSystemPath(const std::string& path);

// True when `item` is still a cleanup target of its own kind under `configuration`.
// Trusts only the item's path, kind and device identifier.
bool recognized(const StorageItem& item, const ScanConfiguration& configuration);

// Called synchronously on the scanning thread.
using Progress = std::function<void(const std::string&)>;

// Called synchronously on the scanning thread with each item once its measurement is made, in
// the order the items were found (which is also the order of equal sizes in the result); an
// item waits for those found before it, so its values are the final ones. The item is valid
// during the call only. Items are measured on other threads meanwhile, so a slow receiver
// delays the scan but changes nothing in it; one that throws is not called again.
using Measured = std::function<void(const StorageItem&)>;

// Project roots, package caches, DerivedData folders, simulator devices, in that order;
// items sorted by size, largest first (stable). Never throws; `devices` is nothing when there
// is no inventory. Blocks while it walks the disk. After a stop (the cancellation), an item
// whose measurement had started is listed, incomplete unless it finished first; one that had
// not started is left out, with no note. `measured` receives exactly the items of the result.
ScanResult scan(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
                const ScanCancellation& cancellation, const Progress& progress, const ScanLimits& limits = {});
ScanResult scan(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
                const ScanCancellation& cancellation, const Progress& progress, const Measured& measured,
                const ScanLimits& limits = {});

}  // namespace Scanner
}  // namespace tarnby
