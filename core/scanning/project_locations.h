#pragma once

#include <string>
#include <vector>

#include "core/records/platform.h"

namespace tarnby::ProjectLocations {

// Folders under `home` a user most likely wants scanned: the customary project-folder names
// and any visible child that looks like a project. No duplicates, Finder-like order.
// Reads the disk, changes nothing, never throws; may be empty. Follows the host's conventions.
std::vector<std::string> suggested(const std::string& home);

// The same under `platform`'s conventions. On Linux, where a home usually tells letter case
// apart, the lower-case forms of the customary names and "git" are tried as well.
std::vector<std::string> suggestedOn(const std::string& home, Platform platform);

}  // namespace tarnby::ProjectLocations
