#include "core/scanning/scan_configuration.h"

#include "core/platform/paths.h"

namespace tarnby {

ScanConfiguration::ScanConfiguration(const std::string& home, const std::vector<std::string>& roots,
                                     const std::vector<std::string>& platformCaches)
    : m_home(paths::standardized(home)) {
    m_roots.reserve(roots.size());
    for (const auto& root : roots) m_roots.push_back(paths::standardized(root));
    m_platformCaches.reserve(platformCaches.size());
    for (const auto& cache : platformCaches) m_platformCaches.push_back(paths::standardized(cache));
}

std::vector<std::string> ScanConfiguration::cacheTargets() const {
    std::vector<std::string> targets{
        paths::appending(m_home, ".npm/_cacache"),
        paths::appending(m_home, "Library/Caches/Yarn"),
        paths::appending(m_home, "Library/pnpm/store"),
        paths::appending(m_home, "Library/Caches/org.swift.swiftpm"),
    };
    targets.insert(targets.end(), m_platformCaches.begin(), m_platformCaches.end());
    return targets;
}

std::string ScanConfiguration::derivedRoot() const {
    return paths::appending(m_home, "Library/Developer/Xcode/DerivedData");
}

std::string ScanConfiguration::devicesRoot() const {
    return paths::appending(m_home, "Library/Developer/CoreSimulator/Devices");
}

}  // namespace tarnby
