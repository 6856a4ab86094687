#include "core/scanning/scan_configuration.h"

#include "core/platform/paths.h"
#include "core/scanning/target_catalogue.h"

namespace tarnby {

static_assert(ScanConfiguration::kFixedCacheCount == TargetCatalogue::kFixedCaches);

ScanConfiguration::ScanConfiguration(const std::string& home, const std::vector<std::string>& roots,
                                     std::vector<CacheLocation> platformCaches)
    : m_home(paths::standardized(home)), m_platformCaches(std::move(platformCaches)) {
    m_roots.reserve(roots.size());
    for (const auto& root : roots) m_roots.push_back(paths::standardized(root));
    for (auto& cache : m_platformCaches) cache.path = paths::standardized(cache.path);
}

std::vector<std::string> ScanConfiguration::cacheTargets() const {
    std::vector<std::string> targets;
    for (const auto& location : cacheLocations()) targets.push_back(location.path);
    return targets;
}

std::vector<CacheLocation> ScanConfiguration::cacheLocations() const {
    std::vector<CacheLocation> locations;
    locations.reserve(kFixedCacheCount + m_platformCaches.size());
    for (std::size_t row = 0; row < kFixedCacheCount; ++row) {
        locations.push_back(TargetCatalogue::located(
            TargetCatalogue::kHomeCaches[row], paths::appending(m_home, TargetCatalogue::kHomeCaches[row].macOS)));
    }
    locations.insert(locations.end(), m_platformCaches.begin(), m_platformCaches.end());
    return locations;
}

std::string ScanConfiguration::derivedRoot() const {
    return paths::appending(m_home, "Library/Developer/Xcode/DerivedData");
}

std::string ScanConfiguration::devicesRoot() const {
    return paths::appending(m_home, "Library/Developer/CoreSimulator/Devices");
}

}  // namespace tarnby
