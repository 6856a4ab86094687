#include "core/scanning/scanner.h"

#include <algorithm>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/platform/uuid.h"
#include "core/scanning/target_catalogue.h"

namespace tarnby::Scanner {

std::optional<Classification> classify(const std::string& path) {
    const std::string name = paths::lastComponent(path);
    const auto row = std::find_if(TargetCatalogue::kWalkedTargets.begin(), TargetCatalogue::kWalkedTargets.end(),
                                  [&](const TargetCatalogue::WalkedTarget& target) { return target.name == name; });
    // Every other folder of a walk ends here, without touching the disk.
    if (row == TargetCatalogue::kWalkedTargets.end()) return std::nullopt;

    const std::string parent = paths::parent(path);
    if (!fs::exists(paths::appending(parent, row->marker))) return std::nullopt;

    std::string rebuild(row->rebuild);
    if (rebuild.empty()) {
        rebuild = TargetCatalogue::kNoLockFileRebuild;
        for (const auto& lock : TargetCatalogue::kLockFiles) {
            if (fs::exists(paths::appending(parent, lock.name))) {
                rebuild = lock.rebuild;
                break;
            }
        }
    }
    return Classification{row->kind, std::string(row->explanation), std::move(rebuild)};
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
            [[fallthrough]];
        case StorageKind::dependencies: {
            const auto& roots = configuration.roots();
            const bool insideRoot = std::any_of(roots.begin(), roots.end(),
                                                [&](const std::string& root) { return paths::liesInside(url, root); });
            if (!insideRoot) return false;
            const auto classification = classify(url);
            return classification && classification->kind == item.kind;
        }
        case StorageKind::caches: {
            const auto targets = configuration.cacheTargets();
            return std::any_of(targets.begin(), targets.end(),
                               [&](const std::string& target) { return target == url; });
        }
        case StorageKind::simulators: {
            const std::string name = paths::lastComponent(url);
            return paths::parent(url) == configuration.devicesRoot() && uuid::isUUID(name) &&
                   item.deviceID.has_value() && sameDeviceID(*item.deviceID, name);
        }
    }
    return false;
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

}  // namespace tarnby::Scanner
