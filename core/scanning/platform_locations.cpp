#include "core/scanning/platform_locations.h"

#include <algorithm>
#include <cstdlib>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/scanning/scanner.h"

namespace tarnby {

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// The XDG base directory rules: an unset, empty or relative value means the default.
std::string baseFolder(const std::optional<std::string>& value, bool useValue, const std::string& fallback) {
    if (useValue && value && !value->empty() && value->front() == '/') return paths::standardized(*value);
    return fallback;
}

}  // namespace

UserEnvironment UserEnvironment::current() {
    UserEnvironment environment;
    if (auto home = variable("HOME"); home && !home->empty() && home->front() == '/') {
        environment.ownHomes.push_back(paths::standardized(*home));
    }
    if (auto home = fs::passwordDatabaseHome()) environment.ownHomes.push_back(std::move(*home));
    environment.xdgCacheHome = variable("XDG_CACHE_HOME");
    environment.xdgDataHome = variable("XDG_DATA_HOME");
    return environment;
}

namespace PlatformLocations {

std::vector<std::string> cacheTargets(const std::string& home, const UserEnvironment& environment) {
    if (environment.platform != Platform::linuxDesktop) return {};
    const std::string standardHome = paths::standardized(home);
    // Another user's home (or a copy of one) is read with the defaults: the caller's XDG
    // variables describe the caller's own home only. Compared as path text, like every path.
    const bool ownHome = std::any_of(environment.ownHomes.begin(), environment.ownHomes.end(),
                                     [&](const std::string& own) { return paths::standardized(own) == standardHome; });
    const std::string cacheHome =
        baseFolder(environment.xdgCacheHome, ownHome, paths::appending(standardHome, ".cache"));
    const std::string dataHome =
        baseFolder(environment.xdgDataHome, ownHome, paths::appending(standardHome, ".local/share"));

    const std::vector<std::string> candidates{
        paths::appending(cacheHome, "yarn"),
        paths::appending(standardHome, ".yarn/berry/cache"),
        paths::appending(dataHome, "pnpm/store"),
        paths::appending(cacheHome, "org.swift.swiftpm"),
    };
    std::vector<std::string> taken = ScanConfiguration(standardHome, {}).cacheTargets();
    std::vector<std::string> targets;
    for (const auto& candidate : candidates) {
        if (std::find(taken.begin(), taken.end(), candidate) != taken.end()) continue;
        // An XDG folder set to a system location must not make the scan propose it.
        if (Scanner::protectedSystemPath(candidate)) continue;
        taken.push_back(candidate);
        targets.push_back(candidate);
    }
    return targets;
}

ScanConfiguration configuration(const std::string& home, const std::vector<std::string>& roots,
                                const UserEnvironment& environment) {
    return ScanConfiguration(home, roots, cacheTargets(home, environment));
}

}  // namespace PlatformLocations
}  // namespace tarnby
