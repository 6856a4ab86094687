#pragma once

#include <optional>
#include <string>

#include "core/records/measurement.h"
#include "core/records/storage_kind.h"

namespace tarnby {

// One finding: a reclaimable folder or one simulator device.
struct StorageItem {
    std::string url;  // absolute, standardized path of the folder (no trailing separator)
    StorageKind kind = StorageKind::dependencies;
    std::string title;
    std::string explanation;
    std::string rebuild;
    Measurement measurement;
    std::optional<std::string> deviceID;    // simulator udid; none for folders
    std::optional<TimePoint> lastBoot;      // simulators only, when known
    std::optional<std::string> protection;  // why the item must never be cleaned

    // The item's identity in lists, selection, kept set and saved preferences.
    const std::string& id() const { return url; }
    // Only unprotected, fully inspected items may enter a cleanup plan.
    bool selectable() const { return !protection.has_value() && measurement.complete; }
};

}  // namespace tarnby
