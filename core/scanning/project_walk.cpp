#include "core/scanning/project_walk.h"

#include <algorithm>
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
    FolderDescriptors::Folder folder;  // named by the end of `path`
    std::vector<fs::DirectoryEntry> children;
    std::size_t nextChild = 0;
};

ProjectWalk::ProjectWalk(std::string root, ErrorHandler onError, std::size_t namesPerFolder)
    : m_root(std::move(root)), m_onError(std::move(onError)), m_namesPerFolder(namesPerFolder) {
    Frame& frame = m_stack.emplace_back();
    frame.path = m_root;
    // The root may be reached through a link: the caller has vetted it, and the system's own
    // links ("/tmp" and friends on some systems) may lead to it.
    if (!m_descriptors.openRoot(frame.folder, m_root, true)) {
        m_stack.clear();
        m_failed = true;
        return;
    }
    readFrame(frame);
}

ProjectWalk::~ProjectWalk() {
    while (!m_stack.empty()) m_stack.pop_back();  // a folder goes before its parent
}

const ProjectWalk::Entry* ProjectWalk::next() {
    if (m_descendPending) {
        m_descendPending = false;
        enterCurrent();
    }
    while (!m_stack.empty()) {
        Frame& top = m_stack.back();
        if (top.nextChild >= top.children.size()) {
            // The walk goes on in the parent, so its descriptor comes back with this one's.
            m_descriptors.leave(top.folder);
            m_stack.pop_back();
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
    Frame& parent = m_stack.back();
    Frame& frame = m_stack.emplace_back();
    frame.path = m_current.path;
    frame.folder.parent = &parent.folder;
    frame.folder.name = std::string_view(frame.path).substr(frame.path.size() - m_current.name.size());
    if (!readFrame(frame)) m_stack.pop_back();
}

bool ProjectWalk::readFrame(Frame& frame) {
    FolderDescriptors::Failure lost;
    // Never through a link: a folder swapped for a link since the listing is refused, and so is
    // anything below a folder that moved or changed since it was listed.
    const int fd = m_descriptors.acquire(frame.folder, &lost);
    if (fd < 0) {
        if (lost.folder != nullptr && m_onError) {
            const auto found = std::find_if(m_stack.begin(), m_stack.end(),
                                            [&lost](const Frame& f) { return &f.folder == lost.folder; });
            if (found != m_stack.end()) m_onError(found->path, lost.error);
        }
        return false;
    }
    const int error = readNames(m_listing, fd, frame.children, m_namesPerFolder);
    m_descriptors.release(frame.folder);
    if (error != 0 && m_onError) m_onError(frame.path, error);
    return true;
}

}  // namespace tarnby
