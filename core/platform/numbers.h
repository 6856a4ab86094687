#pragma once

#include <cstdint>
#include <limits>

namespace tarnby {

// Sums of sizes are held at the ends of the range rather than wrapped.
inline std::int64_t saturatingAdd(std::int64_t total, std::int64_t value) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(total, value, &sum)) {
        return value > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

}  // namespace tarnby
