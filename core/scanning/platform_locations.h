#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/records/platform.h"
#include "core/scanning/scan_configuration.h"

namespace tarnby {

// What of the caller's environment decides where a Linux home keeps its package caches. The
// model and the command line read it once and hand it in as a value; scanning never reads the
// environment itself.
struct UserEnvironment {
    Platform platform = kHostPlatform;
    // The caller's own home folder as $HOME and as the password database give it.
    std::vector<std::string> ownHomes;
    std::optional<std::string> xdgCacheHome;  // as set, unchecked
    std::optional<std::string> xdgDataHome;

    // The running process's. Reads the environment and the password database.
    static UserEnvironment current();
};

namespace PlatformLocations {

// The package caches Linux tools keep under `home`, in this order: Yarn 1, Yarn 2 and later,
// the pnpm store, SwiftPM. The XDG base folders count only when `home` is one of the caller's
// own homes and only when they are absolute paths; otherwise the defaults under `home` are
// used. A location equal to a fixed one, an earlier one, or inside a protected system location
// is left out. Empty on macOS. Reads neither the disk nor the environment.
std::vector<std::string> cacheTargets(const std::string& home, const UserEnvironment& environment);

// The configuration of `home` and `roots` with the platform's cache locations added.
ScanConfiguration configuration(const std::string& home, const std::vector<std::string>& roots,
                                const UserEnvironment& environment);

}  // namespace PlatformLocations
}  // namespace tarnby
