#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/sha256.h"
#include "core/scanning/walk_tree.h"

namespace tarnby::walk {

EntryStat entryStat(const struct stat& info);

// The part of an entry's line after its path: "|device:inode|mode|size|modified|changed".
void appendNumbers(std::string& out, const EntryStat& entry);

// Orders a listed folder's entries for the digest: each entry's line, and each subfolder's run
// of lines where name + "/" sorts.
void sortForDigest(Folder& folder);

// The fingerprint is the SHA-256 of all entry lines sorted as byte strings and joined by "\n".
// An entry's line is its relative path, then "|" and its numbers. Names hold no "/", so
// everything below a subfolder (all starting name + "/") forms one contiguous run, and no
// other line of that folder starts with name + "/": the run sorts exactly where name + "/"
// sorts against the folder's own lines, compared whole (a name may hold "|" and digits, so
// comparing names alone is not enough: "a|0" against "a"'s "a|2049:…"). Replaying each
// folder's lines and runs in that order gives the sorted stream, so one SHA-256 is fed in
// order while any number of threads list folders in any order: a folder listed ahead of the
// digest waits, fully formed, until the digest reaches it. Only the digest's path through the
// tree and the folders listed ahead of it are held at a time.
// One thread at a time may advance it.
class OrderedDigest {
public:
    // Called with each folder the digest is through with (the root last), before it is freed.
    using Finished = std::function<void(Folder&)>;

    OrderedDigest(Folder& root, const EntryStat& rootStat);

    // Hashes lines as far as listed folders allow, freeing each folder below the root once its
    // lines and runs are through. The folder it waits for, or nullptr once the root's own line is
    // hashed and the digest is done.
    Folder* advance(const Finished& finished);

    // The 64 hexadecimal digits, once advance() has given nullptr.
    std::string& result() { return m_digest; }

private:
    void emit(std::string_view name, std::string_view tail);

    struct Level {
        Folder* folder;
        std::size_t cursor;
    };

    Folder& m_root;
    EntryStat m_rootStat;
    std::vector<Level> m_levels;
    std::string m_relative;  // relative path of the folder on top of m_levels
    std::string m_piece;
    std::size_t m_emitted = 0;
    Sha256 m_hash;
    std::string m_digest;
};

}  // namespace tarnby::walk
