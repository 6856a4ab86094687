#include "core/planning/cleanup_plan.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "core/platform/json_text.h"
#include "core/records/storage_error.h"

namespace tarnby {

namespace {

constexpr std::string_view kMoveFolderToTrash = "moveFolderToTrash";
constexpr std::string_view kEraseSimulator = "eraseSimulator";

[[noreturn]] void fail(const std::string& reason) { throw DecodingError("The plan item could not be read: " + reason); }

const nlohmann::json& member(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) fail(std::string("the key \"") + key + "\" is missing.");
    return *found;
}

std::string stringMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = member(object, key);
    if (!value.is_string()) fail(std::string("\"") + key + "\" is not a string.");
    return value.get<std::string>();
}

std::int64_t bytesMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = member(object, key);
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    // The reader keeps non-negative integers unsigned, so the 64-bit bound is checked here.
    if (value.is_number_unsigned()) {
        const auto count = value.get<std::uint64_t>();
        if (count <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(count);
        }
        fail(std::string("\"") + key + "\" does not fit a signed 64-bit integer.");
    }
    fail(std::string("\"") + key + "\" is not an integer.");
}

}  // namespace

std::string_view rawValue(PlannedOperation operation) {
    switch (operation) {
        case PlannedOperation::moveFolderToTrash: return kMoveFolderToTrash;
        case PlannedOperation::eraseSimulator: return kEraseSimulator;
    }
    return {};
}

std::optional<PlannedOperation> plannedOperationFromRawValue(std::string_view raw) {
    if (raw == kMoveFolderToTrash) return PlannedOperation::moveFolderToTrash;
    if (raw == kEraseSimulator) return PlannedOperation::eraseSimulator;
    return std::nullopt;
}

std::string CleanupPlan::json() const {
    try {
        json::Value array = json::Value::array();
        for (const PlannedItem& item : items) {
            array.append(json::Value::object()
                             .set("estimatedBytes", item.estimatedBytes)
                             .set("operation", rawValue(item.operation))
                             .set("path", item.path)
                             .set("title", item.title));
        }
        if (auto text = json::write(array, json::Layout::prettySortedKeys)) return std::move(*text);
    } catch (...) {
        // Out of memory: the text degrades like any other writing failure.
    }
    return "[]";
}

PlannedItem decodePlannedItem(std::string_view text) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        fail("the text is not valid JSON (at byte " + std::to_string(error.byte) + ").");
    } catch (const nlohmann::json::exception&) {
        // The parser also rejects numbers past the range of a double ("1e400") this way.
        fail("the text holds a number too large to read.");
    }
    if (!document.is_object()) fail("the text is not a JSON object.");

    try {
        PlannedItem item;
        item.path = stringMember(document, "path");
        item.title = stringMember(document, "title");
        const std::string operation = stringMember(document, "operation");
        const auto known = plannedOperationFromRawValue(operation);
        if (!known) fail("\"" + operation + "\" is not a known operation.");
        item.operation = *known;
        item.estimatedBytes = bytesMember(document, "estimatedBytes");
        return item;
    } catch (const nlohmann::json::exception& error) {
        // The checks above leave nothing for the library to reject; this keeps its
        // exception type from ever reaching a caller.
        fail(error.what());
    }
}

}  // namespace tarnby
