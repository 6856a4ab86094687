// The simulator tool's device list: any bytes give devices or a DecodingError, and every
// decoded device survives being written and read back.
#include "core/simulators/simulator_inventory.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    const auto devices = decoded(tarnby::decodeSimulatorInventory, input);
    if (!devices) return;
    std::string list;
    for (const auto& device : *devices) list += (list.empty() ? "" : ",") + tarnby::encodeSimulatorDevice(device);
    if (tarnby::decodeSimulatorInventory("{\"devices\":{\"r\":[" + list + "]}}") != *devices) {
        violated("a decoded device list does not read back the same");
    }
}
