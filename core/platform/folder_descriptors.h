#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnby {

// Device and inode of a folder: a folder reopened by name must be the one first seen there.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// Opens folder `name` of the open folder `parentFd` (AT_FDCWD for a path), never through a
// final link unless `followLink`, and refuses one whose identity is not `expected` (errno
// ENOENT). The descriptor, or -1 with errno set. `identity` receives what was opened.
int openFolder(int parentFd, const char* name, bool followLink, std::optional<FolderIdentity> expected,
               FolderIdentity* identity = nullptr);

// How many folder descriptors a walk keeps open, at most a sixteenth of the process's limit.
struct FolderBudget {
    std::size_t open = 96;   // kept open besides those in use (at least 1)
    std::size_t ahead = 32;  // of them, opened for a folder before it was needed
};

// The open descriptors of one walk's folders. The walk owns its folders as nodes linked to
// their parents and asks here for a descriptor whenever it needs one. At most `Budget::open`
// descriptors stay open besides those in use; the least recently used are closed first. A
// closed folder is reopened when next needed: by name from its nearest open ancestor (never
// through a link), or through ".." from a child still open, each time checked against
// the identity it was first seen with, so a folder swapped for another is never entered and a
// tree deeper than PATH_MAX costs time in proportion to its size, on the way down and back up.
// Thread-safe: threads may ask for different folders at once; a folder's links and name must
// not change while it is in use. Every folder must go before the manager does.
class FolderDescriptors {
public:
    // One folder of the walk. Set `parent`, `name` and (when known) `identity` before its first
    // use; they stay as set while it lives, and its parent outlives it. Closes its descriptor
    // when it goes.
    class Folder {
    public:
        Folder() = default;
        ~Folder();
        Folder(const Folder&) = delete;
        Folder& operator=(const Folder&) = delete;

        Folder* parent = nullptr;                // null for a root
        std::string_view name;                   // below the parent; the caller keeps the text
        std::optional<FolderIdentity> identity;  // none: taken from the first open

    private:
        friend class FolderDescriptors;
        FolderDescriptors* m_owner = nullptr;
        int m_fd = -1;
        std::uint32_t m_uses = 0;
        bool m_ahead = false;  // opened before it was needed, not yet used
        bool m_lost = false;   // could not be reopened as itself; nor can anything below it
        bool m_leads = false;  // during a search: lies below its target
        std::size_t m_depth = 0;
        std::uint64_t m_search = 0;     // the last search that looked at it
        Folder* m_lastChild = nullptr;  // the child opened last, while it lives
        Folder* m_older = nullptr;
        Folder* m_newer = nullptr;
    };

    // Why acquire() gave no descriptor, the first time it failed for that folder.
    struct Failure {
        const Folder* folder = nullptr;  // the folder that could not be opened (the one asked for or an ancestor)
        int error = 0;                   // errno value; ENOENT when another folder stands there now
    };

    explicit FolderDescriptors(FolderBudget budget = {});
    ~FolderDescriptors() = default;
    FolderDescriptors(const FolderDescriptors&) = delete;
    FolderDescriptors& operator=(const FolderDescriptors&) = delete;

    // Opens the root at `path`, following a link at `path` itself only when `followLink`; when
    // `expected` is given, a folder of another identity is refused (errno ENOENT). The root stays
    // open until it goes. False with errno set on failure.
    bool openRoot(Folder& root, const std::string& path, bool followLink, std::optional<FolderIdentity> expected = {});

    // The folder's descriptor, opened or reopened as needed and kept open until release(). -1
    // with errno set when that fails; `failure` is filled the first time it fails for a folder
    // (after that the folder and everything below it stay lost and -1 comes back at once).
    int acquire(Folder& folder, Failure* failure = nullptr);
    void release(Folder& folder);

    // Room for one descriptor opened before it is needed (a subfolder opened while its parent is
    // listed): true when the budget for those has some, which is then held for adopt().
    bool reserveAhead();
    // Gives back room reserved for a descriptor that could not be opened after all.
    void unreserveAhead() { m_ahead.fetch_sub(1, std::memory_order_relaxed); }
    // Takes descriptors opened in reserved room, each for its folder's first acquire(); one
    // call for a whole listing, since every call takes the lock the walk's threads share.
    void adopt(std::span<const std::pair<Folder*, int>> opened);

    // The walk is done with `folder` for good: its descriptor is closed, and when its parent was
    // closed it is reopened through "..", since a walk leaving a folder goes on in its parent.
    // Nothing is asked of the manager when the folder then goes.
    void leave(Folder& folder);

    std::size_t openCount() const;

private:
    class Locked;
    void discard(int fd);        // closed once the lock is let go
    void closeDiscarded();       // now, lock held: out of descriptors
    void close(Folder& folder);  // with m_lock held
    void use(Folder& folder);
    void unuse(Folder& folder);
    void keep(Folder& folder, int fd);
    void linkIdle(Folder& folder);
    void unlinkIdle(Folder& folder);
    void trim();
    void evict(Folder& folder);
    // These let go of the lock during system calls; `baseFd` must stay open meanwhile.
    int openBelow(int baseFd, std::string_view name, const std::optional<FolderIdentity>& expected,
                  std::unique_lock<std::mutex>& lock, FolderIdentity* opened = nullptr);
    bool reopen(Folder& target, Failure* failure, std::unique_lock<std::mutex>& lock);
    bool climb(Folder& from, Folder& target, std::unique_lock<std::mutex>& lock);
    Folder* openDescendant(const Folder& target, std::size_t within);

    FolderBudget m_budget;
    mutable std::mutex m_lock;
    // Under m_lock: open folders not in use, least recently used first.
    Folder* m_oldest = nullptr;
    Folder* m_newest = nullptr;
    std::size_t m_idle = 0;  // folders on that list
    std::size_t m_open = 0;  // descriptors open, in use or not
    std::uint64_t m_search = 0;
    std::vector<int> m_closing;  // given up, to close once the lock is let go
    std::atomic<std::size_t> m_ahead{0};
};

}  // namespace tarnby
