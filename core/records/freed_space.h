#pragma once

#include <cstdint>
#include <span>

#include "core/records/storage_item.h"

namespace tarnby {

// What removing a set of items together frees on disk.
struct FreedSpace {
    std::int64_t bytes = 0;
    // A measurement kept only its largest shared files, so `bytes` may fall short: say "about".
    bool estimate = false;

    friend bool operator==(const FreedSpace&, const FreedSpace&) = default;
};

// Each item's `freedBytes`, plus every file the items share through hard links whose links all
// lie within them, once. An item inside another of the set, or listed twice, counts once as
// part of it. The one rule for this figure, for the window and the command line alike.
FreedSpace freedTogether(std::span<const StorageItem* const> items);
FreedSpace freedTogether(std::span<const StorageItem> items);

}  // namespace tarnby
