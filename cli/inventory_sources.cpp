#include "cli/inventory_sources.h"

#include "core/platform/file_system.h"
#include "core/records/storage_error.h"

namespace quillet::cli {

std::vector<tarnby::SimulatorDevice> FileSimulators::inventory() const {
    const auto data = tarnby::fs::readFile(m_path);
    if (!data) throw tarnby::DecodingError("The simulator list " + m_path + " could not be read.");
    return tarnby::decodeSimulatorInventory(*data);
}

std::vector<tarnby::SimulatorDevice> DisabledSimulators::inventory() const {
    throw tarnby::StorageError::command("The simulator tool was not asked (--no-simulators).");
}

std::unique_ptr<tarnby::SimulatorManaging> makeInventory(const ScanSetup& setup) {
    switch (setup.inventory) {
        case InventorySource::file: return std::make_unique<FileSimulators>(setup.inventoryFile);
        case InventorySource::none: return std::make_unique<DisabledSimulators>();
        case InventorySource::system: break;
    }
    return std::make_unique<tarnby::SystemSimulators>();
}

}  // namespace quillet::cli
