#include "core/scanning/platform_locations.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "core/platform/paths.h"
#include "core/scanning/project_locations.h"
#include "core/scanning/scanner.h"
#include "core/scanning/target_catalogue.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using Paths = std::vector<std::string>;

UserEnvironment linuxEnvironment(Paths ownHomes = {}, std::optional<std::string> cache = std::nullopt,
                                 std::optional<std::string> data = std::nullopt) {
    return {Platform::linuxDesktop, std::move(ownHomes), std::move(cache), std::move(data)};
}
const UserEnvironment kMacOS{Platform::macOS, {}, std::nullopt, std::nullopt};

Paths under(const std::string& folder, Paths names) {
    for (auto& name : names) name = folder + "/" + name;
    return names;
}

ScanResult scanOf(const ScanConfiguration& configuration) {
    return Scanner::scan(configuration, std::nullopt, ScanCancellation(), {});
}

// Path to title, explanation and rebuild text of every cache item; a path met twice fails the test.
std::map<std::string, std::string> cacheTexts(const ScanResult& result) {
    std::map<std::string, std::string> texts;
    for (const auto& item : result.items) {
        if (item.kind != StorageKind::caches) continue;
        const std::string text = item.title + " | " + item.explanation + " | " + item.rebuild;
        EXPECT_TRUE(texts.emplace(item.url, text).second) << item.url << " listed twice";
    }
    return texts;
}

TEST(PlatformLocationsTest, XdgFoldersCountOnlyForTheCallersOwnHomeAndOnlyWhenAbsolute) {
    const auto firstFour = [](const std::string& home, const UserEnvironment& environment, std::size_t from = 0) {
        const Paths paths = PlatformLocations::cacheTargets(home, environment);
        return Paths(paths.begin() + from, paths.begin() + std::min<std::size_t>(from + 4, paths.size()));
    };
    const Paths defaults{"/h/.cache/yarn", "/h/.yarn/berry/cache", "/h/.local/share/pnpm/store",
                         "/h/.cache/org.swift.swiftpm"};
    const auto elsewhere = linuxEnvironment({"/home/me"}, "/x/cache", "/x/data");
    EXPECT_EQ(firstFour("/h", elsewhere), defaults);
    EXPECT_EQ(firstFour("/h", linuxEnvironment({"/h"}, "cache", "")), defaults);
    // Own home, however its text is written on either side.
    EXPECT_EQ(firstFour("/h/", linuxEnvironment({"/other", "/h/sub/.."}, "/x/./cache", "/x/data")),
              (Paths{"/x/cache/yarn", "/h/.yarn/berry/cache", "/x/data/pnpm/store", "/x/cache/org.swift.swiftpm"}));
    // A folder already among the fixed ones, or a system location, is not added again.
    const Paths moved =
        PlatformLocations::cacheTargets("/h", linuxEnvironment({"/h"}, "/h/Library/Caches", "/usr/share"));
    EXPECT_EQ(Paths(moved.begin(), moved.begin() + 2), (Paths{"/h/Library/Caches/yarn", "/h/.yarn/berry/cache"}));
    EXPECT_EQ(std::ranges::count(moved, "/h/Library/Caches/org.swift.swiftpm"), 0);
    // macOS keeps no Berry cache in the home.
    EXPECT_EQ(std::ranges::count(PlatformLocations::cacheTargets("/h", kMacOS), "/h/.yarn/berry/cache"), 0);

    // The fixed four first; the home and roots standardized, duplicate roots kept.
    const auto configuration = PlatformLocations::configuration("/h/./x/..", {"/h/p/../code", "/h/code"}, elsewhere);
    const Paths targets = configuration.cacheTargets();
    EXPECT_EQ(Paths(targets.begin() + 4, targets.begin() + 8), defaults);
    EXPECT_EQ(targets[0] + " " + configuration.devicesRoot(),
              "/h/.npm/_cacache /h/Library/Developer/CoreSimulator/Devices");
    EXPECT_EQ(configuration.roots(), (Paths{"/h/code", "/h/code"}));
}

TEST(PlatformLocationsTest, ToolCachesWhereEachSystemKeepsThemMovedOnlyForTheOwnHome) {
    // "+" for each of `paths` among the locations, "-" for each that is not.
    const auto presence = [](const std::string& home, const UserEnvironment& environment, const Paths& paths) {
        const auto locations = PlatformLocations::cacheLocations(home, environment);
        std::string marks;
        for (const auto& path : paths) marks += std::ranges::count(locations, path, &CacheLocation::path) ? '+' : '-';
        return marks;
    };
    // Linux: the Linux location, and the macOS one of a copied home where that differs.
    EXPECT_EQ(presence("/h", linuxEnvironment(), {"/h/.cache/go-build", "/h/Library/Caches/go-build", "/h/.cache/uv"}),
              "+++");

    // A variable replaces the default: the first of a list, never one that is relative, a system
    // location, the home or what holds it, or what holds or lies in a location listed before.
    auto own = linuxEnvironment({"/h"});
    own.cacheVariables = {{"GOMODCACHE", "relative"},    {"GOPATH", "/gp:/second"},
                          {"CARGO_HOME", "/c/./"},       {"GOCACHE", "/gc"},
                          {"PIP_CACHE_DIR", "/"},        {"UV_CACHE_DIR", "/h/.npm"},
                          {"PUB_CACHE", "/usr/lib/pub"}, {"NUGET_PACKAGES", "/gp/pkg/mod/nuget"}};
    EXPECT_EQ(presence("/h", own, {"/gp/pkg/mod", "/c/registry", "/c/git", "/gc", "/h/Library/Caches/go-build"}),
              "+++++");
    EXPECT_EQ(presence("/h", own,
                       {"/h/go/pkg/mod", "/h/.cargo/registry", "/h/.cache/go-build", "/", "/h/.cache/pip", "/h/.npm",
                        "/h/.cache/uv", "/usr/lib/pub", "/h/.pub-cache", "/gp/pkg/mod/nuget"}),
              "----------");
    // macOS homes use the variables but not the XDG folders.
    const UserEnvironment macOS{Platform::macOS, {"/h"}, "/x/cache", std::nullopt, {{"GOCACHE", "/gc"}}};
    EXPECT_EQ(presence("/h", macOS, {"/gc", "/h/Library/Caches/go-build", "/h/Library/Caches/pip"}), "+-+");
    const Paths macOSPaths = PlatformLocations::cacheTargets("/h", macOS);
    EXPECT_EQ(std::ranges::count_if(macOSPaths, [](const std::string& path) { return path.starts_with("/x/"); }), 0);

    ::setenv("GOPATH", "/from/the/environment", 1);  // read by the caller
    EXPECT_EQ(UserEnvironment::current().cacheVariables["GOPATH"], "/from/the/environment");
    ::unsetenv("GOPATH");
}

TEST(PlatformLocationsTest, EveryCacheIsListedOnceWithItsTextsAndNotWalkedIntoOnLinuxAndInACopiedMacOSHome) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    // Each catalogue row's texts, by the title its locations carry.
    std::map<std::string, std::string> rowTexts;
    for (const auto& row : TargetCatalogue::kHomeCaches) {
        const std::string title = row.title.empty() ? paths::lastComponent(row.macOS) : std::string(row.title);
        rowTexts[title] = std::string(row.explanation) + " | " + std::string(row.rebuild);
    }
    // Every location of either system, so each scan must pick its own.
    std::map<std::string, std::string> linuxTexts, macOSTexts;
    const auto linux = PlatformLocations::configuration(home, {home}, linuxEnvironment({"/root"}, "/x", "/y"));
    const auto macOS = PlatformLocations::configuration(home, {}, kMacOS);
    for (const auto& [configuration, texts] : {std::pair(&linux, &linuxTexts), std::pair(&macOS, &macOSTexts)}) {
        for (const CacheLocation& location : configuration->cacheLocations()) {
            tree.writeFile(location.path.substr(tree.root().size()) + "/entry", location.title);
            texts->emplace(location.path, location.title + " | " + rowTexts.at(location.title));
        }
    }
    // Unpacked projects inside caches, and a project outside them, under a root that holds them all.
    const std::string module = "home/go/pkg/mod/example.com/m@v1.0.0";
    tree.writeFile(module + "/go.mod", "module example.com/m");
    tree.writeFile(module + "/web/package.json", "{}");
    tree.writeFile(module + "/web/node_modules/x/index.js");
    tree.writeFile("home/.cargo/registry/src/crate-1.0.0/Cargo.toml");
    tree.makeDir("home/.cargo/registry/src/crate-1.0.0/target");
    tree.writeFile("home/code/web/package.json", "{}");
    tree.writeFile("home/code/web/node_modules/x/index.js");
    // A target inside another, and one that is a link.
    tree.writeFile("home/code/web/node_modules/x/.venv/pyvenv.cfg");
    tree.writeFile("venv-elsewhere/pyvenv.cfg");
    tree.symlink(tree.path("venv-elsewhere"), "home/code/web/.venv");
    // Go keeps its module cache read-only; the scan must measure it whole as its owner would.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path("home/go/pkg/mod")))
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0555 : 0444);
    ::chmod(tree.path("home/go/pkg/mod").c_str(), 0555);

    const int status = testing::runAsNobody([&] {
        const ScanResult result = scanOf(linux);
        EXPECT_TRUE(result.notes.empty());
        EXPECT_EQ(cacheTexts(result), linuxTexts);
        std::vector<std::string> walked;
        for (const auto& item : result.items) {
            EXPECT_TRUE(item.selectable() && Scanner::recognized(item, linux)) << item.url;
            if (item.kind != StorageKind::caches) walked.push_back(item.url);
            // Go: entry, go.mod, web's package.json and index.js.
            EXPECT_TRUE(item.title != "Go modules" || item.measurement.files == 4) << item.measurement.files;
        }
        EXPECT_EQ(walked, std::vector<std::string>{home + "/code/web/node_modules"});
        EXPECT_EQ(cacheTexts(scanOf(macOS)), macOSTexts);
    });
    EXPECT_EQ(status, 0);
}

// The macOS location bind-mounted on the Linux one, in a child with a mount namespace of its own,
// so the mount never outlives it: one folder under two paths is measured once.
TEST(PlatformLocationsTest, ACacheFolderUnderTwoPathsIsScannedOnce) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.makeDir("home/.cache/yarn");
    tree.writeFile("home/Library/Caches/Yarn/x", "yarn");
    const int status = testing::runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount((home + "/Library/Caches/Yarn").c_str(), (home + "/.cache/yarn").c_str(), nullptr, MS_BIND,
                    nullptr) != 0) {
            ::_exit(77);
        }
        const ScanResult result = scanOf(PlatformLocations::configuration(home, {}, linuxEnvironment()));
        EXPECT_TRUE(result.notes.empty());
        ASSERT_EQ(result.items.size(), 1u);
        EXPECT_EQ(result.items[0].url, home + "/Library/Caches/Yarn");
    });
    if (status == 77) GTEST_SKIP() << "bind mounts are not permitted here";
    EXPECT_EQ(status, 0);
}

TEST(ProjectLocationsTest, CustomaryFoldersAndProjectLikeChildrenOnceInFinderOrder) {
    TempTree tree;
    tree.makeDir("home/Developer");
    tree.writeFile("home/Code");  // a file, not a folder
    tree.writeFile("elsewhere/package.json");
    tree.symlink(tree.path("elsewhere"), "home/workspace");  // customary and project-like, but a link
    for (const char* marker :
         {"Projects/Cargo.toml", "website/package.json", "Tool/Package.swift", "proj10/Cargo.toml",
          "proj2/package.json", "notes/readme.txt", "Documents/.git/HEAD", "Library/package.json", ".config/.git/HEAD"})
        tree.writeFile("home/" + std::string(marker));
    tree.writeFile("home/worktree/.git", "gitdir: /elsewhere");  // a file is enough
    tree.symlink("/nonexistent/package.json", "home/dangling/package.json");
    // Where they exist, and not through a link: source/repos passes through one.
    for (const char* folder : {"home/IdeaProjects", "home/go/src", "elsewhere/repos"}) tree.makeDir(folder);
    tree.symlink(tree.path("elsewhere"), "home/source");
    // Projects is customary and project-like, but listed once.
    EXPECT_EQ(ProjectLocations::suggested(tree.path("home")),
              under(tree.path("home"), {"Developer", "go/src", "IdeaProjects", "proj2", "proj10", "Projects", "Tool",
                                        "website", "worktree"}));
}

TEST(ProjectLocationsTest, LinuxAlsoSuggestsLowerCaseProjectFoldersAndGit) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    for (const char* folder : {"projects", "developer", "repositories", "github", "git", "Workspaces", "workspaces"})
        tree.makeDir(std::string("home/") + folder);
    tree.writeFile("home/Projects/Cargo.toml");  // beside "projects": a different folder here

    // Only letter case tells these apart; their order among themselves is the collator's.
    Paths sorted = ProjectLocations::suggestedOn(home, Platform::linuxDesktop);
    std::ranges::sort(sorted);
    EXPECT_EQ(sorted, under(home, {"Projects", "Workspaces", "developer", "git", "github", "projects", "repositories",
                                   "workspaces"}));

    // macOS conventions: the lower-case folders are suggested only when they look like projects.
    EXPECT_EQ(ProjectLocations::suggestedOn(home, Platform::macOS), under(home, {"Projects", "Workspaces"}));
}

}  // namespace
}  // namespace tarnby
