#include "core/scanning/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/platform/file_system.h"
#include "core/platform/folder_listing.h"
#include "core/scanning/ordered_digest.h"
#include "core/scanning/walk_tally.h"
#include "core/scanning/walk_tree.h"

namespace tarnby::FolderWalk {

namespace {

using walk::Child;
using walk::EntryStat;
using walk::Folder;
using walk::FolderState;
using walk::Tally;

// Below this many listed entries a measurement stays on the calling thread: starting threads
// costs more than a small folder takes.
constexpr std::size_t kSpreadAfterEntries = 4096;

// Entries listed but not yet hashed beyond which helpers stop taking new folders and only the
// folder the digest waits for is listed. Bounds memory (about 100 bytes an entry) whatever
// the thread count.
constexpr std::size_t kPendingBudget = 100'000;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// Files below this are not asked how many of their bytes are their own: a clone saves little
// there, and the question costs a system call per file.
constexpr std::int64_t kPrivateBytesFrom = 64 * 1024;

FolderIdentity identityOf(const EntryStat& entry) { return {entry.device, entry.inode}; }

// Lists folders on any number of threads, each folder by one, depth first, while whichever
// thread is free advances the ordered digest (one at a time) over what has been listed.
class Walk {
public:
    Walk(const std::string& rootPath, const ScanCancellation& cancellation, const Limits& limits, std::size_t threads)
        : m_rootPath(rootPath),
          m_cancellation(cancellation),
          m_entryLimit(limits.entries),
          m_threads(threads),
          m_spreadAtOnce(limits.threads != 0),
          m_descriptors(limits.descriptors),
          m_tallies(threads) {}

    ~Walk() {
        for (std::thread& helper : m_helpers) {
            if (helper.joinable()) helper.join();
        }
        // Only a walk that failed leaves folders behind. Freed children first (a folder's
        // parent outlives it) and without recursing once per level of a deep tree.
        std::vector<std::unique_ptr<Folder>> left = std::move(m_root.subfolders);
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (!left[i]) continue;
            for (auto& sub : left[i]->subfolders) left.push_back(std::move(sub));
        }
        while (!left.empty()) left.pop_back();
    }

    const Folder& root() const { return m_root; }
    std::vector<std::int64_t>& childBytes() { return m_childBytes; }

    // Inspects the root itself; false when it is not a folder that can be walked.
    bool inspectRoot(Tally& tally) {
        struct stat info {};
        if (::lstat(m_rootPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        m_rootStat = walk::entryStat(info);
        tally.noteModified(m_rootStat);
        return true;
    }

    // Walks everything below the root and returns the digest; nothing when the root cannot be
    // opened or the walk ran out of memory. `tally` receives every thread's counts.
    std::optional<std::string> run(Tally& tally) {
        // A root replaced between the inspection and the open is refused: what we would walk
        // is not what we saw.
        if (!m_descriptors.openRoot(m_root.descriptor, m_rootPath, false, identityOf(m_rootStat))) return std::nullopt;
        m_digest.emplace(m_root, m_rootStat);
        m_tasks.push_back(&m_root);
        m_needed = &m_root;
        m_lines = 1;  // the root's own

        work(0);
        for (std::thread& helper : m_helpers) helper.join();
        m_helpers.clear();

        for (Tally& part : m_tallies) tally.combine(part);
        if (m_failed || !m_finished) return std::nullopt;
        return std::move(m_digest->result());
    }

private:
    // What one thread reuses from folder to folder.
    struct Scratch {
        FolderListing listing;
        std::vector<std::pair<FolderDescriptors::Folder*, int>> ahead;  // subfolders opened while listed
    };

    void work(std::size_t thread) {
        Tally& tally = m_tallies[thread];
        std::unique_lock lock(m_lock);
        std::optional<Scratch> scratch;
        try {
            scratch.emplace();  // its listing buffer too may find the memory gone
            for (;;) {
                if (m_finished || m_failed) break;
                if (!m_merging && ready(m_needed)) {
                    m_merging = true;
                    m_needed = nullptr;  // the digest frees folders as it goes, this one first
                    lock.unlock();
                    Folder* waitingFor = m_digest->advance([this](Folder& folder) { finished(folder); });
                    lock.lock();
                    m_merging = false;
                    m_needed = waitingFor;
                    if (waitingFor == nullptr) m_finished = true;
                    wake();
                    continue;
                }
                if (Folder* folder = take()) {
                    lock.unlock();
                    const bool listed = list(*folder, tally, *scratch);
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
            if (scratch) {
                for (const auto& [folder, fd] : scratch->ahead) ::close(fd);
            }
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
    bool list(Folder& folder, Tally& tally, Scratch& scratch) {
        // Only the folder that was listed in its parent is entered, never through a link.
        const int fd = m_descriptors.acquire(folder.descriptor);
        if (fd < 0) {
            tally.complete = false;
            return false;
        }
        const bool isRoot = &folder == &m_root;
        auto& ahead = scratch.ahead;
        ahead.clear();
        const int error = scratch.listing.list(fd, [&](const char* name, unsigned char type) {
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
            int opened = -1;
            if (type == DT_DIR && m_descriptors.reserveAhead()) {
                opened = openAhead(fd, name, info);
                if (opened < 0) m_descriptors.unreserveAhead();
            }
            // Closed here should memory run out before `ahead` holds it.
            const auto closeOpened = [](const int* descriptor) {
                if (*descriptor >= 0) ::close(*descriptor);
            };
            const std::unique_ptr<int, decltype(closeOpened)> unheld(&opened, closeOpened);
            if (opened < 0 && ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                m_lines.fetch_sub(1, std::memory_order_relaxed);
                tally.complete = false;  // vanished or unreadable: it contributes nothing
                return true;
            }
            const std::size_t length = std::strlen(name);
            const EntryStat stat = walk::entryStat(info);
            Child child;
            child.nameOffset = static_cast<std::uint32_t>(folder.names.size());
            child.nameLength = static_cast<std::uint32_t>(length);
            folder.names.append(name, length);
            walk::appendNumbers(folder.tails, stat);
            child.tailEnd = static_cast<std::uint32_t>(folder.tails.size());
            tally.noteModified(stat);
            const auto index = static_cast<std::uint32_t>(folder.children.size());
            const auto blocks = static_cast<std::int64_t>(info.st_blocks);
            std::int64_t single = 0;
            if (S_ISDIR(info.st_mode)) {
                child.folder = static_cast<std::uint32_t>(folder.subfolders.size());
                auto sub = std::make_unique<Folder>();
                sub->parent = &folder;
                sub->index = index;
                sub->top = isRoot ? index : folder.top;
                sub->descriptor.parent = &folder.descriptor;
                sub->descriptor.identity = identityOf(stat);
                if (opened >= 0) {
                    ahead.emplace_back(&sub->descriptor, opened);
                    opened = -1;  // `ahead` holds it now
                }
                folder.subfolders.push_back(std::move(sub));
            } else if (info.st_nlink > 1) {
                tally.addLinked({stat.device, stat.inode}, blocks, static_cast<std::uint32_t>(info.st_nlink),
                                isRoot ? index : folder.top);
            } else {
                single = 512 * blocks;
                tally.addSingle(blocks, S_ISREG(info.st_mode) ? freedBytes(fd, name, single) : single);
            }
            folder.children.push_back(child);
            if (isRoot) {
                m_childBytes.push_back(single);
            } else {
                folder.ownBytes += single;
            }
            return true;
        });
        if (error != 0) tally.complete = false;
        // Names are final now that the listing no longer grows their buffer.
        for (const auto& sub : folder.subfolders) sub->descriptor.name = sub->name();
        m_descriptors.adopt(ahead);
        ahead.clear();
        m_descriptors.release(folder.descriptor);
        walk::sortForDigest(folder);
        return true;
    }

    // Opens the listed folder `name` of `parentFd` and reads its line from it: one name lookup
    // instead of two (a stat now, an open later). The descriptor, or -1 (unreadable, or no
    // longer a folder): the caller then stats it by name.
    static int openAhead(int parentFd, const char* name, struct stat& info) {
        const int fd = ::openat(parentFd, name, kFolderFlags);
        if (fd < 0) return -1;
        if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // What removing a file with one link frees: its blocks, unless the file system says it
    // shares some with clones. Asked only of files large enough for that to matter.
    static std::int64_t freedBytes(int folderFd, const char* name, std::int64_t allocated) {
        if constexpr (fs::kKnowsPrivateBytes) {
            if (allocated >= kPrivateBytesFrom) return fs::privateBytes(folderFd, name).value_or(allocated);
        }
        return allocated;
    }

    // The digest is through with `folder`: its entries no longer wait, its files count for the
    // root's child it lies in, and the walk goes on in its parent.
    void finished(Folder& folder) {
        m_pendingEntries.fetch_sub(folder.children.size(), std::memory_order_relaxed);
        if (&folder == &m_root || folder.state.load(std::memory_order_relaxed) != FolderState::listed) return;
        m_childBytes[folder.top] += folder.ownBytes;
        if (!m_stopped.load(std::memory_order_relaxed)) m_descriptors.leave(folder.descriptor);
    }

    const std::string& m_rootPath;
    const ScanCancellation& m_cancellation;
    const std::size_t m_entryLimit;
    const std::size_t m_threads;
    const bool m_spreadAtOnce;

    FolderDescriptors m_descriptors;  // before the folders, which close theirs as they go
    EntryStat m_rootStat;
    Folder m_root;
    std::optional<walk::OrderedDigest> m_digest;
    std::vector<Tally> m_tallies;            // one per thread, combined at the end
    std::vector<std::int64_t> m_childBytes;  // per child of the root; by the root's lister, then the digest
    std::vector<std::thread> m_helpers;

    std::atomic<std::size_t> m_lines{0};           // lines taken, by all threads
    std::atomic<bool> m_stopped{false};            // cancellation or the entry limit seen
    std::atomic<std::size_t> m_pendingEntries{0};  // listed, not yet hashed

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
};

std::size_t automaticThreads() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(hardware, 1, kMaxThreads);
}

}  // namespace

void measure(const std::string& path, const ScanCancellation& cancellation, const Limits& limits, Measurement& result) {
    try {
        const std::size_t threads = limits.threads == 0 ? automaticThreads() : limits.threads;
        Walk walk(path, cancellation, limits, threads);
        Tally tally;
        if (!walk.inspectRoot(tally)) {
            result.complete = false;
            return;
        }
        std::optional<std::string> fingerprint = walk.run(tally);
        walk::settle(tally, walk.root(), walk.childBytes(), limits.sharedLinks, result);
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
