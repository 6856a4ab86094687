#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/records/time_point.h"

namespace tarnby {

// What one inspection of a folder found.
struct Measurement {
    std::int64_t bytes = 0;             // allocated space of non-directory entries, each identity once
    std::int64_t files = 0;             // distinct non-directory entries
    std::optional<TimePoint> modified;  // newest modification time seen
    std::string fingerprint;            // SHA-256 hex of the sorted entry lines; empty when none were taken
    bool complete = true;               // false when anything could not be seen

    friend bool operator==(const Measurement&, const Measurement&) = default;
};

}  // namespace tarnby
