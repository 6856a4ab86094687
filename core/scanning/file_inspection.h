#pragma once

#include <cstddef>
#include <string>

#include "core/records/measurement.h"
#include "core/records/scan_cancellation.h"

// Deciding whether a path may be looked at, and measuring one folder from metadata alone.
namespace tarnby::FileInspection {

// Entry lines taken per measurement before it gives up as incomplete.
inline constexpr std::size_t kEntryLimit = 1'000'000;

// Files shared through hard links kept per measurement (32 bytes each); beyond this the
// largest are kept and the measurement says its shared figures are estimates.
inline constexpr std::size_t kSharedLinkLimit = 100'000;

// True when no component is "." or "..", the path and every ancestor exist, and the only
// symbolic links on the way are "/var", "/tmp" and "/etc" pointing into "/private".
// Reads metadata only; never throws.
bool safePath(const std::string& path);

// Walks the folder once, reading metadata only (no file is opened). Never throws: whatever
// could not be seen (unsafe path, unreadable entry, the entry limit, cancellation) makes the
// result incomplete. Synchronous: returns when the walk is over. A large folder is walked by
// several threads started for the call; `threads` 0 picks their number, 1 keeps the walk on
// the caller's thread, and equal trees give equal measurements whatever the number.
// `entryLimit`, `threads` and `sharedLinkLimit` are seams for tests.
Measurement measure(const std::string& path, const ScanCancellation& cancellation, std::size_t entryLimit = kEntryLimit,
                    std::size_t threads = 0, std::size_t sharedLinkLimit = kSharedLinkLimit);

}  // namespace tarnby::FileInspection
