#pragma once

#include <memory>
#include <string>

#include "cli/arguments.h"
#include "core/simulators/simulator_inventory.h"

namespace quillet::cli {

// A device list saved from `simctl list devices --json`, read afresh on every call.
class FileSimulators final : public tarnby::SimulatorManaging {
public:
    explicit FileSimulators(std::string path) : m_path(std::move(path)) {}
    std::vector<tarnby::SimulatorDevice> inventory() const override;

private:
    std::string m_path;
};

// Stands for a tool that was deliberately not asked: every call fails.
class DisabledSimulators final : public tarnby::SimulatorManaging {
public:
    std::vector<tarnby::SimulatorDevice> inventory() const override;
};

std::unique_ptr<tarnby::SimulatorManaging> makeInventory(const ScanSetup& setup);

}  // namespace quillet::cli
