#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/records/time_point.h"

namespace tarnby::plist {

// Reads the property list (binary or XML) at `path` and gives the date stored under
// `key`, when the file is a non-empty dictionary and that value is a date. Never throws.
std::optional<TimePoint> dateValue(const std::string& path, std::string_view key);

// Parses `data` as a property list (binary or XML) and gives the text stored under `key`,
// when the list is a dictionary and that value is a string. Never throws.
std::optional<std::string> stringValue(std::string_view data, std::string_view key);

}  // namespace tarnby::plist
