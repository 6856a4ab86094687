#include "core/scanning/file_inspection.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/platform/folder_stack.h"
#include "core/platform/paths.h"
#include "core/platform/sha256.h"

namespace tarnby::FileInspection {

namespace {

struct PermittedLink {
    std::string_view link;
    std::string_view target;
};

constexpr std::array<PermittedLink, 3> kPermittedLinks{{
    {"/var", "/private/var"},
    {"/tmp", "/private/tmp"},
    {"/etc", "/private/etc"},
}};

// Deep trees would otherwise hold one descriptor per level; beyond this many, the shallowest
// are closed and reopened by name when the walk climbs back to them.
constexpr std::size_t kMaxOpenDescriptors = 32;

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

EntryStat entryStat(const struct stat& info) {
    EntryStat entry;
    entry.device = static_cast<std::uint64_t>(info.st_dev);
    entry.inode = static_cast<std::uint64_t>(info.st_ino);
    entry.size = static_cast<std::int64_t>(info.st_size);
    entry.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    entry.modifiedNanoseconds = static_cast<std::uint32_t>(info.st_mtim.tv_nsec);
    entry.changedSeconds = static_cast<std::int64_t>(info.st_ctim.tv_sec);
    entry.changedNanoseconds = static_cast<std::uint32_t>(info.st_ctim.tv_nsec);
    entry.mode = static_cast<std::uint32_t>(info.st_mode);
    return entry;
}

TimePoint timePoint(std::int64_t seconds, std::uint32_t nanoseconds) {
    return timePointSince1970(seconds, nanoseconds);
}

struct Child {
    std::uint32_t nameOffset = 0;
    std::uint32_t nameLength = 0;
    EntryStat stat;
};

// One folder on the walk's stack. Its entries are listed and inspected when the folder is
// entered; they are then replayed in the order their lines sort in (see Walk).
struct Frame {
    std::size_t nameLength = 0;  // of its component below the parent frame; 0 for the root
    std::string names;           // entry names back to back: one buffer instead of one string each
    std::vector<Child> children;
    std::vector<std::uint32_t> order;  // child index << 1, low bit set for "descend into it"
    std::size_t cursor = 0;
    bool canDescend = true;

    std::string_view childName(const Child& child) const {
        return std::string_view(names).substr(child.nameOffset, child.nameLength);
    }
};

struct IdentityHash {
    std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& identity) const {
        return std::hash<std::uint64_t>()(identity.first * 0x9E3779B97F4A7C15ULL ^ identity.second);
    }
};

// The fingerprint is the SHA-256 of all entry lines sorted as byte strings and joined by "\n".
// An entry's line is its relative path, then "|" and its numbers. Names hold no "/", so
// everything below a subfolder (all starting name + "/") forms one contiguous run, and no
// other line of that folder starts with name + "/": the run sorts exactly where name + "/"
// sorts against the folder's own lines, compared whole (a name may hold "|" and digits, so
// comparing names alone is not enough: "a|0" against "a"'s "a|2049:…"). Walking each folder's
// lines and runs in that order and hashing line by line gives the sorted digest while holding
// only the lines of the folders on the stack.
class Walk {
public:
    Walk(const std::string& rootPath, const ScanCancellation& cancellation, std::size_t entryLimit,
         Measurement& result)
        : m_rootPath(rootPath), m_cancellation(cancellation), m_entryLimit(entryLimit), m_result(result) {}

    // Inspects the root itself; false when it is not a folder that can be walked.
    bool inspectRoot() {
        struct stat info {};
        if (::lstat(m_rootPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        m_rootStat = entryStat(info);
        m_lines = 1;
        noteModified(m_rootStat);
        return true;
    }

    // Walks everything below the root and returns the digest; nothing when the root cannot be opened.
    std::optional<std::string> run() {
        // A root replaced between the inspection and the open is refused: what we would walk
        // is not what we saw.
        if (!m_folders.openRoot(m_rootPath, false, identity(m_rootStat))) return std::nullopt;
        m_stack.emplace_back();
        list(m_stack.back(), m_folders.top());

        while (!m_stack.empty()) {
            Frame& frame = m_stack.back();
            if (frame.cursor == frame.order.size()) {
                const std::size_t nameLength = frame.nameLength;
                m_stack.pop_back();
                m_folders.pop();
                if (!m_stack.empty()) m_relative.resize(m_relative.size() - nameLength - 1);
                continue;
            }
            const std::uint32_t step = frame.order[frame.cursor++];
            const std::uint32_t index = step >> 1;
            if ((step & 1U) == 0) {
                emit(frame.childName(frame.children[index]), frame.children[index].stat);
            } else if (!m_stopped && frame.canDescend) {
                descend(m_stack.size() - 1, index);
            }
        }
        emit({}, m_rootStat);
        return m_hash.finishHex();
    }

private:
    void markIncomplete() { m_result.complete = false; }

    void noteModified(const EntryStat& entry) {
        const TimePoint when = timePoint(entry.modifiedSeconds, entry.modifiedNanoseconds);
        if (!m_result.modified || *m_result.modified < when) m_result.modified = when;
    }

    static FolderStack::Identity identity(const EntryStat& entry) { return {entry.device, entry.inode}; }

    // Lists and inspects every entry of `frame`, open as `fd`, then orders them for replay.
    void list(Frame& frame, int fd) {
        const int listFd = ::dup(fd);
        DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (dir == nullptr) {
            if (listFd >= 0) ::close(listFd);
            markIncomplete();
            return;
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) markIncomplete();
                break;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            if (m_cancellation.isCancelled() || m_lines >= m_entryLimit) {
                markIncomplete();
                m_stopped = true;
                break;
            }
            struct stat info {};
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                markIncomplete();  // vanished or unreadable: it contributes nothing
                continue;
            }
            ++m_lines;
            const std::size_t length = std::strlen(name);
            Child child;
            child.nameOffset = static_cast<std::uint32_t>(frame.names.size());
            child.nameLength = static_cast<std::uint32_t>(length);
            child.stat = entryStat(info);
            frame.names.append(name, length);
            noteModified(child.stat);
            if (!S_ISDIR(info.st_mode)) {
                const bool shared = info.st_nlink > 1;
                if (!shared || m_seen.emplace(child.stat.device, child.stat.inode).second) {
                    m_result.files += 1;
                    m_result.bytes += 512 * static_cast<std::int64_t>(info.st_blocks);
                }
            }
            frame.children.push_back(child);
        }
        ::closedir(dir);

        // Each entry's line after its name, back to back; a run's key is name + "/".
        std::string tails;
        std::vector<std::uint32_t> tailEnds;
        tailEnds.reserve(frame.children.size());
        for (const Child& child : frame.children) {
            appendNumbers(tails, child.stat);
            tailEnds.push_back(static_cast<std::uint32_t>(tails.size()));
        }
        const auto suffix = [&](std::uint32_t step) -> std::string_view {
            if ((step & 1U) != 0) return "/";
            const std::uint32_t i = step >> 1;
            const std::uint32_t begin = i == 0 ? 0 : tailEnds[i - 1];
            return std::string_view(tails).substr(begin, tailEnds[i] - begin);
        };
        frame.order.reserve(frame.children.size() * 2);
        for (std::uint32_t i = 0; i < frame.children.size(); ++i) {
            frame.order.push_back(i << 1);
            if (S_ISDIR(frame.children[i].stat.mode)) frame.order.push_back((i << 1) | 1U);
        }
        std::sort(frame.order.begin(), frame.order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return keyLess(frame.childName(frame.children[a >> 1]), suffix(a), frame.childName(frame.children[b >> 1]),
                           suffix(b));
        });
    }

    // Byte order of name + suffix, without building either string.
    static bool keyLess(std::string_view a, std::string_view aSuffix, std::string_view b, std::string_view bSuffix) {
        const auto at = [](std::string_view text, std::string_view rest, std::size_t i) -> int {
            if (i < text.size()) return static_cast<unsigned char>(text[i]);
            i -= text.size();
            return i < rest.size() ? static_cast<unsigned char>(rest[i]) : -1;
        };
        const std::size_t common = std::min(a.size(), b.size());
        if (const int c = std::memcmp(a.data(), b.data(), common); c != 0) return c < 0;
        for (std::size_t i = common;; ++i) {
            const int x = at(a, aSuffix, i);
            const int y = at(b, bSuffix, i);
            if (x != y) return x < y;
            if (x < 0) return false;
        }
    }

    void descend(std::size_t depth, std::uint32_t index) {
        Frame& parent = m_stack[depth];
        if (m_folders.top() < 0) {
            // The folder moved or changed under us; its entries were seen, its subfolders are lost.
            parent.canDescend = false;
            markIncomplete();
            return;
        }
        const Child& child = parent.children[index];
        const std::string_view name = parent.childName(child);
        // Never through a link, and only the folder that was inspected.
        const int fd = m_folders.push(name, identity(child.stat));
        if (fd < 0) {
            markIncomplete();
            return;
        }
        m_relative.push_back('/');
        m_relative.append(name);
        Frame frame;
        frame.nameLength = name.size();
        m_stack.push_back(std::move(frame));
        list(m_stack.back(), fd);
    }

    void emit(std::string_view name, const EntryStat& entry) {
        m_line.clear();
        m_line.append(m_relative);
        if (!name.empty()) {
            m_line.push_back('/');
            m_line.append(name);
        }
        appendNumbers(m_line, entry);
        if (m_emitted++ > 0) m_hash.update("\n");
        m_hash.update(m_line);
    }

    // The part of a line after the path: "|device:inode|mode|size|modified|changed".
    static void appendNumbers(std::string& out, const EntryStat& entry) {
        out.push_back('|');
        appendNumber(out, entry.device);
        out.push_back(':');
        appendNumber(out, entry.inode);
        out.push_back('|');
        appendNumber(out, entry.mode);
        out.push_back('|');
        appendNumber(out, entry.size);
        out.push_back('|');
        appendNumber(out, entry.modifiedSeconds);
        out.push_back(':');
        appendNumber(out, entry.modifiedNanoseconds);
        out.push_back('|');
        appendNumber(out, entry.changedSeconds);
        out.push_back(':');
        appendNumber(out, entry.changedNanoseconds);
    }

    template <typename Number>
    static void appendNumber(std::string& out, Number value) {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out.append(buffer, static_cast<std::size_t>(end - buffer));
    }

    const std::string& m_rootPath;
    const ScanCancellation& m_cancellation;
    const std::size_t m_entryLimit;
    Measurement& m_result;

    EntryStat m_rootStat;
    std::vector<Frame> m_stack;
    FolderStack m_folders{kMaxOpenDescriptors};  // one level per frame
    std::string m_relative;  // relative path of the frame on top of the stack
    std::string m_line;
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, IdentityHash> m_seen;
    std::size_t m_lines = 0;
    std::size_t m_emitted = 0;
    bool m_stopped = false;
    Sha256 m_hash;
};

}  // namespace

bool safePath(const std::string& path) {
    if (path.empty() || path.front() != '/' || paths::hasDotComponent(path)) return false;
    std::string current = path;
    while (current.size() > 1 && current.back() == '/') current.pop_back();
    while (current != "/") {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) return false;
        if (S_ISLNK(info.st_mode)) {
            const auto permitted = std::find_if(kPermittedLinks.begin(), kPermittedLinks.end(),
                                                [&](const PermittedLink& link) { return link.link == current; });
            if (permitted == kPermittedLinks.end()) return false;
            const auto resolved = paths::resolvingSymlinks(current);
            if (!resolved || *resolved != permitted->target) return false;
        }
        current = paths::parent(current);
    }
    return true;
}

Measurement measure(const std::string& path, const ScanCancellation& cancellation, std::size_t entryLimit) {
    Measurement result;
    try {
        if (!safePath(path)) {
            result.complete = false;
            return result;
        }
        Walk walk(path, cancellation, entryLimit, result);
        if (!walk.inspectRoot()) {
            result.complete = false;
            return result;
        }
        if (auto fingerprint = walk.run()) {
            result.fingerprint = std::move(*fingerprint);
        } else {
            result.complete = false;
        }
    } catch (...) {
        // Out of memory on an absurd tree: report what could not be seen rather than fail the scan.
        result.complete = false;
        result.fingerprint.clear();
    }
    return result;
}

}  // namespace tarnby::FileInspection
