#include "core/platform/folder_stack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tarnby {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// Takes `fd`; gives it back when it is the expected folder, else closes it and sets errno.
int checked(int fd, std::optional<FolderStack::Identity> expected, FolderStack::Identity& identity) {
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

int openFolder(int parentFd, const char* name, bool followLink, std::optional<FolderStack::Identity> expected,
               FolderStack::Identity* identity) {
    FolderStack::Identity opened;
    const int fd = checked(::openat(parentFd, name, kFolderFlags | (followLink ? 0 : O_NOFOLLOW)), expected, opened);
    if (fd >= 0 && identity != nullptr) *identity = opened;
    return fd;
}

FolderStack::FolderStack(std::size_t openLimit) : m_openLimit(std::max<std::size_t>(openLimit, 2)) {}

FolderStack::~FolderStack() { closeAll(); }

FolderStack::FolderStack(FolderStack&& other) noexcept
    : m_openLimit(other.m_openLimit),
      m_levels(std::exchange(other.m_levels, {})),
      m_openCount(std::exchange(other.m_openCount, 0)),
      m_shallowestMaybeOpen(std::exchange(other.m_shallowestMaybeOpen, 1)) {}

FolderStack& FolderStack::operator=(FolderStack&& other) noexcept {
    if (this != &other) {
        closeAll();
        m_openLimit = other.m_openLimit;
        m_levels = std::exchange(other.m_levels, {});
        m_openCount = std::exchange(other.m_openCount, 0);
        m_shallowestMaybeOpen = std::exchange(other.m_shallowestMaybeOpen, 1);
    }
    return *this;
}

void FolderStack::closeAll() {
    for (Level& level : m_levels) {
        if (level.fd >= 0) ::close(level.fd);
    }
    m_levels.clear();
    m_openCount = 0;
    m_shallowestMaybeOpen = 1;
}

bool FolderStack::openRoot(const std::string& path, bool followLink, std::optional<Identity> expected) {
    closeAll();
    Level root;
    root.name = path;
    root.fd = openFolder(AT_FDCWD, path.c_str(), followLink, expected, &root.identity);
    if (root.fd < 0) return false;
    m_levels.push_back(std::move(root));
    m_openCount = 1;
    return true;
}

int FolderStack::push(std::string_view name, std::optional<Identity> expected) {
    const int parent = top();
    if (parent < 0) return -1;
    Level level;
    level.name = std::string(name);
    level.fd = openFolder(parent, level.name.c_str(), false, expected, &level.identity);
    if (level.fd < 0) return -1;
    m_levels.push_back(std::move(level));
    ++m_openCount;
    closeShallowestOverLimit();
    return m_levels.back().fd;
}

void FolderStack::pop() {
    if (m_levels.empty()) return;
    if (m_levels.back().fd >= 0) {
        ::close(m_levels.back().fd);
        --m_openCount;
    }
    m_levels.pop_back();
    m_shallowestMaybeOpen = std::min(m_shallowestMaybeOpen, std::max<std::size_t>(m_levels.size(), 1));
}

int FolderStack::top(Failure* failure) {
    if (m_levels.empty()) {
        errno = EBADF;
        return -1;
    }
    const std::size_t innermost = m_levels.size() - 1;
    if (m_levels[innermost].fd >= 0) return m_levels[innermost].fd;
    if (m_levels[innermost].lost) {
        errno = ENOENT;
        return -1;
    }
    std::size_t open = innermost;
    while (m_levels[open].fd < 0) --open;  // the root is never closed
    for (std::size_t depth = open + 1; depth <= innermost; ++depth) {
        Level& level = m_levels[depth];
        level.fd = openFolder(m_levels[depth - 1].fd, level.name.c_str(), false, level.identity);
        if (level.fd >= 0) {
            ++m_openCount;
            m_shallowestMaybeOpen = std::min(m_shallowestMaybeOpen, depth);
        } else {
            const int error = errno;
            for (std::size_t below = depth; below <= innermost; ++below) m_levels[below].lost = true;
            closeShallowestOverLimit();
            if (failure != nullptr) *failure = {depth, error};
            errno = error;
            return -1;
        }
        closeShallowestOverLimit();
    }
    return m_levels[innermost].fd;
}

void FolderStack::closeShallowestOverLimit() {
    // The root and the innermost open folder stay; the next one down is only ever needed once
    // the walk climbs back to it.
    std::size_t depth = std::max<std::size_t>(m_shallowestMaybeOpen, 1);
    for (; m_openCount > m_openLimit && depth + 1 < m_levels.size(); ++depth) {
        Level& level = m_levels[depth];
        if (level.fd < 0) continue;
        ::close(level.fd);
        level.fd = -1;
        --m_openCount;
    }
    // Every non-root level above `depth` is closed now, or was already.
    m_shallowestMaybeOpen = depth;
}

}  // namespace tarnby
