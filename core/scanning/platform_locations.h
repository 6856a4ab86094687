#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/records/platform.h"
#include "core/scanning/scan_configuration.h"

namespace tarnby {

// What of the caller's environment decides where a home keeps its caches. The model and the
// command line read it once and hand it in as a value; scanning never reads the environment
// itself.
struct UserEnvironment {
    Platform platform = kHostPlatform;
    // The caller's own home folder as $HOME and as the password database give it.
    std::vector<std::string> ownHomes;
    std::optional<std::string> xdgCacheHome;  // as set, unchecked
    std::optional<std::string> xdgDataHome;
    // The variables that move a tool's cache (GOMODCACHE, CARGO_HOME…), those set, unchecked.
    std::map<std::string, std::string> cacheVariables{};

    // The running process's. Reads the environment and the password database.
    static UserEnvironment current();
};

namespace PlatformLocations {

// The cache locations beyond the four fixed ones, in the catalogue's order: on every system
// the tools' macOS locations, on Linux also the Linux ones (XDG folders, and the Linux homes
// of the Yarn, pnpm and SwiftPM caches first). The XDG folders and the variables that move a
// cache count only when `home` is one of the caller's own homes and only when they are
// absolute paths; otherwise the defaults under `home` are used. A location is left out when it
// is, lies inside or holds one listed before it (the fixed ones first), when it is `home` or
// holds it, and when it lies in a protected system location. Reads neither the disk nor the
// environment.
std::vector<CacheLocation> cacheLocations(const std::string& home, const UserEnvironment& environment);

// The paths of cacheLocations().
std::vector<std::string> cacheTargets(const std::string& home, const UserEnvironment& environment);

// The configuration of `home` and `roots` with these cache locations added.
ScanConfiguration configuration(const std::string& home, const std::vector<std::string>& roots,
                                const UserEnvironment& environment);

}  // namespace PlatformLocations
}  // namespace tarnby
