#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/platform.h"
#include "core/records/scan_cancellation.h"
#include "core/records/simulator_device.h"
#include "core/simulators/command_runner.h"

namespace tarnby {

// Where the model and the planner get the simulator device list from.
class SimulatorManaging {
public:
    virtual ~SimulatorManaging() = default;
    // Every device the tool knows. Throws when the list cannot be had or understood
    // (LaunchError, StorageError, DecodingError). Blocks; call it off the main thread.
    virtual std::vector<SimulatorDevice> inventory() const = 0;
    // The same, given up (with an error) soon after `cancellation` is cancelled. Sources that
    // answer at once need not override it.
    virtual std::vector<SimulatorDevice> cancellableInventory(const ScanCancellation& cancellation) const {
        (void)cancellation;
        return inventory();
    }
    // False only for a tool that is not installed here, so that asking could only fail.
    virtual bool toolPresent() const { return true; }
};

// The developer tools' simulator control tool, run through the command runner.
class SystemSimulators final : public SimulatorManaging {
public:
    struct Locations {
        std::string program = "/usr/bin/xcrun";
        std::string developerFolder = "/Applications/Xcode.app/Contents/Developer";
        std::string simctlInDeveloperFolder = "/Applications/Xcode.app/Contents/Developer/usr/bin/simctl";
    };
    static constexpr double kTimeLimit = 15.0;

    SystemSimulators() = default;
    // Tests point these at a stand-in tool, and choose the platform whose rules apply.
    explicit SystemSimulators(Locations locations, Platform platform = kHostPlatform)
        : m_locations(std::move(locations)), m_platform(platform) {}

    std::vector<SimulatorDevice> inventory() const override;
    std::vector<SimulatorDevice> cancellableInventory(const ScanCancellation& cancellation) const override;
    // Always on macOS, where a missing tool is a fault worth a note; elsewhere whether the
    // program exists.
    bool toolPresent() const override;

    // The tool's environment: the given one without SIMULATOR_DEVICE_SET_PATH, with
    // DEVELOPER_DIR added when absent and the default developer folder's simctl exists.
    CommandRunner::Environment toolEnvironment(CommandRunner::Environment environment) const;

private:
    std::string run(const std::vector<std::string>& arguments, const ScanCancellation* cancellation) const;

    Locations m_locations;
    Platform m_platform = kHostPlatform;
};

// The device list a scan starts from: asks `simulators` once. When that fails, gives nothing and
// puts in `note` the sentence the scan's notes end with ("Simulator inventory unavailable. …"
// followed by the error's description). When the tool is not present and `devicesRoot` holds no
// device folder, there is nothing to inventory: it gives nothing, asks nothing and notes nothing.
// Blocks like inventory(), and gives up soon after `cancellation` is cancelled.
std::optional<std::vector<SimulatorDevice>> inventoryForScan(const SimulatorManaging& simulators,
                                                             const std::string& devicesRoot,
                                                             std::optional<std::string>& note,
                                                             const ScanCancellation& cancellation);

// Decodes `simctl list devices --json` output: all runtimes' devices concatenated, each
// runtime's in the tool's order. Any shape problem fails the whole list with DecodingError.
std::vector<SimulatorDevice> decodeSimulatorInventory(std::string_view json);

// A SimulatorDevice as a JSON object text with its four keys ("isAvailable" only when known).
std::string encodeSimulatorDevice(const SimulatorDevice& device);

}  // namespace tarnby
