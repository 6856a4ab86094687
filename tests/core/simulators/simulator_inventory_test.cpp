#include "core/simulators/simulator_inventory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "core/platform/file_system.h"
#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using Devices = std::vector<SimulatorDevice>;
using Environment = CommandRunner::Environment;

TEST(SimulatorInventory, DecodesEveryDeviceInTheToolsOrderOrFailsTheWholeList) {
    EXPECT_EQ(decodeSimulatorInventory(R"({"devices":{}})"), Devices{});
    // Runtimes and devices listed against their sorted order; extra keys ignored; no "isAvailable" is unknown.
    EXPECT_EQ(decodeSimulatorInventory(R"({"devices": {
                    "iOS-18": [{"udid": "B2", "name": "16", "state": "Booted", "isAvailable": true},
                               {"udid": "A1", "name": "iPad", "state": "Shutdown", "isAvailable": false}],
                    "iOS-17": [{"udid": "D4", "name": "15", "state": "Shutdown", "dataPath": "/x", "size": 1},
                               {"udid": "C3", "name": "15", "state": "Creating", "isAvailable": null}]},
                  "pairs": []})"),
              (Devices{{"B2", "16", "Booted", true},
                       {"A1", "iPad", "Shutdown", false},
                       {"D4", "15", "Shutdown", std::nullopt},
                       {"C3", "15", "Creating", std::nullopt}}));
    const SimulatorDevice quoted{"U-2", "iPhone \"Pro\"", "Booted", false};
    EXPECT_EQ(decodeSimulatorInventory(R"({"devices": {"r": [)" + encodeSimulatorDevice(quoted) + "]}}"),
              Devices{quoted});
    for (const char* bad : {R"({"devices":{"r":[{"udid":"U","name":"N","state":"S"},{"udid":"U","name":"N"}]}})",
                            R"({"devices":{"r":[{"udid":"U","name":"N","state":"S"},"device"]}})",
                            R"({"devices":{"r":[{"udid":"U","name":"N","state":3}]}})",
                            R"({"devices":{"r":[{"udid":"U","name":"N","state":"S","isAvailable":"YES"}]}})",
                            R"({"devices":{"r":{}}})", R"({"devices":[]})", R"({"runtimes":{}})", R"(["devices"])", ""})
        EXPECT_THROW(decodeSimulatorInventory(bad), DecodingError) << bad;
}

TEST(SimulatorInventory, RunsTheToolWithListArgumentsWithoutTheDeviceSetAndWithAUsableDeveloperFolder) {
    testing::TempTree tree;
    // A stand-in for xcrun that records its arguments and environment beside itself and prints one device.
    const std::string program = tree.writeFile("bin/xcrun", R"(#!/bin/sh
printf '%s\n' "$@" > "${0%/*}/arguments"
env > "${0%/*}/environment"
echo '{"devices": {"r": [{"udid": "U", "name": "N", "state": "S"}]}}')");
    ::chmod(program.c_str(), 0755);
    const std::string developer = tree.path("Developer");
    const SystemSimulators simulators({program, developer, developer + "/usr/bin/simctl"});
    const Environment caller{{"HOME", "/h"}, {"SIMULATOR_DEVICE_SET_PATH", "/elsewhere"}};
    EXPECT_EQ(simulators.toolEnvironment(caller), (Environment{{"HOME", "/h"}})) << "no simctl to point at";
    tree.writeFile("Developer/usr/bin/simctl");
    EXPECT_EQ(simulators.toolEnvironment(caller), (Environment{{"HOME", "/h"}, {"DEVELOPER_DIR", developer}}));
    const Environment chosen{{"DEVELOPER_DIR", "/beta"}, {"SIMULATOR_DEVICE_SET_PATH", "/elsewhere"}};
    EXPECT_EQ(simulators.toolEnvironment(chosen), (Environment{{"DEVELOPER_DIR", "/beta"}}));

    ::setenv("SIMULATOR_DEVICE_SET_PATH", "/elsewhere", 1);
    EXPECT_EQ(simulators.inventory(), (Devices{{"U", "N", "S", std::nullopt}}));
    ::unsetenv("SIMULATOR_DEVICE_SET_PATH");
    EXPECT_EQ(fs::readFile(tree.path("bin/arguments")), "simctl\nlist\ndevices\n--json\n");
    const std::string environment = "\n" + fs::readFile(tree.path("bin/environment")).value_or("");
    const auto has = [&](const std::string& line) { return environment.find("\n" + line) != std::string::npos; };
    EXPECT_FALSE(has("SIMULATOR_DEVICE_SET_PATH="));
    EXPECT_TRUE(has("PATH=" + std::string(std::getenv("PATH")) + "\n")) << "the caller's environment is passed on";
    const char* given = std::getenv("DEVELOPER_DIR");
    EXPECT_TRUE(has("DEVELOPER_DIR=" + (given ? std::string(given) : developer) + "\n"));
}

// Counts the calls; stands for a source that is always there, such as a saved device list.
struct CountingSimulators final : SimulatorManaging {
    std::vector<SimulatorDevice> inventory() const override {
        ++calls;
        return {{"A1", "iPhone", "Shutdown", true}};
    }
    mutable int calls = 0;
};

TEST(SimulatorInventory, WithoutTheToolOrADeviceFolderLinuxAsksNothingAndAStopReachesTheTool) {
    testing::TempTree tree;
    const std::string devices = "home/Library/Developer/CoreSimulator/Devices";
    const SystemSimulators::Locations absent{"/nonexistent/xcrun", tree.path("Dev"), tree.path("Dev/simctl")};
    const auto noteOf = [&](const SimulatorManaging& simulators, const ScanCancellation& cancellation = {}) {
        std::optional<std::string> note;
        const auto listed = inventoryForScan(simulators, tree.path(devices), note, cancellation);
        return listed ? std::optional<std::string>("listed " + std::to_string(listed->size())) : note;
    };
    const std::string failed =
        "Simulator inventory unavailable. Simulator cleanup is disabled. Could not start "
        "/nonexistent/xcrun: No such file or directory";

    EXPECT_EQ(noteOf(SystemSimulators(absent, Platform::linuxDesktop)), std::nullopt);
    tree.writeFile(devices + "/device_set.plist");
    EXPECT_EQ(noteOf(SystemSimulators(absent, Platform::linuxDesktop)), std::nullopt) << "not a device folder";
    // On macOS a missing tool is a fault, not an absence.
    EXPECT_EQ(noteOf(SystemSimulators(absent, Platform::macOS)), failed);
    // A copied macOS home holds devices: the inventory is asked and its failure told.
    tree.makeDir(devices + "/0F5C9B7E-1D2A-4C3B-9E8F-7A6B5C4D3E2F");
    EXPECT_EQ(noteOf(SystemSimulators(absent, Platform::linuxDesktop)), failed);
    // A source that is not the tool (a saved list) is always asked.
    const CountingSimulators saved;
    EXPECT_EQ(noteOf(saved), "listed 1");
    EXPECT_EQ(saved.calls, 1);

    // The tool runs in a process group of its own, out of a terminal's Ctrl-C: the scan's stop
    // has to reach it, also when it ignores termination requests, rather than its time limit.
    const std::string stubborn =
        tree.writeFile("bin/xcrun", "#!/bin/sh\ntrap '' TERM INT\nwhile :; do sleep 0.05; done\n");
    ::chmod(stubborn.c_str(), 0755);
    ScanCancellation stopped;
    stopped.cancel();
    EXPECT_EQ(noteOf(SystemSimulators({stubborn, tree.path("Dev"), tree.path("Dev/simctl")}), stopped),
              "Simulator inventory unavailable. Simulator cleanup is disabled. The Xcode command was stopped.");
}

}  // namespace
}  // namespace tarnby
