#include "core/simulators/simulator_inventory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

// A stand-in for xcrun: records its arguments and environment, prints `output`, exits with `status`.
SystemSimulators fakeTool(const TempTree& tree, const std::string& output, int status = 0) {
    tree.writeFile("output.txt", output);
    const std::string program =
        tree.writeFile("bin/xcrun", "#!/bin/sh\n"
                                    "printf '%s\\n' \"$@\" > \"" + tree.path("arguments.txt") + "\"\n"
                                    "env > \"" + tree.path("environment.txt") + "\"\n"
                                    "cat \"" + tree.path("output.txt") + "\"\n"
                                    "exit " + std::to_string(status) + "\n");
    ::chmod(program.c_str(), 0755);
    return SystemSimulators({program, tree.path("Xcode/Developer"), tree.path("Xcode/Developer/usr/bin/simctl")});
}

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

bool hasLine(const std::vector<std::string>& all, const std::string& line) {
    return std::find(all.begin(), all.end(), line) != all.end();
}

bool hasVariable(const std::vector<std::string>& all, const std::string& name) {
    return std::any_of(all.begin(), all.end(), [&](const std::string& line) { return line.starts_with(name + "="); });
}

std::string decodingError(std::string_view json) {
    try {
        decodeSimulatorInventory(json);
    } catch (const DecodingError& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("wrong error type: ") + error.what();
    }
    return "no error";
}

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) { ::setenv(name, value, 1); }
    ~ScopedVariable() { ::unsetenv(m_name); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
};

TEST(SimulatorInventory, DecodesEveryDeviceKeepingEachRuntimesOrder) {
    EXPECT_TRUE(decodeSimulatorInventory(R"({"devices": {}})").empty());

    // Runtime names listed against their sorted order, and devices against theirs.
    const std::vector<SimulatorDevice> devices = decodeSimulatorInventory(R"({
      "devices": {
        "com.apple.CoreSimulator.SimRuntime.iOS-18-0": [
          {"udid": "B2", "name": "iPhone 16", "state": "Booted", "isAvailable": true},
          {"udid": "A1", "name": "iPad", "state": "Shutdown", "isAvailable": false}
        ],
        "com.apple.CoreSimulator.SimRuntime.iOS-17-5": [
          {"udid": "D4", "name": "iPhone 15", "state": "Shutdown", "isAvailable": true,
           "dataPath": "/x", "logPathSize": 12, "availabilityError": {"why": "none"}},
          {"udid": "C3", "name": "iPhone 15", "state": "Creating", "isAvailable": null}
        ]
      },
      "pairs": []
    })");

    ASSERT_EQ(devices.size(), 4u);
    auto position = [&](const std::string& udid) {
        return std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.udid == udid; }) -
               devices.begin();
    };
    EXPECT_EQ(position("A1"), position("B2") + 1);
    EXPECT_EQ(position("C3"), position("D4") + 1);

    const SimulatorDevice& booted = devices[static_cast<std::size_t>(position("B2"))];
    EXPECT_EQ(booted, (SimulatorDevice{"B2", "iPhone 16", "Booted", true}));
    EXPECT_EQ(devices[static_cast<std::size_t>(position("A1"))].isAvailable, std::optional<bool>(false));
    EXPECT_EQ(devices[static_cast<std::size_t>(position("D4"))], (SimulatorDevice{"D4", "iPhone 15", "Shutdown", true}));
    EXPECT_EQ(devices[static_cast<std::size_t>(position("C3"))].isAvailable, std::nullopt);
}

TEST(SimulatorInventory, MissingAvailabilityIsUnknownNotFalse) {
    const auto devices = decodeSimulatorInventory(R"({"devices": {"r": [{"udid": "U", "name": "N", "state": "S"}]}})");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(devices[0].isAvailable.has_value());
}

TEST(SimulatorInventory, AnyShapeProblemFailsTheWholeList) {
    const std::string good = R"({"udid": "U", "name": "N", "state": "S"})";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not json at all", "not JSON"},
        {"", "not JSON"},
        {R"({"devices": {"r": [)", "not JSON"},
        {R"(["devices"])", "not a JSON object"},
        {R"({"runtimes": {}})", "\"devices\""},
        {R"({"devices": []})", "\"devices\" is not an object"},
        {R"({"devices": {"r": {}}})", "runtime \"r\" are not a list"},
        {R"({"devices": {"r": [)" + good + R"(, "device"]}})", "is not an object"},
        {R"({"devices": {"r": [)" + good + R"(, {"udid": "U", "name": "N"}]}})", "has no \"state\""},
        {R"({"devices": {"r": [{"name": "N", "state": "S"}]}})", "has no \"udid\""},
        {R"({"devices": {"r": [{"udid": "U", "name": null, "state": "S"}]}})", "has no \"name\""},
        {R"({"devices": {"r": [{"udid": "U", "name": "N", "state": 3}]}})", "\"state\" that is not text"},
        {R"({"devices": {"r": [{"udid": "U", "name": "N", "state": "S", "isAvailable": "YES"}]}})",
         "\"isAvailable\" that is not true or false"},
    };
    for (const auto& [json, fragment] : cases) {
        const std::string message = decodingError(json);
        EXPECT_TRUE(message.starts_with("The simulator list could not be read: ")) << json << " -> " << message;
        EXPECT_NE(message.find(fragment), std::string::npos) << json << " -> " << message;
    }
}

TEST(SimulatorInventory, EncodesTheFourKeysAndAvailabilityOnlyWhenKnown) {
    const auto known = nlohmann::json::parse(encodeSimulatorDevice({"U-1", "iPhone \"Pro\"", "Shutdown", false}));
    EXPECT_EQ(known, (nlohmann::json{{"udid", "U-1"}, {"name", "iPhone \"Pro\""}, {"state", "Shutdown"},
                                     {"isAvailable", false}}));

    const SimulatorDevice unknown{"U-2", "iPad", "Booted", std::nullopt};
    EXPECT_FALSE(nlohmann::json::parse(encodeSimulatorDevice(unknown)).contains("isAvailable"));
    const std::string list = R"({"devices": {"r": [)" + encodeSimulatorDevice(unknown) + "]}}";
    EXPECT_EQ(decodeSimulatorInventory(list), std::vector<SimulatorDevice>{unknown});
}

TEST(SimulatorInventory, ToolEnvironmentDropsTheDeviceSetAndSuppliesTheDeveloperFolderOnlyWhenUsable) {
    TempTree tree;
    const SystemSimulators::Locations locations{"/nonexistent/xcrun", tree.path("Developer"),
                                                tree.path("Developer/usr/bin/simctl")};
    const SystemSimulators simulators(locations);
    const CommandRunner::Environment caller{{"HOME", "/h"}, {"SIMULATOR_DEVICE_SET_PATH", "/elsewhere"}};

    // No simctl at the default place: nothing to point at.
    EXPECT_EQ(simulators.toolEnvironment(caller), (CommandRunner::Environment{{"HOME", "/h"}}));

    tree.writeFile("Developer/usr/bin/simctl", "");
    EXPECT_EQ(simulators.toolEnvironment(caller),
              (CommandRunner::Environment{{"HOME", "/h"}, {"DEVELOPER_DIR", tree.path("Developer")}}));

    CommandRunner::Environment chosen = caller;
    chosen["DEVELOPER_DIR"] = "/Applications/Xcode-beta.app/Contents/Developer";
    EXPECT_EQ(simulators.toolEnvironment(chosen).at("DEVELOPER_DIR"), "/Applications/Xcode-beta.app/Contents/Developer");
}

TEST(SimulatorInventory, RunsTheToolWithListArgumentsAndThePreparedEnvironment) {
    TempTree tree;
    const SystemSimulators simulators = fakeTool(tree, R"({"devices": {"r": [{"udid": "U", "name": "N", "state": "S"}]}})");
    tree.writeFile("Xcode/Developer/usr/bin/simctl", "");
    const ScopedVariable deviceSet("SIMULATOR_DEVICE_SET_PATH", "/elsewhere");
    const ScopedVariable marker("QUILLET_INVENTORY_MARKER", "kept");

    EXPECT_EQ(simulators.inventory(), (std::vector<SimulatorDevice>{{"U", "N", "S", std::nullopt}}));
    EXPECT_EQ(lines(tree.path("arguments.txt")), (std::vector<std::string>{"simctl", "list", "devices", "--json"}));
    const auto environment = lines(tree.path("environment.txt"));
    EXPECT_FALSE(hasVariable(environment, "SIMULATOR_DEVICE_SET_PATH"));
    EXPECT_TRUE(hasLine(environment, "QUILLET_INVENTORY_MARKER=kept"));
    if (std::getenv("DEVELOPER_DIR") == nullptr) {
        EXPECT_TRUE(hasLine(environment, "DEVELOPER_DIR=" + tree.path("Xcode/Developer")));
    }
}

TEST(SimulatorInventory, ToolFailuresReachTheCallerUnchanged) {
    TempTree tree;
    try {
        fakeTool(tree, "  xcrun: error: unable to find utility \"simctl\"\n", 72).inventory();
        ADD_FAILURE() << "no error";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.errorDescription(), "xcrun: error: unable to find utility \"simctl\"");
    }

    EXPECT_THROW(fakeTool(tree, "Usage: simctl list").inventory(), DecodingError);

    const SystemSimulators absent({tree.path("missing/xcrun"), tree.path("Developer"), tree.path("simctl")});
    EXPECT_THROW(absent.inventory(), LaunchError);
}

}  // namespace
}  // namespace tarnby
