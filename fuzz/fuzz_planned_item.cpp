// A planned item from JSON: an item or a DecodingError, and a decoded item written into a plan
// reads back as itself.
#include <nlohmann/json.hpp>

#include "core/planning/cleanup_plan.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    const auto item = decoded(tarnby::decodePlannedItem, input);
    if (!item) return;
    const auto array = nlohmann::json::parse(tarnby::CleanupPlan{"id", {*item}, {}}.json());
    if (array.size() != 1) violated("a decoded item is missing from the plan's JSON");
    if (tarnby::decodePlannedItem(array[0].dump()) != *item) violated("a planned item does not read back the same");
}
