#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarnby {

// Where a scan looks. Paths are stored standardized ("." and ".." removed, links not
// resolved); roots keep their order and duplicates. Nothing here touches the disk.
class ScanConfiguration {
public:
    // `platformCaches`: further package-cache locations of this platform, scanned after the
    // four fixed ones (see PlatformLocations); none on macOS.
    ScanConfiguration(const std::string& home, const std::vector<std::string>& roots,
                      const std::vector<std::string>& platformCaches = {});

    const std::string& home() const { return m_home; }
    const std::vector<std::string>& roots() const { return m_roots; }

    // npm, Yarn, pnpm and SwiftPM caches, always these four in this order, then the
    // platform's further locations in their given order.
    std::vector<std::string> cacheTargets() const;
    // How many of cacheTargets() are the fixed locations under home.
    static constexpr std::size_t kFixedCacheCount = 4;
    std::string derivedRoot() const;
    std::string devicesRoot() const;

private:
    std::string m_home;
    std::vector<std::string> m_roots;
    std::vector<std::string> m_platformCaches;
};

}  // namespace tarnby
