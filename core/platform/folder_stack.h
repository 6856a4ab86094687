#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnby {

// The chain of folders a depth-first walk is inside, from its root down, holding a bounded
// number of open descriptors. The root stays open; beyond the bound the shallowest other
// folders are closed and later reopened by name from the nearest open ancestor, each checked
// against the device and inode it had when first opened, so trees deeper than PATH_MAX are
// walked and a folder swapped for another in the meantime is never mistaken for it.
// One per walk; not thread-safe.
class FolderStack {
public:
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        friend bool operator==(const Identity&, const Identity&) = default;
    };

    // Why `top()` gave no descriptor, the first time it failed for that folder.
    struct Failure {
        std::size_t depth = 0;  // the folder that could not be reopened (0 is the root)
        int error = 0;          // errno value; ENOENT when another folder stands there now
    };

    // At least two: the root and the folder being walked.
    explicit FolderStack(std::size_t openLimit);
    ~FolderStack();
    FolderStack(FolderStack&& other) noexcept;
    FolderStack& operator=(FolderStack&& other) noexcept;
    FolderStack(const FolderStack&) = delete;
    FolderStack& operator=(const FolderStack&) = delete;

    // Opens the root, following a link at `path` itself only when `followLink`; when `expected`
    // is given, a folder of another identity is refused (errno ENOENT). Replaces any previous
    // chain. False with errno set on failure.
    bool openRoot(const std::string& path, bool followLink, std::optional<Identity> expected = {});

    // Opens `name` (never through a link) inside the innermost folder and makes it the innermost.
    // The descriptor, or -1 with errno set; nothing is pushed then. When the innermost folder
    // cannot be reopened, errno is that failure's.
    int push(std::string_view name, std::optional<Identity> expected = {});

    // Leaves the innermost folder.
    void pop();

    // Descriptor of the innermost folder, reopening it and its closed ancestors as needed.
    // -1 when that fails; `failure` is filled the first time (after that the folder and
    // everything below it stay lost and -1 comes back at once).
    int top(Failure* failure = nullptr);

    std::size_t depth() const { return m_levels.size(); }  // folders in the chain, root included
    std::size_t openCount() const { return m_openCount; }

private:
    struct Level {
        std::string name;  // below the previous level; the root's path for the root
        Identity identity;
        int fd = -1;
        bool lost = false;
    };

    void closeAll();
    void closeShallowestOverLimit();

    std::size_t m_openLimit;
    std::vector<Level> m_levels;
    // Kept as counts so a walk thousands of levels deep does not rescan the chain per step.
    std::size_t m_openCount = 0;
    std::size_t m_shallowestMaybeOpen = 1;  // no non-root level above this one is open
};

// Opens folder `name` of the open folder `parentFd` (AT_FDCWD for a path), never through a
// final link unless `followLink`, and refuses one whose identity is not `expected` (errno
// ENOENT). The descriptor, or -1 with errno set. `identity` receives what was opened.
int openFolder(int parentFd, const char* name, bool followLink, std::optional<FolderStack::Identity> expected,
               FolderStack::Identity* identity = nullptr);

}  // namespace tarnby
