#pragma once

#include <cstddef>
#include <string>

#include "core/platform/folder_descriptors.h"
#include "core/records/measurement.h"
#include "core/records/scan_cancellation.h"

// The walk behind FileInspection::measure (internal to the scanning library).
namespace tarnby::FolderWalk {

// Threads a measurement uses at most, whatever the hardware offers: beyond this the kernel's
// own locks, not the cores, set the pace.
inline constexpr std::size_t kMaxThreads = 8;

struct Limits {
    std::size_t entries = 0;  // lines taken before the walk stops as incomplete
    // 0: one thread until the folder proves large, then up to the hardware's count (capped);
    // any other value uses exactly that many from the start.
    std::size_t threads = 0;
    FolderBudget descriptors;     // per measurement
    std::size_t sharedLinks = 0;  // shared files kept in the measurement, the largest first
};

// Measures the folder at `path` (already found safe) and everything below it into `result`:
// the folder's own line, then every entry, each file identity counted once, and the
// fingerprint of all lines in sorted order; what removing it frees, the files it shares
// through hard links, and its largest children. The result is the same for every thread count and
// descriptor budget except which entries get lines before a stop (cancellation, the entry
// limit). Never throws.
void measure(const std::string& path, const ScanCancellation& cancellation, const Limits& limits, Measurement& result);

}  // namespace tarnby::FolderWalk
