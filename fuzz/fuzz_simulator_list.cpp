// The simulator tool's device list: any bytes give devices or a DecodingError, and every
// decoded device survives being written and read back.
#include <cstdint>
#include <string>

#include "core/records/storage_error.h"
#include "core/simulators/simulator_inventory.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<tarnby::SimulatorDevice> devices;
    try {
        devices = tarnby::decodeSimulatorInventory(quillet::fuzz::text(data, size));
    } catch (const tarnby::DecodingError&) {
        return 0;
    }
    std::string list;
    for (const auto& device : devices) list += (list.empty() ? "" : ",") + tarnby::encodeSimulatorDevice(device);
    const auto again = tarnby::decodeSimulatorInventory("{\"devices\":{\"r\":[" + list + "]}}");
    if (again != devices) quillet::fuzz::violated("a decoded device list does not read back the same");
    return 0;
}
