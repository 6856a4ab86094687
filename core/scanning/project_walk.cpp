#include "core/scanning/project_walk.h"

#include <cerrno>
#include <utility>

namespace tarnby {

namespace {

std::string joined(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

// All names of the open folder `fd`, read at once so the folder need not stay open while its
// subtree is walked. Gives the errno of a read that stopped early (what was read stays), or 0.
int readNames(FolderListing& listing, int fd, std::vector<fs::DirectoryEntry>& entries, std::size_t limit) {
    if (limit == 0) return 0;
    return listing.list(fd, [&](const char* name, unsigned char type) {
        entries.push_back({std::string(name), fs::listedType(fd, name, type)});
        return entries.size() < limit;
    });
}

}  // namespace

struct ProjectWalk::Frame {
    std::string path;
    std::vector<fs::DirectoryEntry> children;
    std::size_t nextChild = 0;
};

ProjectWalk::ProjectWalk(std::string root, ErrorHandler onError, std::size_t namesPerFolder)
    : m_root(std::move(root)), m_onError(std::move(onError)), m_namesPerFolder(namesPerFolder) {
    // The root may be reached through a link: the caller has vetted it, and the system's own
    // links ("/tmp" and friends on some systems) may lead to it.
    if (!m_folders.openRoot(m_root, true)) {
        m_failed = true;
        return;
    }
    Frame frame;
    frame.path = m_root;
    const int error = readNames(m_listing, m_folders.top(), frame.children, m_namesPerFolder);
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
            m_stack.pop_back();
            m_folders.pop();
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
    FolderStack::Failure lost{0, 0};
    if (m_folders.top(&lost) < 0) {
        // The folder moved or changed since it was listed; what remains of its subtree is lost.
        if (lost.error != 0 && m_onError) m_onError(m_stack[lost.depth].path, lost.error);
        return;
    }
    // Never through a link: a folder swapped for a link since the listing is refused.
    const int fd = m_folders.push(m_current.name);
    if (fd < 0) {
        const int error = errno;
        if (m_onError) m_onError(m_current.path, error);
        return;
    }
    Frame frame;
    frame.path = m_current.path;
    const int error = readNames(m_listing, fd, frame.children, m_namesPerFolder);
    m_stack.push_back(std::move(frame));
    if (error != 0 && m_onError) m_onError(m_current.path, error);
}

}  // namespace tarnby
