#pragma once

#include <chrono>

namespace tarnby {

// Points in time carry the file system's nanoseconds.
using TimePoint = std::chrono::system_clock::time_point;

}  // namespace tarnby
