#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/platform/file_system.h"
#include "core/platform/folder_descriptors.h"
#include "core/platform/folder_listing.h"

namespace tarnby {

// Pre-order walk below one folder, for the project-root search (internal to the scanning library).
// Every entry below the root is yielded once, a folder before its contents, hidden entries
// included. Symbolic links are yielded but never followed; bundle folders (fs::isPackageName)
// are yielded but not entered. Entry types come from the listing; an entry is stat'ed only
// when the listing gives no type. Folders are opened relative to their parent, so paths longer
// than PATH_MAX are walked, and at most kOpenFolderLimit folders stay open between calls
// (one more for a moment while a folder is opened).
// Not thread-safe; one walk per thread.
class ProjectWalk {
public:
    struct Entry {
        std::string path;  // root path + "/" + the names below it
        std::string name;
        fs::EntryType type = fs::EntryType::unknown;  // unknown when even a stat failed
    };

    // Called for a folder that could not be opened or read, with the errno value; the walk
    // goes on without that folder's contents.
    using ErrorHandler = std::function<void(const std::string& path, int error)>;

    // Folders kept open for opening their children; deeper ancestors are reopened by name.
    static constexpr std::size_t kOpenFolderLimit = 16;

    // Opens and lists `root`. When that fails, `failed()` is true and the walk yields nothing.
    // At most `namesPerFolder` names of any one folder are read: a caller that stops after N
    // entries passes N + 1, so one enormous folder cannot exhaust memory.
    ProjectWalk(std::string root, ErrorHandler onError, std::size_t namesPerFolder = SIZE_MAX);
    ~ProjectWalk();
    ProjectWalk(const ProjectWalk&) = delete;
    ProjectWalk& operator=(const ProjectWalk&) = delete;

    bool failed() const { return m_failed; }

    // The next entry, or nullptr at the end. The pointer stays valid until the next call.
    const Entry* next();

    // Do not enter the folder that next() returned last.
    void skipDescendants() { m_descendPending = false; }

private:
    struct Frame;

    void enterCurrent();
    bool readFrame(Frame& frame);

    std::string m_root;
    ErrorHandler m_onError;
    std::size_t m_namesPerFolder;
    FolderDescriptors m_descriptors{{kOpenFolderLimit - 1, 0}};  // and the root
    std::deque<Frame> m_stack;                                   // a deque, so a frame's folder never moves
    FolderListing m_listing;
    Entry m_current;
    bool m_descendPending = false;
    bool m_failed = false;
};

}  // namespace tarnby
