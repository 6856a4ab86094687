#include "core/scanning/scanner.h"

#include <fnmatch.h>

#include <algorithm>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/platform/uuid.h"
#include "core/scanning/target_catalogue.h"

namespace tarnby {

CacheLocation TargetCatalogue::located(const HomeCache& row, std::string path) {
    std::string title = row.title.empty() ? paths::lastComponent(path) : std::string(row.title);
    return {std::move(path), std::move(title), std::string(row.explanation), std::string(row.rebuild)};
}

namespace Scanner {

namespace {

std::string_view rowName(std::size_t index) { return TargetCatalogue::kWalkedTargets[index].name; }
std::string_view rowName(std::string_view name) { return name; }

// Whether `pattern` ("*.csproj", "nuxt.config.*") names an entry of `folder`. Only rows with
// a pattern list a folder; existence still follows links, so a dangling link is no marker.
bool patternExists(const std::string& folder, std::string_view pattern) {
    const auto listing = fs::listDirectory(folder, false);
    if (!listing) return false;
    const std::string text(pattern);
    return std::any_of(listing->begin(), listing->end(), [&](const fs::DirectoryEntry& entry) {
        return ::fnmatch(text.c_str(), entry.name.c_str(), FNM_PERIOD) == 0 &&
               fs::exists(paths::appending(folder, entry.name));
    });
}

bool hasMarker(const TargetCatalogue::WalkedTarget& row, const std::string& path) {
    const std::string folder = row.place == TargetCatalogue::MarkerPlace::inside ? path : paths::parent(path);
    return std::any_of(row.markers.begin(), row.markers.end(), [&](std::string_view marker) {
        if (marker.empty()) return false;
        if (marker.find('*') != std::string_view::npos) return patternExists(folder, marker);
        return fs::exists(paths::appending(folder, marker));
    });
}

}  // namespace

std::optional<Classification> classify(const std::string& path) {
    const std::string name = paths::lastComponent(path);
    const auto& byName = TargetCatalogue::kWalkedTargetsByName;
    const auto [first, last] = std::equal_range(byName.begin(), byName.end(), name,
                                                [](const auto& a, const auto& b) { return rowName(a) < rowName(b); });
    // Every other folder of a walk ends here, without touching the disk.
    for (auto index = first; index != last; ++index) {
        const auto& row = TargetCatalogue::kWalkedTargets[*index];
        if (!hasMarker(row, path)) continue;

        std::string rebuild(row.rebuild);
        if (rebuild.empty()) {
            const std::string parent = paths::parent(path);
            rebuild = TargetCatalogue::kNoLockFileRebuild;
            for (const auto& lock : TargetCatalogue::kLockFiles) {
                if (fs::exists(paths::appending(parent, lock.name))) {
                    rebuild = lock.rebuild;
                    break;
                }
            }
        }
        return Classification{row.kind, std::string(row.explanation), std::move(rebuild)};
    }
    return std::nullopt;
}

bool protectedSystemPath(const std::string& path) {
    const std::string standard = paths::standardized(path);
    return std::any_of(
        TargetCatalogue::kProtectedLocations.begin(), TargetCatalogue::kProtectedLocations.end(),
        [&](std::string_view location) { return standard == location || paths::liesInside(standard, location); });
}

namespace {

bool recognizedUnguarded(const StorageItem& item, const ScanConfiguration& configuration) {
    if (!FileInspection::safePath(item.url)) return false;
    const std::string url = paths::standardized(item.url);
    if (protectedSystemPath(url)) return false;

    // The configuration holds its paths standardized already.
    switch (item.kind) {
        case StorageKind::builds:
            if (paths::parent(url) == configuration.derivedRoot()) return true;
            break;
        case StorageKind::caches: {
            const auto targets = configuration.cacheTargets();
            if (std::find(targets.begin(), targets.end(), url) != targets.end()) return true;
            break;
        }
        case StorageKind::simulators: {
            const std::string name = paths::lastComponent(url);
            return paths::parent(url) == configuration.devicesRoot() && uuid::isUUID(name) &&
                   item.deviceID.has_value() && sameDeviceID(*item.deviceID, name);
        }
        case StorageKind::dependencies: break;
    }
    // A folder found in a project: inside a root, and still of the same kind.
    const auto& roots = configuration.roots();
    const bool insideRoot =
        std::any_of(roots.begin(), roots.end(), [&](const std::string& root) { return paths::liesInside(url, root); });
    if (!insideRoot) return false;
    const auto classification = classify(url);
    return classification && classification->kind == item.kind;
}

}  // namespace

bool recognized(const StorageItem& item, const ScanConfiguration& configuration) {
    // Only allocation can fail here; an item that cannot be confirmed is not a target.
    try {
        return recognizedUnguarded(item, configuration);
    } catch (...) {
        return false;
    }
}

}  // namespace Scanner
}  // namespace tarnby
