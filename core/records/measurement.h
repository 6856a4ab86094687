#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records/time_point.h"

namespace tarnby {

// A file with hard links both below a measured folder and elsewhere: removing the folder alone
// does not free it, removing it together with the folders holding the other links does.
struct SharedLink {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t blocks = 0;        // 512-byte blocks allocated
    std::uint32_t links = 0;        // its hard links anywhere (st_nlink)
    std::uint32_t linksInside = 0;  // of them, below the measured folder

    friend bool operator==(const SharedLink&, const SharedLink&) = default;
};

// A direct child of a measured folder and the bytes it holds, counted as the folder's own are.
struct ChildBytes {
    std::string name;
    std::int64_t bytes = 0;

    friend bool operator==(const ChildBytes&, const ChildBytes&) = default;
};

// What one inspection of a folder found.
struct Measurement {
    std::int64_t bytes = 0;             // allocated space of non-directory entries, each identity once
    std::int64_t files = 0;             // distinct non-directory entries
    std::optional<TimePoint> modified;  // newest modification time seen
    std::string fingerprint;            // SHA-256 hex of the sorted entry lines; empty when none were taken
    bool complete = true;               // false when anything could not be seen

    // What removing the folder alone frees: the bytes of entries all of whose hard links lie
    // below it (less where the file system says blocks are shared with clones).
    std::int64_t freedBytes = 0;
    // The files also linked from elsewhere, by device and inode; only the largest are kept
    // when there are very many, and then `sharedLinksCut` says figures built on them are short.
    std::vector<SharedLink> sharedLinks;
    bool sharedLinksCut = false;
    // The ten largest direct children with any bytes, largest first, equal sizes by name.
    std::vector<ChildBytes> largest;

    friend bool operator==(const Measurement&, const Measurement&) = default;
};

}  // namespace tarnby
