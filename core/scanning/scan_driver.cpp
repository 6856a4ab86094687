#include "core/scanning/scanner.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>
#include <set>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/platform/plist.h"
#include "core/platform/uuid.h"
#include "core/scanning/project_walk.h"
#include "core/scanning/target_catalogue.h"

namespace tarnby::Scanner {

namespace {

// Character count of UTF-8 path text: every byte that does not continue a sequence.
std::size_t scalarCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool walkSkipsName(std::string_view name) { return name == ".git" || name == ".Trash" || name == "Library"; }

// One call of scan(): the result under construction and the paths already recorded.
class ScanRun {
public:
    ScanRun(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
            const ScanCancellation& cancellation, const Progress& progress, const ScanLimits& limits)
        : m_configuration(configuration),
          m_devices(devices),
          m_cancellation(cancellation),
          m_progress(progress),
          m_limits(limits) {}

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
            m_result.cancelled = m_cancellation.isCancelled();
            // Stable, so equal sizes keep phase and walking order.
            std::stable_sort(m_result.items.begin(), m_result.items.end(),
                             [](const StorageItem& a, const StorageItem& b) {
                                 return a.measurement.bytes > b.measurement.bytes;
                             });
        } catch (...) {
        }
        return std::move(m_result);
    }

private:
    void note(std::string text) { m_result.notes.push_back(std::move(text)); }

    void report(const std::string& text) {
        if (m_progress) m_progress(text);
    }

    bool cancelled() const { return m_cancellation.isCancelled(); }

    // Adds the item, with a note when its measurement could not see everything.
    void append(StorageItem item) {
        const bool incomplete = !item.measurement.complete;
        const std::string path = item.url;
        m_result.items.push_back(std::move(item));
        if (incomplete) note("Could not fully inspect " + path + ". Cleanup disabled for this item.");
    }

    // The shared checks before a candidate becomes an item. Gives the standardized path and its
    // measurement, or nothing when the candidate is passed over.
    std::optional<std::pair<std::string, Measurement>> inspect(const std::string& path) {
        if (!fs::exists(path) || !FileInspection::safePath(path) || cancelled()) return std::nullopt;
        std::string standard = paths::standardized(path);
        if (!m_seen.insert(standard).second) return std::nullopt;
        report("Inspecting " + paths::lastComponent(standard));
        Measurement measurement = FileInspection::measure(standard, m_cancellation, m_limits.measuredEntries);
        return std::make_pair(std::move(standard), std::move(measurement));
    }

    void walkProjectRoots() {
        std::vector<std::string> roots;
        roots.reserve(m_configuration.roots().size());
        for (const auto& root : m_configuration.roots()) roots.push_back(paths::standardized(root));
        // Shortest first, so a root nested in another is met after it and walked only once.
        std::stable_sort(roots.begin(), roots.end(), [](const std::string& a, const std::string& b) {
            return scalarCount(a) < scalarCount(b);
        });

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
            root, [this](const std::string& path, int error) { note("Skipped " + path + ": " + fs::describeErrno(error)); },
            namesNeeded);
        if (walk.failed()) {
            note("Could not read " + root);
            return;
        }
        const std::string rootName = paths::lastComponent(root);
        std::size_t counter = 0;
        for (;;) {
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

            auto classification = classify(entry->path);
            if (!classification) continue;

            // Nothing inside a target is reported separately, whatever becomes of the target.
            walk.skipDescendants();
            std::string title = paths::lastComponent(paths::parent(entry->path)) + " / " + entry->name;
            auto inspected = inspect(entry->path);
            if (!inspected) continue;
            append(StorageItem{std::move(inspected->first), classification->kind, std::move(title),
                               std::move(classification->explanation), std::move(classification->rebuild),
                               std::move(inspected->second), std::nullopt, std::nullopt, std::nullopt});
        }
    }

    void scanCaches() {
        const auto targets = m_configuration.cacheTargets();
        std::set<fs::FileIdentity> scanned;
        for (std::size_t index = 0; index < targets.size(); ++index) {
            // A platform location may name a folder already scanned by another path text (a bind
            // mount, a file system that ignores letter case). Links never pass safePath, so this
            // is the folder's own identity.
            const auto identity = fs::identity(targets[index]);
            if (index >= ScanConfiguration::kFixedCacheCount && identity && scanned.count(*identity) != 0) continue;
            auto inspected = inspect(targets[index]);
            if (!inspected) continue;
            if (identity) scanned.insert(*identity);
            std::string title = paths::lastComponent(inspected->first);
            append(StorageItem{std::move(inspected->first), StorageKind::caches, std::move(title),
                               std::string(TargetCatalogue::kCacheExplanation),
                               std::string(TargetCatalogue::kCacheRebuild), std::move(inspected->second),
                               std::nullopt, std::nullopt, std::nullopt});
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
                               std::string(TargetCatalogue::kDerivedDataRebuild), std::move(inspected->second),
                               std::nullopt, std::nullopt, std::nullopt});
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
                               std::string(TargetCatalogue::kSimulatorRebuild), std::move(inspected->second),
                               std::move(deviceID), lastBoot, std::move(protection)});
        }
    }

    const ScanConfiguration& m_configuration;
    const std::optional<std::vector<SimulatorDevice>>& m_devices;
    const ScanCancellation& m_cancellation;
    const Progress& m_progress;
    const ScanLimits& m_limits;
    ScanResult m_result;
    std::unordered_set<std::string> m_seen;  // standardized paths of recorded items, all phases
};

}  // namespace

ScanResult scan(const ScanConfiguration& configuration, const std::optional<std::vector<SimulatorDevice>>& devices,
                const ScanCancellation& cancellation, const Progress& progress, const ScanLimits& limits) {
    try {
        return ScanRun(configuration, devices, cancellation, progress, limits).run();
    } catch (...) {
        // Only the result's own allocation can get here.
        ScanResult result;
        try {
            result.cancelled = cancellation.isCancelled();
        } catch (...) {
        }
        return result;
    }
}

}  // namespace tarnby::Scanner
