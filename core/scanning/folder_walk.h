#pragma once

#include <cstddef>
#include <string>

#include "core/records/measurement.h"
#include "core/records/scan_cancellation.h"

// The walk behind FileInspection::measure (internal to the scanning library).
namespace tarnby::FolderWalk {

// Threads a measurement uses at most, whatever the hardware offers: beyond this the kernel's
// own locks, not the cores, set the pace.
inline constexpr std::size_t kMaxThreads = 8;

// Measures the folder at `path` (already found safe) and everything below it into `result`:
// the folder's own line, then every entry, each file identity counted once, and the
// fingerprint of all lines in sorted order. `threads` 0 means one thread until the folder
// proves large, then up to the hardware's count (capped); any other value uses exactly that
// many from the start. The result is the same for every thread count except which entries
// get lines before a stop (cancellation, the entry limit). Never throws.
void measure(const std::string& path, const ScanCancellation& cancellation, std::size_t entryLimit, std::size_t threads,
             Measurement& result);

}  // namespace tarnby::FolderWalk
