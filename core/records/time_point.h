#pragma once

#include <chrono>
#include <cstdint>
#include <limits>

namespace tarnby {

// Points in time carry the file system's nanoseconds.
using TimePoint = std::chrono::system_clock::time_point;

// Whole seconds either side of 1970 that a TimePoint can hold (64-bit nanoseconds: the years
// 1677 to 2262). File systems allow more (ext4 up to 2446).
inline constexpr std::int64_t kTimePointSecondsLimit = std::numeric_limits<TimePoint::rep>::max() / 1'000'000'000 - 1;

// Seconds and nanoseconds since 1970 as a TimePoint, held at the ends of its range rather than
// overflowing.
inline TimePoint timePointSince1970(std::int64_t seconds, std::int64_t nanoseconds) {
    if (seconds > kTimePointSecondsLimit)
        return TimePoint(TimePoint::duration(std::numeric_limits<TimePoint::rep>::max()));
    if (seconds < -kTimePointSecondsLimit)
        return TimePoint(TimePoint::duration(std::numeric_limits<TimePoint::rep>::min()));
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::seconds(seconds) +
                                                                     std::chrono::nanoseconds(nanoseconds)));
}

}  // namespace tarnby
