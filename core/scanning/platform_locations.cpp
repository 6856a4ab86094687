#include "core/scanning/platform_locations.h"

#include <algorithm>
#include <cstdlib>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/scanning/scanner.h"
#include "core/scanning/target_catalogue.h"

namespace tarnby {

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool isAbsolute(const std::optional<std::string>& value) { return value && !value->empty() && value->front() == '/'; }

// The XDG base directory rules: an unset, empty or relative value means the default.
std::string baseFolder(const std::optional<std::string>& value, bool useValue, const std::string& fallback) {
    if (useValue && isAbsolute(value)) return paths::standardized(*value);
    return fallback;
}

// Where the first variable of `row` that is set to an absolute path puts the cache.
std::optional<std::string> movedLocation(const TargetCatalogue::HomeCache& row,
                                         const std::map<std::string, std::string>& variables) {
    for (const auto& moved : row.movedBy) {
        if (moved.name.empty()) continue;
        const auto found = variables.find(std::string(moved.name));
        if (found == variables.end()) continue;
        std::optional<std::string> folder = found->second;
        if (moved.list) folder = folder->substr(0, folder->find(':'));
        if (isAbsolute(folder)) return paths::appending(paths::standardized(*folder), moved.below);
    }
    return std::nullopt;
}

// One folder must not be listed twice, nor inside another listed one: its bytes would count
// twice and a plan could hold both.
bool overlaps(const std::string& candidate, const std::vector<std::string>& taken) {
    return std::any_of(taken.begin(), taken.end(), [&](const std::string& other) {
        return candidate == other || paths::liesInside(candidate, other) || paths::liesInside(other, candidate);
    });
}

}  // namespace

UserEnvironment UserEnvironment::current() {
    UserEnvironment environment;
    if (auto home = variable("HOME"); isAbsolute(home)) {
        environment.ownHomes.push_back(paths::standardized(*home));
    }
    if (auto home = fs::passwordDatabaseHome()) environment.ownHomes.push_back(std::move(*home));
    environment.xdgCacheHome = variable("XDG_CACHE_HOME");
    environment.xdgDataHome = variable("XDG_DATA_HOME");
    for (const auto& row : TargetCatalogue::kHomeCaches) {
        for (const auto& moved : row.movedBy) {
            const std::string name(moved.name);
            if (name.empty()) continue;
            if (auto value = variable(name.c_str())) environment.cacheVariables[name] = std::move(*value);
        }
    }
    return environment;
}

namespace PlatformLocations {

std::vector<CacheLocation> cacheLocations(const std::string& home, const UserEnvironment& environment) {
    const bool onLinux = environment.platform == Platform::linuxDesktop;
    const std::string standardHome = paths::standardized(home);
    // Another user's home (or a copy of one) is read with the defaults: the caller's variables
    // describe the caller's own home only. Compared as path text, like every path.
    const bool ownHome = std::any_of(environment.ownHomes.begin(), environment.ownHomes.end(),
                                     [&](const std::string& own) { return paths::standardized(own) == standardHome; });
    const std::string cacheHome =
        baseFolder(environment.xdgCacheHome, ownHome && onLinux, paths::appending(standardHome, ".cache"));
    const std::string dataHome =
        baseFolder(environment.xdgDataHome, ownHome && onLinux, paths::appending(standardHome, ".local/share"));
    const auto linuxLocation = [&](const TargetCatalogue::Place& place) {
        switch (place.base) {
            case TargetCatalogue::Base::xdgCache: return paths::appending(cacheHome, place.path);
            case TargetCatalogue::Base::xdgData: return paths::appending(dataHome, place.path);
            case TargetCatalogue::Base::home: break;
        }
        return paths::appending(standardHome, place.path);
    };

    std::vector<std::string> taken = ScanConfiguration(standardHome, {}).cacheTargets();
    std::vector<CacheLocation> locations;
    const auto add = [&](const TargetCatalogue::HomeCache& row, const std::optional<std::string>& candidate) {
        if (!candidate || overlaps(*candidate, taken)) return;
        // A variable set to a system location, or to the home itself, must not make the scan propose it.
        if (Scanner::protectedSystemPath(*candidate) || *candidate == "/" ||
            paths::liesInside(standardHome, *candidate) || *candidate == standardHome) {
            return;
        }
        taken.push_back(*candidate);
        locations.push_back(TargetCatalogue::located(row, *candidate));
    };

    for (std::size_t index = TargetCatalogue::kFixedCaches; index < TargetCatalogue::kHomeCaches.size(); ++index) {
        const auto& row = TargetCatalogue::kHomeCaches[index];
        std::optional<std::string> macOS;
        if (!row.macOS.empty()) macOS = paths::appending(standardHome, row.macOS);
        const auto moved = ownHome ? movedLocation(row, environment.cacheVariables) : std::nullopt;
        if (!onLinux) {
            add(row, moved ? moved : macOS);
            continue;
        }
        const std::optional<std::string> linuxDefault =
            row.linuxPlace.path.empty() ? macOS : linuxLocation(row.linuxPlace);
        if (macOS != linuxDefault) add(row, macOS);
        add(row, moved ? moved : linuxDefault);
    }
    return locations;
}

std::vector<std::string> cacheTargets(const std::string& home, const UserEnvironment& environment) {
    std::vector<std::string> paths;
    for (auto& location : cacheLocations(home, environment)) paths.push_back(std::move(location.path));
    return paths;
}

ScanConfiguration configuration(const std::string& home, const std::vector<std::string>& roots,
                                const UserEnvironment& environment) {
    return ScanConfiguration(home, roots, cacheLocations(home, environment));
}

}  // namespace PlatformLocations
}  // namespace tarnby
