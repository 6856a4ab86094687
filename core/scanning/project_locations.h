#pragma once

#include <string>
#include <vector>

namespace tarnby::ProjectLocations {

// Folders under `home` a user most likely wants scanned: the customary project-folder names
// and any visible child that looks like a project. No duplicates, Finder-like order.
// Reads the disk, changes nothing, never throws; may be empty.
std::vector<std::string> suggested(const std::string& home);

}  // namespace tarnby::ProjectLocations
