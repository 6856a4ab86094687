#pragma once

#include <cstdint>
#include <string>

#include "core/records/time_point.h"

namespace tarnby::formatting {

// A byte count as a file size in decimal units (1 KB = 1000 bytes), the way the desktop's
// byte-count formatter writes file sizes:
//   0 -> "Zero KB"; 1 -> "1 byte"; below 1000 -> "N bytes";
//   KB without decimals, MB with one, GB and larger with two, trailing zeros dropped
//   ("12 KB", "1.2 MB", "2.15 GB", "3 GB"); halves round up, and a value that rounds to
//   1000 of a unit is written in the next unit ("1 MB", not "1000 KB").
std::string byteCount(std::int64_t bytes);

// The date in the locale's medium style ("Dec 6, 2026" in US English), optionally followed by
// the short time ("Dec 6, 2026, 3:04 PM"), in the local time zone.
std::string date(TimePoint when, bool withTime);

// Grouped decimal integer in the user's locale ("1,234").
std::string integer(std::int64_t value);

}  // namespace tarnby::formatting
