#include "core/scanning/project_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarnby {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

constexpr int kSubfolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string joined(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

// Takes ownership of `fd`, even when it fails.
DirHandle adopt(int fd) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return DirHandle(dir);
}

// All names of a folder, read at once so the folder need not stay open while its subtree is
// walked. Gives the errno of a read that stopped early (what was read stays), or 0.
int readNames(DIR* dir, std::vector<fs::DirectoryEntry>& entries, std::size_t limit) {
    while (entries.size() < limit) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) return errno;
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        entries.push_back({std::string(name), fs::listedType(::dirfd(dir), entry->d_name, entry->d_type)});
    }
    return 0;
}

}  // namespace

struct ProjectWalk::Frame {
    std::string path;
    std::string name;  // component below the parent frame; empty for the root
    DirHandle dir;     // null while closed to stay under the descriptor bound
    std::vector<fs::DirectoryEntry> children;
    std::size_t nextChild = 0;
    bool lost = false;  // could not be reopened; its folders are not entered
};

ProjectWalk::ProjectWalk(std::string root, ErrorHandler onError, std::size_t namesPerFolder)
    : m_root(std::move(root)), m_onError(std::move(onError)), m_namesPerFolder(namesPerFolder) {
    // The root is not opened with O_NOFOLLOW: the caller has vetted it, and the system's own
    // links ("/tmp" and friends on some systems) may lead to it.
    const int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DirHandle dir = fd >= 0 ? adopt(fd) : DirHandle();
    if (!dir) {
        m_failed = true;
        return;
    }
    Frame frame;
    frame.path = m_root;
    const int error = readNames(dir.get(), frame.children, m_namesPerFolder);
    frame.dir = std::move(dir);
    m_stack.push_back(std::move(frame));
    if (error != 0 && m_onError) m_onError(m_root, error);
}

ProjectWalk::~ProjectWalk() = default;

const ProjectWalk::Entry* ProjectWalk::next() {
    if (m_descendPending) {
        m_descendPending = false;
        enterCurrent();
    }
    while (!m_stack.empty()) {
        Frame& top = m_stack.back();
        if (top.nextChild >= top.children.size()) {
            popFrame();
            continue;
        }
        fs::DirectoryEntry& child = top.children[top.nextChild++];
        m_current.path = joined(top.path, child.name);
        m_current.name = std::move(child.name);
        m_current.type = child.type;
        m_descendPending = m_current.type == fs::EntryType::directory && !fs::isPackageName(m_current.name);
        return &m_current;
    }
    return nullptr;
}

void ProjectWalk::enterCurrent() {
    const int parentFd = folderDescriptor(m_stack.size() - 1);
    if (parentFd < 0) return;
    // O_NOFOLLOW: a folder swapped for a link since the listing is refused, not followed.
    const int fd = ::openat(parentFd, m_current.name.c_str(), kSubfolderFlags);
    DirHandle dir = fd >= 0 ? adopt(fd) : DirHandle();
    if (!dir) {
        const int error = errno;
        if (m_onError) m_onError(m_current.path, error);
        return;
    }
    Frame frame;
    const int error = readNames(dir.get(), frame.children, m_namesPerFolder);
    frame.path = m_current.path;
    frame.name = m_current.name;
    frame.dir = std::move(dir);
    m_stack.push_back(std::move(frame));
    closeOldestIfOverLimit();
    if (error != 0 && m_onError) m_onError(m_current.path, error);
}

int ProjectWalk::folderDescriptor(std::size_t index) {
    Frame& frame = m_stack[index];
    if (frame.dir) return ::dirfd(frame.dir.get());
    if (frame.lost) return -1;

    // Open frames always form the top of the stack, so a closed frame here means every
    // ancestor is closed too: reopen from the root, name by name, and keep the deepest few.
    const std::size_t keepFrom = index + 1 > kOpenFolderLimit ? index + 1 - kOpenFolderLimit : 0;
    std::vector<DirHandle> kept;
    int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t level = 0;
    for (;;) {
        if (fd < 0) break;
        if (level >= keepFrom) {
            DirHandle dir = adopt(fd);
            if (!dir) {
                fd = -1;
                break;
            }
            fd = ::dirfd(dir.get());
            kept.push_back(std::move(dir));
        }
        if (level == index) break;
        ++level;
        const int child = ::openat(fd, m_stack[level].name.c_str(), kSubfolderFlags);
        const int openError = errno;
        if (level - 1 < keepFrom) ::close(fd);
        fd = child;
        errno = openError;
    }
    if (fd < 0) {
        const int error = errno;
        // The folder moved or changed since it was listed; what remains of its subtree is lost.
        for (std::size_t i = level; i <= index; ++i) m_stack[i].lost = true;
        if (m_onError) m_onError(m_stack[level].path, error);
        return -1;
    }
    for (std::size_t i = 0; i < kept.size(); ++i) m_stack[keepFrom + i].dir = std::move(kept[i]);
    m_firstOpen = keepFrom;
    return ::dirfd(m_stack[index].dir.get());
}

void ProjectWalk::popFrame() {
    m_stack.pop_back();
    if (m_firstOpen > m_stack.size()) m_firstOpen = m_stack.size();
}

void ProjectWalk::closeOldestIfOverLimit() {
    while (m_stack.size() - m_firstOpen > kOpenFolderLimit) {
        m_stack[m_firstOpen].dir.reset();
        ++m_firstOpen;
    }
}

}  // namespace tarnby
