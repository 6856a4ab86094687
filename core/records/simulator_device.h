#pragma once

#include <optional>
#include <string>

namespace tarnby {

// One device as the simulator tool lists it (JSON keys "udid", "name", "state", "isAvailable").
struct SimulatorDevice {
    std::string udid;
    std::string name;
    std::string state;                 // the tool's own word, e.g. "Shutdown"
    std::optional<bool> isAvailable;   // none when the tool omitted it

    friend bool operator==(const SimulatorDevice&, const SimulatorDevice&) = default;
};

}  // namespace tarnby
