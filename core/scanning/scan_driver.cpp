#include "core/scanning/scanner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/platform/plist.h"
#include "core/platform/uuid.h"
#include "core/scanning/folder_walk.h"
#include "core/scanning/project_walk.h"
#include "core/scanning/target_catalogue.h"

namespace tarnby::Scanner {

namespace {

// Character count of UTF-8 path text: every byte that does not continue a sequence.
std::size_t scalarCount(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool walkSkipsName(std::string_view name) { return name == ".git" || name == ".Trash" || name == "Library"; }

// One finding's measurement as the pool makes it. Made: measured, possibly cut short by a
// stop. Skipped: the stop came before it started, so it is not listed at all.
struct Slot {
    enum class State { waiting, measuring, made, skipped };
    State state = State::waiting;  // under the pool's lock
    Measurement measurement;       // read once made
};

// Measures the scan's findings beside the walk that finds them, so the walk never waits for a
// measurement and several targets are measured at once, in the order they were found. With no
// workers, each measurement is made at once on the scanning thread.
class MeasurementPool {
public:
    MeasurementPool(const ScanCancellation& cancellation, std::size_t entryLimit, std::size_t workers,
                    std::size_t threadsPerMeasurement)
        : m_cancellation(cancellation),
          m_entryLimit(entryLimit),
          m_workers(workers),
          m_threadsPerMeasurement(threadsPerMeasurement) {}

    ~MeasurementPool() { finish(); }
    MeasurementPool(const MeasurementPool&) = delete;
    MeasurementPool& operator=(const MeasurementPool&) = delete;

    // Starts measuring `path` into a slot that stays valid for the pool's life.
    Slot* submit(std::string path) {
        Slot* slot = nullptr;
        {
            std::lock_guard guard(m_lock);
            slot = &m_slots.emplace_back();
            m_jobs.push_back({std::move(path), slot});
        }
        if (m_workers == 0) {
            runAll();
            return slot;
        }
        m_wake.notify_one();
        if (m_threads.size() < m_workers) {
            try {
                m_threads.emplace_back(&MeasurementPool::work, this);
            } catch (const std::system_error&) {
                if (m_threads.empty()) runAll();  // no thread at all: measure here
            }
        }
        return slot;
    }

    // Whether the slot is made or skipped; with `wait`, waits until it is.
    bool settled(const Slot& slot, bool wait) {
        std::unique_lock lock(m_lock);
        const auto over = [&] { return slot.state == Slot::State::made || slot.state == Slot::State::skipped; };
        if (wait) m_settled.wait(lock, over);
        return over();
    }

    // How many slots are made or skipped: a cheap test for whether anything changed.
    std::size_t settledCount() const { return m_settledCount.load(std::memory_order_acquire); }

    // Waits until every submitted measurement is made or skipped.
    void finish() {
        {
            std::lock_guard guard(m_lock);
            m_closed = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) thread.join();
        m_threads.clear();
        runAll();
    }

private:
    struct Job {
        std::string path;
        Slot* slot = nullptr;
    };

    void work() {
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [&] { return m_closed || !m_jobs.empty(); });
            if (m_jobs.empty()) return;
            runOne(lock);
        }
    }

    // Jobs no thread took, measured on this one.
    void runAll() {
        std::unique_lock lock(m_lock);
        while (!m_jobs.empty()) runOne(lock);
    }

    // With the lock held and a job waiting. A queued measurement not started before a stop
    // never is; on the scanning thread alone, the one just found is started as it always was,
    // and the measurement itself sees the stop.
    void runOne(std::unique_lock<std::mutex>& lock) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const bool skip = m_workers > 0 && m_cancellation.isCancelled();
        job.slot->state = skip ? Slot::State::skipped : Slot::State::measuring;
        if (!skip) {
            lock.unlock();
            Measurement made = FileInspection::measure(job.path, m_cancellation, m_entryLimit, m_threadsPerMeasurement);
            lock.lock();
            job.slot->measurement = std::move(made);
            job.slot->state = Slot::State::made;
        }
        m_settledCount.fetch_add(1, std::memory_order_release);
        m_settled.notify_all();
    }

    const ScanCancellation& m_cancellation;
    const std::size_t m_entryLimit;
    const std::size_t m_workers;
    const std::size_t m_threadsPerMeasurement;
    std::vector<std::thread> m_threads;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_settled;
    std::deque<Slot> m_slots;  // a deque, so slots never move while threads fill them
    std::deque<Job> m_jobs;
    std::atomic<std::size_t> m_settledCount{0};
    bool m_closed = false;
};

std::unordered_set<std::string> pathSet(const std::vector<std::string>& paths) { return {paths.begin(), paths.end()}; }

std::size_t poolWorkers(std::size_t threads) {
    if (threads == 1) return 0;
    if (threads > 1) return threads;
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, FolderWalk::kMaxThreads);
}

// One call of scan(): the result under construction and the paths already recorded.
class ScanRun {
public:
    ScanRun(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
            const ScanCancellation& cancellation, const Progress& progress, const Measured& measured,
            const ScanLimits& limits)
        : m_configuration(configuration),
          m_devices(devices),
          m_cancellation(cancellation),
          m_progress(progress),
          m_measured(measured),
          m_limits(limits),
          m_cacheTargets(pathSet(configuration.cacheTargets())),
          m_pool(cancellation, limits.measuredEntries, poolWorkers(limits.threads), limits.threads) {}

    ScanResult run() {
        try {
            walkProjectRoots();
            scanCaches();
            scanDerivedData();
            scanDevices();
        } catch (...) {
            // Out of memory, or a progress callback that threw: keep what was found.
        }
        try {
            deliver(true);
        } catch (...) {}
        m_pool.finish();
        try {
            settle();
            m_result.cancelled = m_cancellation.isCancelled();
            // Stable, so equal sizes keep phase and walking order.
            std::stable_sort(
                m_result.items.begin(), m_result.items.end(),
                [](const StorageItem& a, const StorageItem& b) { return a.measurement.bytes > b.measurement.bytes; });
        } catch (...) {}
        return std::move(m_result);
    }

private:
    struct Found {
        StorageItem item;
        Slot* slot = nullptr;
    };

    // A note as it arose; for an item, whether it is needed is only known once it is measured.
    struct PendingNote {
        std::string text;
        std::size_t item = SIZE_MAX;  // index into the items, for "Could not fully inspect"
    };

    void note(std::string text) { m_notes.push_back({std::move(text)}); }

    void report(const std::string& text) {
        if (m_progress) m_progress(text);
    }

    bool cancelled() const { return m_cancellation.isCancelled(); }

    // Adds the item, whose measurement `slot` is being made, and the place of its note for
    // when that measurement cannot see everything. Nothing is added when memory runs out.
    void append(StorageItem item, Slot* slot) {
        if (m_notes.size() == m_notes.capacity()) m_notes.reserve(2 * m_notes.size() + 1);
        m_found.push_back({std::move(item), slot});
        m_notes.push_back({{}, m_found.size() - 1});  // room reserved above: cannot throw
        deliver(false);
    }

    // Hands each item whose measurement is made to `m_measured`, in the order the items were
    // found; with `wait`, every item, waiting for each. An item skipped at a stop is passed over.
    void deliver(bool wait) {
        if (!wait && m_pool.settledCount() == m_settledSeen) return;
        m_settledSeen = m_pool.settledCount();
        for (; m_delivered < m_found.size(); ++m_delivered) {
            Found& found = m_found[m_delivered];
            if (!m_pool.settled(*found.slot, wait)) return;
            if (found.slot->state != Slot::State::made) continue;
            found.item.measurement = std::move(found.slot->measurement);
            if (!m_measured) continue;
            try {
                m_measured(found.item);
            } catch (...) {
                m_measured = nullptr;  // a receiver that failed gets nothing more; the scan goes on
            }
        }
    }

    // Once every measurement is made or skipped: the items measured, and notes in their final order.
    void settle() {
        deliver(true);
        for (PendingNote& pending : m_notes) {
            if (pending.item == SIZE_MAX) {
                m_result.notes.push_back(std::move(pending.text));
                continue;
            }
            const Found& found = m_found[pending.item];
            if (found.slot->state == Slot::State::made && !found.item.measurement.complete) {
                m_result.notes.push_back("Could not fully inspect " + found.item.url +
                                         ". Cleanup disabled for this item.");
            }
        }
        m_result.items.reserve(m_found.size());
        for (Found& found : m_found) {
            if (found.slot->state == Slot::State::made) m_result.items.push_back(std::move(found.item));
        }
    }

    // The shared checks before a candidate becomes an item. Gives the standardized path and the
    // slot its measurement is being made in, or nothing when the candidate is passed over.
    std::optional<std::pair<std::string, Slot*>> inspect(const std::string& path) {
        if (!fs::exists(path) || !FileInspection::safePath(path) || cancelled()) return std::nullopt;
        std::string standard = paths::standardized(path);
        if (!m_seen.insert(standard).second) return std::nullopt;
        report("Inspecting " + paths::lastComponent(standard));
        Slot* slot = m_pool.submit(standard);
        return std::make_pair(std::move(standard), slot);
    }

    void walkProjectRoots() {
        std::vector<std::string> roots;
        roots.reserve(m_configuration.roots().size());
        for (const auto& root : m_configuration.roots()) roots.push_back(paths::standardized(root));
        // Shortest first, so a root nested in another is met after it and walked only once.
        std::stable_sort(roots.begin(), roots.end(),
                         [](const std::string& a, const std::string& b) { return scalarCount(a) < scalarCount(b); });

        std::vector<std::string> accepted;
        for (const auto& root : roots) {
            if (cancelled()) return;
            if (!FileInspection::safePath(root)) continue;
            const bool covered = std::any_of(accepted.begin(), accepted.end(), [&](const std::string& done) {
                return root == done || paths::liesInside(root, done);
            });
            if (covered) continue;
            if (root == "/" || protectedSystemPath(root)) {
                note("Choose a project folder instead of a system location: " + root);
                continue;
            }
            accepted.push_back(root);
            try {
                walkRoot(root);
            } catch (const std::bad_alloc&) {
                // A tree too large to hold its listings: give up on this root, not the scan.
                note("Skipped " + root + ": " + fs::describeErrno(ENOMEM));
            }
        }
    }

    void walkRoot(const std::string& root) {
        const std::size_t namesNeeded =
            m_limits.rootEntries < SIZE_MAX ? m_limits.rootEntries + 1 : m_limits.rootEntries;
        ProjectWalk walk(
            root,
            [this](const std::string& path, int error) { note("Skipped " + path + ": " + fs::describeErrno(error)); },
            namesNeeded);
        if (walk.failed()) {
            note("Could not read " + root);
            return;
        }
        const std::string rootName = paths::lastComponent(root);
        std::size_t counter = 0;
        for (;;) {
            deliver(false);
            // Checked before asking for the next entry, which may open a folder.
            if (cancelled()) return;
            const ProjectWalk::Entry* entry = walk.next();
            if (entry == nullptr) return;

            ++counter;
            if (m_limits.progressInterval > 0 && counter % m_limits.progressInterval == 0) {
                report("Looking through " + rootName + "\u2026 " + std::to_string(counter) + " entries checked");
            }
            if (counter > m_limits.rootEntries) {
                note("Project traversal limit reached for " + root + ". Add a more specific folder.");
                return;
            }

            if (entry->type == fs::EntryType::symlink || protectedSystemPath(entry->path) ||
                walkSkipsName(entry->name)) {
                walk.skipDescendants();
                continue;
            }
            if (entry->type != fs::EntryType::directory) continue;
            if (entry->path.size() >= PATH_MAX) {
                // Nothing below could be checked, measured or planned by path; say so once here
                // instead of walking a subtree that can only give silent misses.
                note("Skipped " + entry->path + ": " + fs::describeErrno(ENAMETOOLONG));
                walk.skipDescendants();
                continue;
            }

            if (m_cacheTargets.count(entry->path) != 0) {
                // A cache holds unpacked projects, markers and all; phase 2 reports it whole.
                walk.skipDescendants();
                continue;
            }
            auto classification = classify(entry->path);
            if (!classification) continue;

            // Nothing inside a target is reported separately, whatever becomes of the target.
            walk.skipDescendants();
            std::string title = paths::lastComponent(paths::parent(entry->path)) + " / " + entry->name;
            auto inspected = inspect(entry->path);
            if (!inspected) continue;
            append(StorageItem{std::move(inspected->first), classification->kind, std::move(title),
                               std::move(classification->explanation), std::move(classification->rebuild),
                               Measurement{}, std::nullopt, std::nullopt, std::nullopt},
                   inspected->second);
        }
    }

    void scanCaches() {
        auto locations = m_configuration.cacheLocations();
        std::set<fs::FileIdentity> scanned;
        for (std::size_t index = 0; index < locations.size(); ++index) {
            CacheLocation& location = locations[index];
            // A platform location may name a folder already scanned by another path text (a bind
            // mount, a file system that ignores letter case). Links never pass safePath, so this
            // is the folder's own identity.
            const auto identity = fs::identity(location.path);
            if (index >= ScanConfiguration::kFixedCacheCount && identity && scanned.count(*identity) != 0) continue;
            auto inspected = inspect(location.path);
            if (!inspected) continue;
            if (identity) scanned.insert(*identity);
            append(StorageItem{std::move(inspected->first), StorageKind::caches, std::move(location.title),
                               std::move(location.explanation), std::move(location.rebuild), Measurement{},
                               std::nullopt, std::nullopt, std::nullopt},
                   inspected->second);
        }
    }

    void scanDerivedData() {
        const std::string root = m_configuration.derivedRoot();
        const auto listing = fs::listDirectory(root, false);
        if (!listing) return;
        for (const auto& entry : *listing) {
            // A link to a folder is not a folder here.
            if (entry.type != fs::EntryType::directory) continue;
            auto inspected = inspect(paths::appending(root, entry.name));
            if (!inspected) continue;
            append(StorageItem{std::move(inspected->first), StorageKind::builds, entry.name,
                               std::string(TargetCatalogue::kDerivedDataExplanation),
                               std::string(TargetCatalogue::kDerivedDataRebuild), Measurement{}, std::nullopt,
                               std::nullopt, std::nullopt},
                   inspected->second);
        }
    }

    const SimulatorDevice* listedDevice(std::string_view folderName) const {
        if (!m_devices) return nullptr;
        const auto found = std::find_if(m_devices->begin(), m_devices->end(), [&](const SimulatorDevice& device) {
            return sameDeviceID(device.udid, folderName);
        });
        return found == m_devices->end() ? nullptr : &*found;
    }

    void scanDevices() {
        const std::string root = m_configuration.devicesRoot();
        const auto listing = fs::listDirectory(root, false);
        if (!listing) return;
        for (const auto& entry : *listing) {
            // Passes over the device set's own files, which are not named by UUID.
            if (!uuid::isUUID(entry.name)) continue;

            std::string title;
            std::optional<std::string> deviceID;
            std::optional<std::string> protection;
            if (const SimulatorDevice* device = listedDevice(entry.name)) {
                title = device->name;
                deviceID = device->udid;
                if (device->state != kShutdownState) {
                    protection = std::string(TargetCatalogue::kInUseProtection);
                }
            } else {
                // A UUID is ASCII, so eight bytes are eight characters.
                title = std::string(TargetCatalogue::kUnlistedSimulatorTitlePrefix) + entry.name.substr(0, 8);
                deviceID = entry.name;
                protection = std::string(TargetCatalogue::kNoInventoryProtection);
            }

            auto inspected = inspect(paths::appending(root, entry.name));
            if (!inspected) continue;
            auto lastBoot = plist::dateValue(paths::appending(inspected->first, "device.plist"), "lastBootedAt");
            append(StorageItem{std::move(inspected->first), StorageKind::simulators, std::move(title),
                               std::string(TargetCatalogue::kSimulatorExplanation),
                               std::string(TargetCatalogue::kSimulatorRebuild), Measurement{}, std::move(deviceID),
                               lastBoot, std::move(protection)},
                   inspected->second);
        }
    }

    const ScanConfiguration& m_configuration;
    const std::optional<std::vector<SimulatorDevice>>& m_devices;
    const ScanCancellation& m_cancellation;
    const Progress& m_progress;
    Measured m_measured;
    const ScanLimits& m_limits;
    ScanResult m_result;
    std::vector<Found> m_found;   // every item found, in order, with the slot of its measurement
    std::size_t m_delivered = 0;  // items before this one have been delivered or passed over
    std::size_t m_settledSeen = 0;
    std::vector<PendingNote> m_notes;
    std::unordered_set<std::string> m_seen;  // standardized paths of recorded items, all phases
    const std::unordered_set<std::string> m_cacheTargets;
    MeasurementPool m_pool;  // last, so it finishes before what its slots feed is gone
};

}  // namespace

ScanResult scan(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
                const ScanCancellation& cancellation, const Progress& progress, const ScanLimits& limits) {
    return scan(configuration, devices, cancellation, progress, Measured(), limits);
}

ScanResult scan(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
                const ScanCancellation& cancellation, const Progress& progress, const Measured& measured,
                const ScanLimits& limits) {
    try {
        return ScanRun(configuration, devices, cancellation, progress, measured, limits).run();
    } catch (...) {
        // Only the result's own allocation can get here.
        ScanResult result;
        try {
            result.cancelled = cancellation.isCancelled();
        } catch (...) {}
        return result;
    }
}

}  // namespace tarnby::Scanner
