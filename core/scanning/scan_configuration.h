#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarnby {

// A package-cache location and how its item is described.
struct CacheLocation {
    std::string path;  // standardized
    std::string title;
    std::string explanation;
    std::string rebuild;
};

// Where a scan looks. Paths are stored standardized ("." and ".." removed, links not
// resolved); roots keep their order and duplicates. Nothing here touches the disk.
class ScanConfiguration {
public:
    // `platformCaches`: further cache locations of this system and user, scanned after the
    // four fixed ones (see PlatformLocations).
    ScanConfiguration(const std::string& home, const std::vector<std::string>& roots,
                      std::vector<CacheLocation> platformCaches = {});

    const std::string& home() const { return m_home; }
    const std::vector<std::string>& roots() const { return m_roots; }

    // npm, Yarn, pnpm and SwiftPM caches, always these four in this order, then the
    // further locations in their given order.
    std::vector<std::string> cacheTargets() const;
    // The same locations with their titles and texts.
    std::vector<CacheLocation> cacheLocations() const;
    // How many of cacheTargets() are the fixed locations under home.
    static constexpr std::size_t kFixedCacheCount = 4;
    std::string derivedRoot() const;
    std::string devicesRoot() const;

private:
    std::string m_home;
    std::vector<std::string> m_roots;
    std::vector<CacheLocation> m_platformCaches;
};

}  // namespace tarnby
