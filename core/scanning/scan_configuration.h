#pragma once

#include <string>
#include <vector>

namespace tarnby {

// Where a scan looks. Paths are stored standardized ("." and ".." removed, links not
// resolved); roots keep their order and duplicates. Nothing here touches the disk.
class ScanConfiguration {
public:
    ScanConfiguration(const std::string& home, const std::vector<std::string>& roots);

    const std::string& home() const { return m_home; }
    const std::vector<std::string>& roots() const { return m_roots; }

    // npm, Yarn, pnpm and SwiftPM caches, always these four in this order.
    std::vector<std::string> cacheTargets() const;
    std::string derivedRoot() const;
    std::string devicesRoot() const;

private:
    std::string m_home;
    std::vector<std::string> m_roots;
};

}  // namespace tarnby
