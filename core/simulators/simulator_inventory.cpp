#include "core/simulators/simulator_inventory.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "core/platform/file_system.h"
#include "core/platform/uuid.h"
#include "core/records/storage_error.h"

namespace tarnby {

namespace {

// Keeps the runtimes in the order the tool printed them.
using Json = nlohmann::ordered_json;

[[noreturn]] void fail(const std::string& reason) {
    throw DecodingError("The simulator list could not be read: " + reason);
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string requiredText(const Json& device, const char* key, const std::string& runtime) {
    const auto found = device.find(key);
    if (found == device.end() || found->is_null()) {
        fail("a device of runtime " + inQuotes(runtime) + " has no " + inQuotes(key) + ".");
    }
    if (!found->is_string()) {
        fail("a device of runtime " + inQuotes(runtime) + " has a " + inQuotes(key) + " that is not text.");
    }
    return found->get<std::string>();
}

SimulatorDevice decodeDevice(const Json& object, const std::string& runtime) {
    if (!object.is_object()) fail("a device of runtime " + inQuotes(runtime) + " is not an object.");
    SimulatorDevice device;
    device.udid = requiredText(object, "udid", runtime);
    device.name = requiredText(object, "name", runtime);
    device.state = requiredText(object, "state", runtime);
    if (const auto found = object.find("isAvailable"); found != object.end() && !found->is_null()) {
        if (!found->is_boolean()) {
            fail("a device of runtime " + inQuotes(runtime) + " has an \"isAvailable\" that is not true or false.");
        }
        device.isAvailable = found->get<bool>();
    }
    return device;
}

// The entries the scan would take for device folders: names that parse as a UUID.
bool holdsDeviceFolders(const std::string& devicesRoot) {
    const auto listing = fs::listDirectory(devicesRoot, false);
    return listing && std::any_of(listing->begin(), listing->end(),
                                  [](const fs::DirectoryEntry& entry) { return uuid::isUUID(entry.name); });
}

}  // namespace

std::vector<SimulatorDevice> SystemSimulators::inventory() const {
    return decodeSimulatorInventory(run({"list", "devices", "--json"}, nullptr));
}

std::vector<SimulatorDevice> SystemSimulators::cancellableInventory(const ScanCancellation& cancellation) const {
    return decodeSimulatorInventory(run({"list", "devices", "--json"}, &cancellation));
}

bool SystemSimulators::toolPresent() const { return m_platform == Platform::macOS || fs::exists(m_locations.program); }

CommandRunner::Environment SystemSimulators::toolEnvironment(CommandRunner::Environment environment) const {
    // A device set chosen for some other purpose must not replace the user's own devices.
    environment.erase("SIMULATOR_DEVICE_SET_PATH");
    // Without it xcrun may pick the command line tools, which have no simctl.
    if (!environment.contains("DEVELOPER_DIR") && fs::exists(m_locations.simctlInDeveloperFolder)) {
        environment["DEVELOPER_DIR"] = m_locations.developerFolder;
    }
    return environment;
}

std::string SystemSimulators::run(const std::vector<std::string>& arguments,
                                  const ScanCancellation* cancellation) const {
    std::vector<std::string> toolArguments{"simctl"};
    toolArguments.insert(toolArguments.end(), arguments.begin(), arguments.end());
    return CommandRunner::run(m_locations.program, toolArguments, kTimeLimit,
                              toolEnvironment(CommandRunner::currentEnvironment()), cancellation);
}

std::optional<std::vector<SimulatorDevice>> inventoryForScan(const SimulatorManaging& simulators,
                                                             const std::string& devicesRoot,
                                                             std::optional<std::string>& note,
                                                             const ScanCancellation& cancellation) {
    try {
        if (!simulators.toolPresent() && !holdsDeviceFolders(devicesRoot)) return std::nullopt;
        return simulators.cancellableInventory(cancellation);
    } catch (const std::exception& error) {
        note = std::string("Simulator inventory unavailable. Simulator cleanup is disabled. ") + error.what();
    }
    return std::nullopt;
}

std::vector<SimulatorDevice> decodeSimulatorInventory(std::string_view json) {
    Json document;
    try {
        document = Json::parse(json);
    } catch (const Json::exception&) {
        fail("the tool's output is not JSON.");
    }
    if (!document.is_object()) fail("the tool's output is not a JSON object.");
    const auto runtimes = document.find("devices");
    if (runtimes == document.end() || runtimes->is_null()) fail("there is no \"devices\" entry.");
    if (!runtimes->is_object()) fail("\"devices\" is not an object.");

    std::vector<SimulatorDevice> devices;
    for (const auto& [runtime, list] : runtimes->items()) {
        if (!list.is_array()) fail("the devices of runtime " + inQuotes(runtime) + " are not a list.");
        for (const Json& object : list) devices.push_back(decodeDevice(object, runtime));
    }
    return devices;
}

std::string encodeSimulatorDevice(const SimulatorDevice& device) {
    nlohmann::json object = {{"udid", device.udid}, {"name", device.name}, {"state", device.state}};
    if (device.isAvailable) object["isAvailable"] = *device.isAvailable;
    // Replacing stray bytes keeps this from throwing on text that did not come from the tool.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarnby
