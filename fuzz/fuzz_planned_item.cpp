// A planned item from JSON: an item or a DecodingError, and a decoded item written into a plan
// reads back as itself.
#include <cstdint>
#include <nlohmann/json.hpp>

#include "core/planning/cleanup_plan.h"
#include "core/records/storage_error.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarnby::PlannedItem item;
    try {
        item = tarnby::decodePlannedItem(quillet::fuzz::text(data, size));
    } catch (const tarnby::DecodingError&) {
        return 0;
    }
    const tarnby::CleanupPlan plan{"id", {item}, {}};
    const auto array = nlohmann::json::parse(plan.json());
    if (array.size() != 1) quillet::fuzz::violated("a decoded item is missing from the plan's JSON");
    if (tarnby::decodePlannedItem(array[0].dump()) != item) {
        quillet::fuzz::violated("a planned item does not read back the same");
    }
    return 0;
}
