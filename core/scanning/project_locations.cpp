#include "core/scanning/project_locations.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/platform/collation.h"
#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/scanning/file_inspection.h"

namespace tarnby::ProjectLocations {

namespace {

// Both "Code" and "code": on a case-sensitive disk they are different folders.
constexpr std::array<std::string_view, 12> kCustomaryNames{
    "Developer", "Projects", "Code", "code", "dev", "devperso",
    "src", "repos", "Repositories", "workspace", "Workspaces", "GitHub"};

// Personal and system folders of a home are never proposed, whatever they hold.
constexpr std::array<std::string_view, 9> kPersonalNames{
    "Library", "Applications", "Desktop", "Documents", "Downloads", "Pictures", "Movies", "Music", "Public"};

constexpr std::array<std::string_view, 4> kProjectMarkers{"package.json", "Package.swift", "Cargo.toml", ".git"};

bool isPersonal(std::string_view name) {
    return std::find(kPersonalNames.begin(), kPersonalNames.end(), name) != kPersonalNames.end();
}

// A ".git" file (a work tree or submodule link) counts as much as a folder.
bool looksLikeProject(const std::string& folder) {
    return std::any_of(kProjectMarkers.begin(), kProjectMarkers.end(),
                       [&](std::string_view marker) { return fs::exists(paths::appending(folder, marker)); });
}

std::vector<std::string> collect(const std::string& home) {
    std::vector<std::string> found;
    for (const auto name : kCustomaryNames) {
        const std::string folder = paths::appending(home, name);
        if (FileInspection::safePath(folder) && fs::entryType(folder) == fs::EntryType::directory) {
            found.push_back(folder);
        }
    }

    if (const auto listing = fs::listDirectory(home, true)) {
        for (const auto& entry : *listing) {
            if (isPersonal(entry.name) || entry.type != fs::EntryType::directory) continue;
            const std::string folder = paths::appending(home, entry.name);
            if (FileInspection::safePath(folder) && looksLikeProject(folder)) found.push_back(folder);
        }
    }

    const FinderCollator collator;
    std::sort(found.begin(), found.end(),
              [&](const std::string& a, const std::string& b) { return collator.compare(a, b) < 0; });
    // The collator orders equal-looking texts by bytes, so exact duplicates end up side by side.
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace

std::vector<std::string> suggested(const std::string& home) {
    try {
        return collect(home);
    } catch (...) {
        // Only allocation can fail; a first scan then simply starts without suggestions.
        return {};
    }
}

}  // namespace tarnby::ProjectLocations
