#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace tarnby {

// One device as the simulator tool lists it (JSON keys "udid", "name", "state", "isAvailable").
struct SimulatorDevice {
    std::string udid;
    std::string name;
    std::string state;                // the tool's own word, e.g. kShutdownState
    std::optional<bool> isAvailable;  // none when the tool omitted it

    friend bool operator==(const SimulatorDevice&, const SimulatorDevice&) = default;
};

// The only state in which a device's data may be proposed for cleanup.
inline constexpr std::string_view kShutdownState = "Shutdown";

// Device folders are named after the udid up to letter case. Both sides are UUID text when
// they can match at all, so ASCII case folding is enough.
inline bool sameDeviceID(std::string_view a, std::string_view b) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

}  // namespace tarnby
