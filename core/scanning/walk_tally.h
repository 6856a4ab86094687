#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/records/measurement.h"
#include "core/scanning/walk_tree.h"

namespace tarnby::walk {

using Identity = std::pair<std::uint64_t, std::uint64_t>;  // device, inode

struct IdentityHash {
    std::size_t operator()(const Identity& identity) const {
        return std::hash<std::uint64_t>()(identity.first * 0x9E3779B97F4A7C15ULL ^ identity.second);
    }
};

// A file with more than one hard link, as the walk met it.
struct LinkedFile {
    std::int64_t blocks = 0;
    std::uint32_t links = 0;  // st_nlink: its links anywhere
    std::uint32_t seen = 0;   // its links met below the measured folder
    std::uint32_t top = 0;    // the measured folder's child it was first met in
};

// What one thread of a walk counted. Files with one link are summed at once; files with
// several are kept by identity, since another thread may meet another link to the same file.
struct Tally {
    std::int64_t bytes = 0;  // files with one link
    std::int64_t files = 0;
    std::int64_t freed = 0;  // what removing those frees
    std::optional<TimePoint> modified;
    bool complete = true;
    std::unordered_map<Identity, LinkedFile, IdentityHash> linked;
    std::vector<std::pair<Identity, std::uint32_t>> otherTops;  // a linked file met in another child too

    void noteModified(const EntryStat& entry);
    void addSingle(std::int64_t blocks, std::int64_t freedBytes);
    void addLinked(const Identity& identity, std::int64_t blocks, std::uint32_t links, std::uint32_t top);
    // Takes in another thread's counts, leaving that tally empty.
    void combine(Tally& part);
};

// Fills `result` from the tally of every thread: bytes and files with each linked file once,
// what removing the folder frees, and the files it shares with elsewhere (the `sharedLimit`
// largest). `childBytes`, what each of the root's children holds in files with one link, gains
// the linked files; the ten largest children go to `result.largest`.
void settle(Tally& total, const Folder& root, std::vector<std::int64_t>& childBytes, std::size_t sharedLimit,
            Measurement& result);

}  // namespace tarnby::walk
