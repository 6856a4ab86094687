#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnby {

// Points in time carry the file system's nanoseconds.
using TimePoint = std::chrono::system_clock::time_point;

// What one inspection of a folder found.
struct Measurement {
    std::int64_t bytes = 0;        // allocated space of non-directory entries, each identity once
    std::int64_t files = 0;        // distinct non-directory entries
    std::optional<TimePoint> modified;  // newest modification time seen
    std::string fingerprint;       // SHA-256 hex of the sorted entry lines; empty when none were taken
    bool complete = true;          // false when anything could not be seen

    friend bool operator==(const Measurement&, const Measurement&) = default;
};

}  // namespace tarnby
