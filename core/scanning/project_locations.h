#pragma once

#include <string>
#include <vector>

#include "core/records/platform.h"

namespace tarnby::ProjectLocations {

// Folders under `home` a user most likely wants scanned: the customary project-folder names
// and any visible child that looks like a project. No duplicates, Finder-like order.
// On Linux, where a home usually tells letter case apart, the lower-case forms of the
// customary names and "git" are tried as well.
// Reads the disk, changes nothing, never throws; may be empty.
std::vector<std::string> suggested(const std::string& home, Platform platform = kHostPlatform);

}  // namespace tarnby::ProjectLocations
