#include "core/scanning/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/platform/folder_listing.h"
#include "core/platform/folder_stack.h"
#include "core/platform/sha256.h"

namespace tarnby::FolderWalk {

namespace {

// Below this many listed entries a measurement stays on the calling thread: starting threads
// costs more than a small folder takes.
constexpr std::size_t kSpreadAfterEntries = 4096;

// Entries listed but not yet hashed beyond which helpers stop taking new folders and only the
// folder the digest waits for is listed. Bounds memory (about 100 bytes an entry) whatever
// the thread count.
constexpr std::size_t kPendingBudget = 100'000;

// Listed folders kept open so their subfolders open relative to them; beyond this, a folder
// is closed after listing and its subfolders reopen it by name from the nearest open ancestor.
constexpr std::size_t kOpenFolderBudget = 64;

// Subfolders opened while their parent is listed, their line read from the open folder: one
// name lookup instead of two (a stat now, an open later). Beyond this many waiting at once,
// a subfolder is only stat'ed and opened by name when its turn comes.
constexpr std::size_t kPreopenBudget = 32;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// Lines are handed to SHA-256 in pieces of about this size rather than one call each.
constexpr std::size_t kHashPiece = 64 * 1024;

constexpr std::uint32_t kNoFolder = UINT32_MAX;

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

FolderStack::Identity identityOf(const EntryStat& entry) { return {entry.device, entry.inode}; }

TimePoint timePoint(std::int64_t seconds, std::uint32_t nanoseconds) {
    return timePointSince1970(seconds, nanoseconds);
}

template <typename Number>
void appendNumber(std::string& out, Number value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, static_cast<std::size_t>(end - buffer));
}

// The part of a line after the path: "|device:inode|mode|size|modified|changed".
void appendNumbers(std::string& out, const EntryStat& entry) {
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

// Byte order of name + suffix, without building either string.
bool keyLess(std::string_view a, std::string_view aSuffix, std::string_view b, std::string_view bSuffix) {
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

// An entry as its line needs it: the name, and the rest of the line made once at listing.
struct Child {
    std::uint32_t nameOffset = 0;
    std::uint32_t nameLength = 0;
    std::uint32_t tailEnd = 0;         // where its numbers end in the folder's tails
    std::uint32_t folder = kNoFolder;  // index into the parent's subfolders when it is one
};

// pending: waiting to be listed; claimed: being listed; listed: its entries are final and
// read-only; abandoned: never listed (it could not be opened, or the walk stopped first).
enum class FolderState { pending, claimed, listed, abandoned };

// One folder of the walk. Its entries are listed once, by one thread; the digest then replays
// them in the order their lines sort (see Walk) and frees the folder.
struct Folder {
    Folder* parent = nullptr;
    std::uint32_t index = 0;         // its entry among the parent's children
    FolderStack::Identity identity;  // as listed in the parent; only that folder is entered
    std::atomic<FolderState> state{FolderState::pending};
    std::atomic<int> fd{-1};
    std::atomic<std::uint32_t> unopened{0};  // subfolders not yet opened through fd
    bool preopened = false;                  // fd was opened with the parent's listing and not yet taken

    std::string names;  // entry names back to back: one buffer instead of one string each
    std::string tails;  // each entry's "|device:inode|mode|size|modified|changed", back to back
    std::vector<Child> children;
    std::vector<std::uint32_t> order;  // child index << 1, low bit set for "its subtree"
    std::vector<std::unique_ptr<Folder>> subfolders;

    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
        // Still open only when the walk ended early; the digest closes the others as it goes.
        if (const int open = fd.exchange(-1); open >= 0) ::close(open);
    }

    std::string_view childName(const Child& child) const {
        return std::string_view(names).substr(child.nameOffset, child.nameLength);
    }
    std::string_view childTail(std::uint32_t i) const {
        const std::uint32_t begin = i == 0 ? 0 : children[i - 1].tailEnd;
        return std::string_view(tails).substr(begin, children[i].tailEnd - begin);
    }
    std::string_view name() const { return parent->childName(parent->children[index]); }
};

using Identity = std::pair<std::uint64_t, std::uint64_t>;

struct IdentityHash {
    std::size_t operator()(const Identity& identity) const {
        return std::hash<std::uint64_t>()(identity.first * 0x9E3779B97F4A7C15ULL ^ identity.second);
    }
};

// What one thread counted. Files with one link are summed at once; files with several links
// are kept by identity, since another thread may meet another link to the same file.
struct Tally {
    std::int64_t bytes = 0;
    std::int64_t files = 0;
    std::optional<TimePoint> modified;
    std::unordered_map<Identity, std::int64_t, IdentityHash> linked;  // identity -> 512-byte blocks
    bool complete = true;

    void noteModified(const EntryStat& entry) {
        const TimePoint when = timePoint(entry.modifiedSeconds, entry.modifiedNanoseconds);
        if (!modified || *modified < when) modified = when;
    }
};

// The fingerprint is the SHA-256 of all entry lines sorted as byte strings and joined by "\n".
// An entry's line is its relative path, then "|" and its numbers. Names hold no "/", so
// everything below a subfolder (all starting name + "/") forms one contiguous run, and no
// other line of that folder starts with name + "/": the run sorts exactly where name + "/"
// sorts against the folder's own lines, compared whole (a name may hold "|" and digits, so
// comparing names alone is not enough: "a|0" against "a"'s "a|2049:…"). Replaying each
// folder's lines and runs in that order gives the sorted stream, so one SHA-256 is fed in
// order while any number of threads list folders in any order: a folder listed ahead of the
// digest waits, fully formed, until the digest reaches it. Only the digest's path through the
// tree and a bounded number of folders listed ahead are held at a time.
class Walk {
public:
    Walk(const std::string& rootPath, const ScanCancellation& cancellation, std::size_t entryLimit, std::size_t threads,
         bool spreadAtOnce)
        : m_rootPath(rootPath),
          m_cancellation(cancellation),
          m_entryLimit(entryLimit),
          m_threads(threads),
          m_spreadAtOnce(spreadAtOnce),
          m_tallies(threads) {}

    ~Walk() {
        for (std::thread& helper : m_helpers) {
            if (helper.joinable()) helper.join();
        }
    }

    // Inspects the root itself; false when it is not a folder that can be walked.
    bool inspectRoot(Tally& tally) {
        struct stat info {};
        if (::lstat(m_rootPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        m_rootStat = entryStat(info);
        tally.noteModified(m_rootStat);
        return true;
    }

    // Walks everything below the root and returns the digest; nothing when the root cannot be
    // opened or the walk ran out of memory. `tally` receives every thread's counts.
    std::optional<std::string> run(Tally& tally) {
        // A root replaced between the inspection and the open is refused: what we would walk
        // is not what we saw.
        const int fd = openFolder(AT_FDCWD, m_rootPath.c_str(), false, identityOf(m_rootStat));
        if (fd < 0) return std::nullopt;
        m_root.fd = fd;
        m_tasks.push_back(&m_root);
        m_needed = &m_root;
        m_merge.push_back({&m_root, 0});
        m_lines = 1;  // the root's own

        work(0);
        for (std::thread& helper : m_helpers) helper.join();
        m_helpers.clear();

        for (Tally& part : m_tallies) combine(tally, part);
        if (m_failed || !m_finished) return std::nullopt;
        return std::move(m_digest);
    }

private:
    struct MergeLevel {
        Folder* folder;
        std::size_t cursor;
    };

    void work(std::size_t thread) {
        Tally& tally = m_tallies[thread];
        std::unique_lock lock(m_lock);
        try {
            FolderListing listing;
            for (;;) {
                if (m_finished || m_failed) break;
                if (!m_merging && ready(m_needed)) {
                    m_merging = true;
                    m_needed = nullptr;  // the digest frees folders as it goes, this one first
                    lock.unlock();
                    Folder* waitingFor = advanceDigest();
                    lock.lock();
                    m_merging = false;
                    m_needed = waitingFor;
                    if (waitingFor == nullptr) m_finished = true;
                    wake();
                    continue;
                }
                if (Folder* folder = take()) {
                    lock.unlock();
                    const bool listed = list(*folder, tally, listing);
                    lock.lock();
                    publish(*folder, listed);
                    if (thread == 0) spread();
                    wake();
                    continue;
                }
                ++m_waiting;
                m_wake.wait(lock);
                --m_waiting;
            }
        } catch (...) {
            // Out of memory: every thread stops, and the measurement says it could not see it all.
            if (!lock.owns_lock()) lock.lock();
            m_failed = true;
            m_stopped = true;
            m_merging = false;
            m_wake.notify_all();
        }
    }

    void wake() {
        if (m_waiting > 0) m_wake.notify_all();
    }

    static bool ready(const Folder* folder) {
        if (folder == nullptr) return false;
        const FolderState state = folder->state.load(std::memory_order_acquire);
        return state == FolderState::listed || state == FolderState::abandoned;
    }

    // With the lock held: the folder the digest waits for first, then the newest found
    // (depth first keeps what is listed close to where the digest is), within the budget.
    Folder* take() {
        if (m_stopped) return nullptr;
        if (m_needed != nullptr && m_needed->state.load(std::memory_order_relaxed) == FolderState::pending) {
            const auto found = std::find(m_tasks.rbegin(), m_tasks.rend(), m_needed);
            if (found != m_tasks.rend()) {
                m_tasks.erase(std::next(found).base());
                m_needed->state.store(FolderState::claimed, std::memory_order_relaxed);
                return m_needed;
            }
        }
        if (m_tasks.empty() || m_pendingEntries.load(std::memory_order_relaxed) >= kPendingBudget) return nullptr;
        Folder* folder = m_tasks.back();
        m_tasks.pop_back();
        folder->state.store(FolderState::claimed, std::memory_order_relaxed);
        return folder;
    }

    // With the lock held: makes the folder's listing visible and its subfolders available.
    void publish(Folder& folder, bool listed) {
        if (listed) {
            m_listedEntries += folder.children.size();
            m_pendingEntries.fetch_add(folder.children.size(), std::memory_order_relaxed);
            // Reversed, so the first in digest order is taken first.
            for (auto step = folder.order.rbegin(); step != folder.order.rend(); ++step) {
                if ((*step & 1U) == 0) continue;
                Folder& sub = *folder.subfolders[folder.children[*step >> 1].folder];
                if (m_stopped) {
                    sub.state.store(FolderState::abandoned, std::memory_order_release);
                } else {
                    m_tasks.push_back(&sub);
                }
            }
        }
        folder.state.store(listed ? FolderState::listed : FolderState::abandoned, std::memory_order_release);
        if (m_stopped) {
            for (Folder* task : m_tasks) task->state.store(FolderState::abandoned, std::memory_order_release);
            m_tasks.clear();
        }
    }

    // With the lock held, on the calling thread: starts the helpers once the folder proves large.
    void spread() {
        if (m_spread || m_threads < 2 || m_tasks.empty()) return;
        if (!m_spreadAtOnce && m_listedEntries < kSpreadAfterEntries) return;
        m_spread = true;
        for (std::size_t thread = 1; thread < m_threads; ++thread) {
            try {
                m_helpers.emplace_back(&Walk::work, this, thread);
            } catch (const std::system_error&) {
                break;  // fewer threads, same result
            }
        }
    }

    void stop(Tally& tally) {
        tally.complete = false;
        m_stopped = true;
    }

    bool shouldStop() const { return m_stopped.load(std::memory_order_relaxed) || m_cancellation.isCancelled(); }

    // Lists and inspects every entry of a claimed folder, then orders them for the digest.
    // False when it could not be opened. Its state is left to publish(), since the digest may
    // free a folder as soon as it sees it finished.
    bool list(Folder& folder, Tally& tally, FolderListing& listing) {
        const int fd = &folder == &m_root ? m_root.fd.load() : open(folder);
        if (fd < 0) {
            tally.complete = false;
            return false;
        }
        std::uint32_t preopened = 0;
        const int error = listing.list(fd, [&](const char* name, unsigned char type) {
            if (shouldStop()) {
                stop(tally);
                return false;
            }
            // Reserved before the stat so that threads together never take more than the limit.
            if (m_lines.fetch_add(1, std::memory_order_relaxed) >= m_entryLimit) {
                m_lines.fetch_sub(1, std::memory_order_relaxed);
                stop(tally);
                return false;
            }
            struct stat info {};
            const int opened = type == DT_DIR ? preopen(fd, name, info) : -1;
            if (opened < 0 && ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                m_lines.fetch_sub(1, std::memory_order_relaxed);
                tally.complete = false;  // vanished or unreadable: it contributes nothing
                return true;
            }
            const std::size_t length = std::strlen(name);
            const EntryStat stat = entryStat(info);
            Child child;
            child.nameOffset = static_cast<std::uint32_t>(folder.names.size());
            child.nameLength = static_cast<std::uint32_t>(length);
            folder.names.append(name, length);
            appendNumbers(folder.tails, stat);
            child.tailEnd = static_cast<std::uint32_t>(folder.tails.size());
            tally.noteModified(stat);
            if (S_ISDIR(info.st_mode)) {
                child.folder = static_cast<std::uint32_t>(folder.subfolders.size());
                auto sub = std::make_unique<Folder>();
                sub->parent = &folder;
                sub->index = static_cast<std::uint32_t>(folder.children.size());
                sub->identity = identityOf(stat);
                if (opened >= 0) {
                    sub->fd.store(opened, std::memory_order_relaxed);
                    sub->preopened = true;
                    ++preopened;
                }
                folder.subfolders.push_back(std::move(sub));
            } else if (info.st_nlink > 1) {
                tally.linked.emplace(Identity(stat.device, stat.inode), static_cast<std::int64_t>(info.st_blocks));
            } else {
                tally.files += 1;
                tally.bytes += 512 * static_cast<std::int64_t>(info.st_blocks);
            }
            folder.children.push_back(child);
            return true;
        });
        if (error != 0) tally.complete = false;
        sortForDigest(folder);

        // Kept open only while its subfolders still need it, and only so many at once.
        const auto unopened = static_cast<std::uint32_t>(folder.subfolders.size()) - preopened;
        folder.unopened.store(unopened, std::memory_order_relaxed);
        if (&folder != &m_root) {
            if (unopened == 0 || m_openFolders.fetch_add(1, std::memory_order_relaxed) >= kOpenFolderBudget) {
                if (unopened != 0) m_openFolders.fetch_sub(1, std::memory_order_relaxed);
                ::close(folder.fd.exchange(-1));
            }
        }
        return true;
    }

    // Opens the listed folder `name` of `parentFd` and reads its line from it, within the
    // budget. The descriptor, or -1 (over budget, unreadable, or no longer a folder): the
    // caller then stats it by name.
    int preopen(int parentFd, const char* name, struct stat& info) {
        if (m_preopened.load(std::memory_order_relaxed) >= kPreopenBudget) return -1;
        const int fd = ::openat(parentFd, name, kFolderFlags);
        if (fd < 0) return -1;
        if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
            ::close(fd);
            return -1;
        }
        m_preopened.fetch_add(1, std::memory_order_relaxed);
        return fd;
    }

    static void sortForDigest(Folder& folder) {
        // An entry's line is its name and tail; a run's key is name + "/".
        const auto suffix = [&](std::uint32_t step) -> std::string_view {
            if ((step & 1U) != 0) return "/";
            return folder.childTail(step >> 1);
        };
        folder.order.reserve(folder.children.size() + folder.subfolders.size());
        for (std::uint32_t i = 0; i < folder.children.size(); ++i) {
            folder.order.push_back(i << 1);
            if (folder.children[i].folder != kNoFolder) folder.order.push_back((i << 1) | 1U);
        }
        std::sort(folder.order.begin(), folder.order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return keyLess(folder.childName(folder.children[a >> 1]), suffix(a),
                           folder.childName(folder.children[b >> 1]), suffix(b));
        });
    }

    // Opens a claimed folder relative to its parent (never through a link, and only the folder
    // that was listed), and lets the parent go once none of its subfolders needs it.
    int open(Folder& folder) {
        if (folder.preopened) {
            folder.preopened = false;
            m_preopened.fetch_sub(1, std::memory_order_relaxed);
            return folder.fd.load(std::memory_order_relaxed);
        }
        Folder& parent = *folder.parent;
        const std::string name(folder.name());
        const int parentFd = parent.fd.load(std::memory_order_acquire);
        int fd =
            parentFd >= 0 ? openFolder(parentFd, name.c_str(), false, folder.identity) : openThroughAncestors(folder);
        if (fd >= 0) folder.fd.store(fd, std::memory_order_release);
        if (parent.unopened.fetch_sub(1, std::memory_order_acq_rel) == 1 && &parent != &m_root) {
            std::lock_guard guard(m_descriptorLock);
            if (const int done = parent.fd.exchange(-1); done >= 0) {
                ::close(done);
                m_openFolders.fetch_sub(1, std::memory_order_relaxed);
            }
        }
        return fd;
    }

    // For a folder whose parent was closed: reopens the chain by name from the nearest open
    // ancestor, checking each folder's identity, and closes it again. The root stays open.
    int openThroughAncestors(const Folder& folder) {
        std::lock_guard guard(m_descriptorLock);
        std::vector<const Folder*> chain;
        const Folder* open = folder.parent;
        while (open->fd.load(std::memory_order_acquire) < 0) {
            chain.push_back(open);
            open = open->parent;
        }
        int current = -1;
        int base = open->fd.load(std::memory_order_acquire);
        chain.insert(chain.begin(), &folder);
        for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
            const std::string name((*link)->name());
            const int next = openFolder(current >= 0 ? current : base, name.c_str(), false, (*link)->identity);
            const int error = errno;
            if (current >= 0) ::close(current);
            if (next < 0) {
                errno = error;
                return -1;
            }
            current = next;
        }
        return current;
    }

    // Hashes lines as far as listed folders allow, freeing each folder once its lines and runs
    // are through. The folder it waits for, or nullptr once the root's own line is hashed.
    Folder* advanceDigest() {
        while (!m_merge.empty()) {
            MergeLevel& level = m_merge.back();
            Folder& folder = *level.folder;
            const FolderState state = folder.state.load(std::memory_order_acquire);
            if (state == FolderState::pending || state == FolderState::claimed) return &folder;
            if (state == FolderState::listed && level.cursor < folder.order.size()) {
                const std::uint32_t step = folder.order[level.cursor++];
                const Child& child = folder.children[step >> 1];
                if ((step & 1U) == 0) {
                    emit(folder.childName(child), folder.childTail(step >> 1));
                } else {
                    m_relative.push_back('/');
                    m_relative.append(folder.childName(child));
                    m_merge.push_back({folder.subfolders[child.folder].get(), 0});
                }
                continue;
            }
            m_merge.pop_back();
            m_pendingEntries.fetch_sub(folder.children.size(), std::memory_order_relaxed);
            if (&folder == &m_root) continue;
            m_relative.resize(m_relative.size() - folder.name().size() - 1);
            if (const int fd = folder.fd.exchange(-1); fd >= 0) {
                // Abandoned before it was listed, or before a subfolder needed it.
                ::close(fd);
                (folder.preopened ? m_preopened : m_openFolders).fetch_sub(1, std::memory_order_relaxed);
            }
            folder.parent->subfolders[folder.parent->children[folder.index].folder].reset();
        }
        std::string rootTail;
        appendNumbers(rootTail, m_rootStat);
        emit({}, rootTail);
        m_hash.update(m_piece);
        m_digest = m_hash.finishHex();
        return nullptr;
    }

    void emit(std::string_view name, std::string_view tail) {
        if (m_emitted++ > 0) m_piece.push_back('\n');
        m_piece.append(m_relative);
        if (!name.empty()) {
            m_piece.push_back('/');
            m_piece.append(name);
        }
        m_piece.append(tail);
        if (m_piece.size() >= kHashPiece) {
            m_hash.update(m_piece);
            m_piece.clear();
        }
    }

    static void combine(Tally& total, Tally& part) {
        total.bytes += part.bytes;
        total.files += part.files;
        if (part.modified && (!total.modified || *total.modified < *part.modified)) total.modified = part.modified;
        total.complete = total.complete && part.complete;
        for (const auto& [identity, blocks] : part.linked) {
            // Another link to a file another thread already counted.
            if (total.linked.emplace(identity, blocks).second) {
                total.files += 1;
                total.bytes += 512 * blocks;
            }
        }
        part.linked.clear();
    }

    const std::string& m_rootPath;
    const ScanCancellation& m_cancellation;
    const std::size_t m_entryLimit;
    const std::size_t m_threads;
    const bool m_spreadAtOnce;

    EntryStat m_rootStat;
    Folder m_root;
    std::vector<Tally> m_tallies;  // one per thread, combined at the end
    std::vector<std::thread> m_helpers;

    std::atomic<std::size_t> m_lines{0};           // lines taken, by all threads
    std::atomic<bool> m_stopped{false};            // cancellation or the entry limit seen
    std::atomic<std::size_t> m_pendingEntries{0};  // listed, not yet hashed
    std::atomic<std::size_t> m_openFolders{0};     // listed folders kept open, root aside
    std::atomic<std::size_t> m_preopened{0};       // folders opened ahead of their listing
    std::mutex m_descriptorLock;                   // closing a kept folder against reopening through it

    // Under m_lock.
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Folder*> m_tasks;  // pending folders, newest last
    Folder* m_needed = nullptr;    // the folder the digest waits for
    std::size_t m_listedEntries = 0;
    std::size_t m_waiting = 0;
    bool m_merging = false;
    bool m_spread = false;
    bool m_finished = false;
    bool m_failed = false;

    // Only the thread holding the digest role (m_merging) touches these.
    std::vector<MergeLevel> m_merge;
    std::string m_relative;  // relative path of the folder on top of m_merge
    std::string m_piece;
    std::size_t m_emitted = 0;
    Sha256 m_hash;
    std::string m_digest;
};

std::size_t automaticThreads() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(hardware, 1, kMaxThreads);
}

}  // namespace

void measure(const std::string& path, const ScanCancellation& cancellation, std::size_t entryLimit, std::size_t threads,
             Measurement& result) {
    try {
        const std::size_t count = threads == 0 ? automaticThreads() : threads;
        Walk walk(path, cancellation, entryLimit, count, threads != 0);
        Tally tally;
        if (!walk.inspectRoot(tally)) {
            result.complete = false;
            return;
        }
        std::optional<std::string> fingerprint = walk.run(tally);
        result.bytes = tally.bytes;
        result.files = tally.files;
        result.modified = tally.modified;
        result.complete = tally.complete && fingerprint.has_value();
        if (fingerprint) result.fingerprint = std::move(*fingerprint);
    } catch (...) {
        // Out of memory on an absurd tree: report what could not be seen rather than fail the scan.
        result.complete = false;
        result.fingerprint.clear();
    }
}

}  // namespace tarnby::FolderWalk
