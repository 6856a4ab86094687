#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/folder_descriptors.h"

// The folders of one measurement as its threads list them and its digest replays them
// (internal to the scanning library).
namespace tarnby::walk {

inline constexpr std::uint32_t kNoFolder = UINT32_MAX;

// What an entry's line needs of its stat.
struct EntryStat {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t changedSeconds = 0;
    std::uint32_t modifiedNanoseconds = 0;
    std::uint32_t changedNanoseconds = 0;
    std::uint32_t mode = 0;
};

// An entry as its line needs it: the name, and the rest of the line made once at listing.
struct Child {
    std::uint32_t nameOffset = 0;
    std::uint32_t nameLength = 0;
    std::uint32_t tailEnd = 0;         // where its numbers end in the folder's tails
    std::uint32_t folder = kNoFolder;  // index into the parent's subfolders when it is one
};

// pending: waiting to be listed; claimed: being listed; listed: its entries are final and
// read-only; abandoned: never listed (it could not be opened, or the walk stopped first).
enum class FolderState { pending, claimed, listed, abandoned };

// One folder of the walk. Its entries are listed once, by one thread; the digest then replays
// them in the order their lines sort and frees the folder.
struct Folder {
    Folder* parent = nullptr;
    std::uint32_t index = 0;               // its entry among the parent's children
    std::uint32_t top = 0;                 // the root's child it lies in
    std::int64_t ownBytes = 0;             // files with one link directly inside
    FolderDescriptors::Folder descriptor;  // named once the parent's listing is done
    std::atomic<FolderState> state{FolderState::pending};

    std::string names;  // entry names back to back: one buffer instead of one string each
    std::string tails;  // each entry's "|device:inode|mode|size|modified|changed", back to back
    std::vector<Child> children;
    std::vector<std::uint32_t> order;  // child index << 1, low bit set for "its subtree"
    std::vector<std::unique_ptr<Folder>> subfolders;

    std::string_view childName(const Child& child) const {
        return std::string_view(names).substr(child.nameOffset, child.nameLength);
    }
    std::string_view childTail(std::uint32_t i) const {
        const std::uint32_t begin = i == 0 ? 0 : children[i - 1].tailEnd;
        return std::string_view(tails).substr(begin, children[i].tailEnd - begin);
    }
    std::string_view name() const { return parent->childName(parent->children[index]); }
};

}  // namespace tarnby::walk
