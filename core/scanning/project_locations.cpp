#include "core/scanning/project_locations.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "core/platform/collation.h"
#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/scanning/file_inspection.h"

namespace tarnby::ProjectLocations {

namespace {

// Both "Code" and "code": on a case-sensitive disk they are different folders. After the
// general names, where Android Studio, IntelliJ IDEA, Go (GOPATH) and Visual Studio put projects.
constexpr std::array<std::string_view, 16> kCustomaryNames{"Developer",
                                                           "Projects",
                                                           "Code",
                                                           "code",
                                                           "dev",
                                                           "devperso",
                                                           "src",
                                                           "repos",
                                                           "Repositories",
                                                           "workspace",
                                                           "Workspaces",
                                                           "GitHub",
                                                           "AndroidStudioProjects",
                                                           "IdeaProjects",
                                                           "go/src",
                                                           "source/repos"};

// Personal and system folders of a home are never proposed, whatever they hold.
constexpr std::array<std::string_view, 9> kPersonalNames{
    "Library", "Applications", "Desktop", "Documents", "Downloads", "Pictures", "Movies", "Music", "Public"};

// What Linux developers call the same folders, each with the customary name it stands beside
// ("git" has none).
struct LowerCaseName {
    std::string_view name;
    std::string_view customary;
};
constexpr std::array<LowerCaseName, 6> kLowerCaseNames{{
    {"projects", "Projects"},
    {"developer", "Developer"},
    {"repositories", "Repositories"},
    {"workspaces", "Workspaces"},
    {"github", "GitHub"},
    {"git", ""},
}};

constexpr std::array<std::string_view, 4> kProjectMarkers{"package.json", "Package.swift", "Cargo.toml", ".git"};

bool isPersonal(std::string_view name) {
    return std::find(kPersonalNames.begin(), kPersonalNames.end(), name) != kPersonalNames.end();
}

// A ".git" file (a work tree or submodule link) counts as much as a folder.
bool looksLikeProject(const std::string& folder) {
    return std::any_of(kProjectMarkers.begin(), kProjectMarkers.end(),
                       [&](std::string_view marker) { return fs::exists(paths::appending(folder, marker)); });
}

bool isFolder(const std::string& path) {
    return FileInspection::safePath(path) && fs::entryType(path) == fs::EntryType::directory;
}

bool distinguishesCase([[maybe_unused]] const std::string& home) {
#ifdef _PC_CASE_SENSITIVE
    if (const long answer = ::pathconf(home.c_str(), _PC_CASE_SENSITIVE); answer >= 0) return answer != 0;
#endif
    // Linux has no such question; its file systems tell case apart unless a folder is marked
    // otherwise, which the per-folder identity test below still catches.
    return true;
}

// A lower-case name on a file system that ignores case would find its customary folder again
// under a second path text; the same device and inode give that away.
bool sameFolder(const std::string& a, const std::string& b) {
    const auto first = fs::identity(a);
    return first && first == fs::identity(b);
}

void addLowerCaseNames(const std::string& home, std::vector<std::string>& found) {
    if (!distinguishesCase(home)) return;
    for (const auto& [name, customary] : kLowerCaseNames) {
        const std::string folder = paths::appending(home, name);
        if (!isFolder(folder)) continue;
        if (!customary.empty() && sameFolder(folder, paths::appending(home, customary))) continue;
        found.push_back(folder);
    }
}

std::vector<std::string> collect(const std::string& home, Platform platform) {
    std::vector<std::string> found;
    for (const auto name : kCustomaryNames) {
        const std::string folder = paths::appending(home, name);
        if (isFolder(folder)) found.push_back(folder);
    }
    if (platform == Platform::linuxDesktop) addLowerCaseNames(home, found);

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

std::vector<std::string> suggested(const std::string& home) { return suggestedOn(home, kHostPlatform); }

std::vector<std::string> suggestedOn(const std::string& home, Platform platform) {
    try {
        return collect(home, platform);
    } catch (...) {
        // Only allocation can fail; a first scan then simply starts without suggestions.
        return {};
    }
}

}  // namespace tarnby::ProjectLocations
