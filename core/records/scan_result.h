#pragma once

#include <string>
#include <vector>

#include "core/records/storage_item.h"

namespace tarnby {

struct ScanResult {
    std::vector<StorageItem> items;  // largest first, stable
    std::vector<std::string> notes;  // in the order they arose
    bool cancelled = false;
};

}  // namespace tarnby
