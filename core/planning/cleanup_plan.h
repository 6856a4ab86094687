#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnby {

enum class PlannedOperation { moveFolderToTrash, eraseSimulator };

std::string_view rawValue(PlannedOperation operation);
std::optional<PlannedOperation> plannedOperationFromRawValue(std::string_view raw);

// One proposed action.
struct PlannedItem {
    std::string path;
    std::string title;
    PlannedOperation operation = PlannedOperation::moveFolderToTrash;
    std::int64_t estimatedBytes = 0;  // the scan-time size, not the re-measurement's

    const std::string& id() const { return path; }
    friend bool operator==(const PlannedItem&, const PlannedItem&) = default;
};

// The outcome of one planning run. Every input item ends in exactly one of the two lists.
struct CleanupPlan {
    std::string id;                  // random UUID made with the plan
    std::vector<PlannedItem> items;  // passed, input order
    std::vector<std::string> kept;   // "title: reason", input order

    // Pretty-printed JSON array of `items` with sorted keys and escaped slashes;
    // "[]" when it cannot be written. Never throws.
    std::string json() const;
};

// Reads one planned item from JSON object text: all four keys required, a known operation,
// a byte count that fits 64 bits. Throws DecodingError otherwise.
PlannedItem decodePlannedItem(std::string_view json);

}  // namespace tarnby
