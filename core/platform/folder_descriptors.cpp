#include "core/platform/folder_descriptors.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tarnby {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// Takes `fd`; gives it back when it is the expected folder, else closes it and sets errno.
int checked(int fd, const std::optional<FolderIdentity>& expected, FolderIdentity& identity) {
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    if (expected && *expected != identity) {
        ::close(fd);
        errno = ENOENT;  // the folder that was listed is gone; another stands in its place
        return -1;
    }
    return fd;
}

}  // namespace

int openFolder(int parentFd, const char* name, bool followLink, std::optional<FolderIdentity> expected,
               FolderIdentity* identity) {
    FolderIdentity opened;
    const int fd = checked(::openat(parentFd, name, kFolderFlags | (followLink ? 0 : O_NOFOLLOW)), expected, opened);
    if (fd >= 0 && identity != nullptr) *identity = opened;
    return fd;
}

// The lock for one call; descriptors given up meanwhile are closed once it is let go, so no
// other thread waits on a close().
class FolderDescriptors::Locked {
public:
    explicit Locked(FolderDescriptors& owner) : m_owner(owner), lock(owner.m_lock) {}
    ~Locked() {
        if (m_owner.m_closing.empty()) return;
        thread_local std::vector<int> closing;
        closing.swap(m_owner.m_closing);
        if (lock.owns_lock()) lock.unlock();
        for (const int fd : closing) ::close(fd);
        closing.clear();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    FolderDescriptors& m_owner;

public:
    std::unique_lock<std::mutex> lock;
};

void FolderDescriptors::closeDiscarded() {
    for (const int fd : m_closing) ::close(fd);
    m_closing.clear();
}

void FolderDescriptors::discard(int fd) {
    try {
        m_closing.push_back(fd);
    } catch (...) {
        ::close(fd);  // no room to put it off: closed now, lock or not
    }
}

FolderDescriptors::Folder::~Folder() {
    if (m_owner == nullptr) return;
    Locked locked(*m_owner);
    if (parent != nullptr && parent->m_lastChild == this) parent->m_lastChild = nullptr;
    m_owner->close(*this);
}

FolderDescriptors::FolderDescriptors(FolderBudget budget) : m_budget(budget) {
    // Several walks run at once beside the process's other files: each keeps a small share of
    // what the process may open.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const auto share = static_cast<std::size_t>(limit.rlim_cur / 16);
        m_budget.open = std::min(m_budget.open, share);
        m_budget.ahead = std::min(m_budget.ahead, share / 2);
    }
    m_budget.open = std::max<std::size_t>(m_budget.open, 1);
}

std::size_t FolderDescriptors::openCount() const {
    std::lock_guard guard(m_lock);
    return m_open;
}

bool FolderDescriptors::openRoot(Folder& root, const std::string& path, bool followLink,
                                 std::optional<FolderIdentity> expected) {
    Locked locked(*this);
    close(root);
    FolderIdentity opened;
    int fd = openFolder(AT_FDCWD, path.c_str(), followLink, expected, &opened);
    while (fd < 0 && (errno == EMFILE || errno == ENFILE) && m_oldest != nullptr) {
        evict(*m_oldest);
        closeDiscarded();
        fd = openFolder(AT_FDCWD, path.c_str(), followLink, expected, &opened);
    }
    if (fd < 0) return false;
    root.parent = nullptr;
    root.identity = opened;
    root.m_owner = this;
    root.m_fd = fd;
    root.m_uses = 1;  // never idle, so never closed to make room
    root.m_lost = false;
    ++m_open;
    return true;
}

int FolderDescriptors::openBelow(int baseFd, std::string_view name, const std::optional<FolderIdentity>& expected,
                                 std::unique_lock<std::mutex>& lock, FolderIdentity* opened) {
    char text[NAME_MAX + 1];
    if (name.size() > NAME_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    for (;;) {
        lock.unlock();
        const int fd = openFolder(baseFd, text, false, expected, opened);
        const int error = errno;
        lock.lock();
        if (fd >= 0) return fd;
        // Out of descriptors: give up one kept for later, and keep fewer from now on.
        if ((error != EMFILE && error != ENFILE) || m_oldest == nullptr) {
            errno = error;
            return -1;
        }
        evict(*m_oldest);
        closeDiscarded();
        m_budget.open = std::max<std::size_t>(m_idle, 1);
    }
}

FolderDescriptors::Folder* FolderDescriptors::openDescendant(const Folder& target, std::size_t within) {
    // Each folder is looked at once per search: a walk up from a candidate stops where an
    // earlier one passed, and takes over what that one found.
    ++m_search;
    Folder* best = nullptr;
    for (Folder* candidate = m_newest; candidate != nullptr; candidate = candidate->m_older) {
        if (candidate->m_depth <= target.m_depth || candidate->m_depth - target.m_depth >= within) continue;
        Folder* reached = candidate;
        while (reached->m_depth > target.m_depth && reached->m_search != m_search) reached = reached->parent;
        const bool leads = reached->m_search == m_search ? reached->m_leads : reached == &target;
        for (Folder* step = candidate; step != reached; step = step->parent) {
            step->m_search = m_search;
            step->m_leads = leads;
        }
        if (leads) {
            best = candidate;
            within = candidate->m_depth - target.m_depth;
        }
    }
    return best;
}

bool FolderDescriptors::reopen(Folder& target, Failure* failure, std::unique_lock<std::mutex>& lock) {
    // A walk climbing back up asks for the parents of folders it opened a moment ago: from a
    // folder still open below, the target is as many steps up through ".." as it lies deeper.
    Folder* below = target.m_lastChild != nullptr && target.m_lastChild->m_fd >= 0
                        ? target.m_lastChild
                        : openDescendant(target, target.m_depth + 1);
    const std::size_t up = below != nullptr ? below->m_depth - target.m_depth : SIZE_MAX;
    // From above, as many steps down by name as the nearest open ancestor lies higher.
    std::vector<Folder*> down;
    Folder* above = &target;
    const auto lookUp = [&](std::size_t within) {
        down.clear();
        for (above = &target; above != nullptr && above->m_fd < 0 && down.size() < within; above = above->parent) {
            down.push_back(above);
        }
        const auto lost = [](const Folder* f) { return f->m_lost; };
        return std::none_of(down.begin(), down.end(), lost);
    };
    if (!lookUp(up)) {
        errno = ENOENT;
        return false;
    }
    if (below != nullptr && (above == nullptr || above->m_fd < 0)) {
        if (climb(*below, target, lock)) return true;
        // The folder below moved away; only the way down by name can tell whether the target
        // is gone too.
        if (!lookUp(SIZE_MAX)) {
            errno = ENOENT;
            return false;
        }
    }
    if (above == nullptr) {
        errno = ENOENT;
        return false;
    }
    // Only the target is kept: a long way down must not push out what other threads hold.
    use(*above);
    int fd = above->m_fd;
    for (auto level = down.rbegin(); level != down.rend(); ++level) {
        const int next = openBelow(fd, (*level)->name, (*level)->identity, lock);
        const int error = errno;
        if (fd != above->m_fd) ::close(fd);
        if (next < 0) {
            (*level)->m_lost = true;
            if (failure != nullptr) *failure = {*level, error};
            unuse(*above);
            errno = error;
            return false;
        }
        fd = next;
    }
    unuse(*above);
    keep(target, fd);
    return target.m_fd >= 0;
}

bool FolderDescriptors::climb(Folder& from, Folder& target, std::unique_lock<std::mutex>& lock) {
    // `from` and the folders up to the target may be finished with and gone by the time the
    // steps are taken, so the steps take a copy of its descriptor and the identities to expect.
    std::vector<std::optional<FolderIdentity>> steps;
    for (const Folder* step = from.parent; step != &target; step = step->parent) steps.push_back(step->identity);
    steps.push_back(target.identity);
    int fd = ::fcntl(from.m_fd, F_DUPFD_CLOEXEC, 0);
    for (const auto& identity : steps) {
        if (fd < 0) return false;
        const int next = openBelow(fd, "..", identity, lock);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) return false;
    keep(target, fd);
    return target.m_fd >= 0;
}

int FolderDescriptors::acquire(Folder& folder, Failure* failure) {
    Locked locked(*this);
    std::unique_lock<std::mutex>& lock = locked.lock;
    if (folder.m_fd >= 0) {
        use(folder);
        return folder.m_fd;
    }
    Folder* parent = folder.parent;
    if (folder.m_lost || parent == nullptr) {
        errno = ENOENT;
        return -1;
    }
    if (parent->m_fd < 0 && !reopen(*parent, failure, lock)) {
        folder.m_lost = true;
        return -1;
    }
    use(*parent);
    FolderIdentity opened;
    const int fd = openBelow(parent->m_fd, folder.name, folder.identity, lock, &opened);
    const int error = errno;
    unuse(*parent);
    if (fd >= 0) {
        if (!folder.identity) folder.identity = opened;
        keep(folder, fd);
    } else if (folder.m_fd < 0) {
        folder.m_lost = true;
        if (failure != nullptr) *failure = {&folder, error};
        errno = error;
        return -1;
    }
    use(folder);
    return folder.m_fd;
}

void FolderDescriptors::release(Folder& folder) {
    Locked locked(*this);
    if (folder.m_uses > 0) unuse(folder);
}

bool FolderDescriptors::reserveAhead() {
    std::size_t reserved = m_ahead.load(std::memory_order_relaxed);
    while (reserved < m_budget.ahead) {
        if (m_ahead.compare_exchange_weak(reserved, reserved + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

void FolderDescriptors::adopt(std::span<const std::pair<Folder*, int>> opened) {
    if (opened.empty()) return;
    Locked locked(*this);
    for (const auto& [folder, fd] : opened) {
        if (folder->m_fd >= 0) {
            discard(fd);
            unreserveAhead();
            continue;
        }
        folder->m_ahead = true;  // its room is given back when it is used or closed
        keep(*folder, fd);
    }
}

void FolderDescriptors::leave(Folder& folder) {
    Locked locked(*this);
    std::unique_lock<std::mutex>& lock = locked.lock;
    Folder* parent = folder.parent;
    if (folder.m_fd >= 0 && parent != nullptr && parent->m_fd < 0 && !parent->m_lost && parent->identity) {
        use(folder);
        const int fd = openBelow(folder.m_fd, "..", parent->identity, lock);
        // A failure says nothing final: the folder may have moved, its parent not.
        if (fd >= 0) keep(*parent, fd);
    }
    close(folder);
    if (parent != nullptr && parent->m_lastChild == &folder) parent->m_lastChild = nullptr;
    folder.m_owner = nullptr;
}

void FolderDescriptors::keep(Folder& folder, int fd) {
    if (folder.m_fd >= 0) {  // another thread opened it meanwhile
        discard(fd);
        return;
    }
    folder.m_owner = this;
    folder.m_fd = fd;
    if (folder.parent != nullptr) {
        folder.parent->m_lastChild = &folder;
        folder.m_depth = folder.parent->m_depth + 1;
    }
    ++m_open;
    linkIdle(folder);
    trim();
}

void FolderDescriptors::use(Folder& folder) {
    if (folder.m_uses++ == 0) unlinkIdle(folder);
}

void FolderDescriptors::unuse(Folder& folder) {
    if (--folder.m_uses > 0) return;
    linkIdle(folder);
    trim();
}

void FolderDescriptors::linkIdle(Folder& folder) {
    folder.m_older = m_newest;
    folder.m_newer = nullptr;
    (m_newest != nullptr ? m_newest->m_newer : m_oldest) = &folder;
    m_newest = &folder;
    ++m_idle;
}

void FolderDescriptors::unlinkIdle(Folder& folder) {
    (folder.m_older != nullptr ? folder.m_older->m_newer : m_oldest) = folder.m_newer;
    (folder.m_newer != nullptr ? folder.m_newer->m_older : m_newest) = folder.m_older;
    folder.m_older = folder.m_newer = nullptr;
    --m_idle;
    if (folder.m_ahead) {
        folder.m_ahead = false;
        m_ahead.fetch_sub(1, std::memory_order_relaxed);
    }
}

void FolderDescriptors::trim() {
    while (m_idle > m_budget.open) evict(*m_oldest);
}

void FolderDescriptors::evict(Folder& folder) {
    unlinkIdle(folder);
    discard(folder.m_fd);
    folder.m_fd = -1;
    --m_open;
}

void FolderDescriptors::close(Folder& folder) {
    if (folder.m_fd < 0) return;
    if (folder.m_uses == 0) {
        evict(folder);
        return;
    }
    discard(folder.m_fd);
    folder.m_fd = -1;
    folder.m_uses = 0;
    --m_open;
}

}  // namespace tarnby
