#include "core/scanning/platform_locations.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
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

Paths firstFour(const Paths& paths) {
    return Paths(paths.begin(), paths.begin() + std::min<std::size_t>(4, paths.size()));
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
    const Paths defaults{"/h/.cache/yarn", "/h/.yarn/berry/cache", "/h/.local/share/pnpm/store",
                         "/h/.cache/org.swift.swiftpm"};
    const auto elsewhere = linuxEnvironment({"/home/me"}, "/x/cache", "/x/data");
    EXPECT_EQ(firstFour(PlatformLocations::cacheTargets("/h", elsewhere)), defaults);
    const Paths macOS = PlatformLocations::cacheTargets("/h", {Platform::macOS, {"/h"}, "/x/cache", "/x/data"});
    EXPECT_EQ(macOS, PlatformLocations::cacheTargets("/h", kMacOS));
    EXPECT_EQ(std::ranges::count(macOS, "/h/.yarn/berry/cache"), 0);

    // Own home, however its text is written on either side.
    const auto own = linuxEnvironment({"/other", "/h/sub/.."}, "/x/./cache", "/x/data");
    EXPECT_EQ(firstFour(PlatformLocations::cacheTargets("/h/", own)),
              (Paths{"/x/cache/yarn", "/h/.yarn/berry/cache", "/x/data/pnpm/store", "/x/cache/org.swift.swiftpm"}));
    EXPECT_EQ(firstFour(PlatformLocations::cacheTargets("/h", linuxEnvironment({"/h"}, "cache", ""))), defaults);

    // A folder already among the fixed ones, or a system location, is not added again.
    const Paths moved =
        PlatformLocations::cacheTargets("/h", linuxEnvironment({"/h"}, "/h/Library/Caches", "/usr/share"));
    EXPECT_EQ(Paths(moved.begin(), moved.begin() + 2), (Paths{"/h/Library/Caches/yarn", "/h/.yarn/berry/cache"}));
    EXPECT_EQ(std::ranges::count(moved, "/h/Library/Caches/org.swift.swiftpm"), 0);

    const auto configuration = PlatformLocations::configuration("/h", {"/h/code"}, elsewhere);
    Paths expected = ScanConfiguration("/h", {}).cacheTargets();
    EXPECT_EQ(expected.size(), ScanConfiguration::kFixedCacheCount);
    expected.insert(expected.end(), defaults.begin(), defaults.end());
    const Paths targets = configuration.cacheTargets();
    EXPECT_EQ(Paths(targets.begin(), targets.begin() + 8), expected);
    EXPECT_EQ(configuration.roots(), Paths{"/h/code"});
}

TEST(PlatformLocationsTest, ToolCachesWhereEachSystemKeepsThemMovedOnlyForTheOwnHome) {
    const auto listed = [](const std::vector<CacheLocation>& locations, const std::string& path) {
        const auto found = std::ranges::find(locations, path, &CacheLocation::path);
        return found == locations.end() ? std::string("(not listed)") : found->title;
    };
    // Linux: the Linux location, and the macOS one of a copied home where that differs.
    const auto defaults = PlatformLocations::cacheLocations("/h", linuxEnvironment());
    EXPECT_EQ(listed(defaults, "/h/.cache/go-build"), "Go build cache");
    EXPECT_EQ(listed(defaults, "/h/Library/Caches/go-build"), "Go build cache");
    EXPECT_EQ(listed(defaults, "/h/.cache/uv"), "uv cache");
    EXPECT_EQ(std::ranges::count(defaults, "uv cache", &CacheLocation::title), 1);

    // A variable replaces the default: the first of a list, never one that is relative, a system
    // location, the home or what holds it, or what holds or lies in a location listed before.
    auto own = linuxEnvironment({"/h"});
    own.cacheVariables = {{"GOMODCACHE", "relative"},    {"GOPATH", "/gp:/second"},
                          {"CARGO_HOME", "/c/./"},       {"GOCACHE", "/gc"},
                          {"PIP_CACHE_DIR", "/"},        {"UV_CACHE_DIR", "/h/.npm"},
                          {"PUB_CACHE", "/usr/lib/pub"}, {"NUGET_PACKAGES", "/gp/pkg/mod/nuget"}};
    const auto moved = PlatformLocations::cacheLocations("/h", own);
    for (const char* path : {"/gp/pkg/mod", "/c/registry", "/c/git", "/gc", "/h/Library/Caches/go-build"})
        EXPECT_NE(listed(moved, path), "(not listed)") << path;
    for (const char* path : {"/h/go/pkg/mod", "/h/.cargo/registry", "/h/.cache/go-build", "/", "/h/.cache/pip",
                             "/h/.npm", "/h/.cache/uv", "/usr/lib/pub", "/h/.pub-cache", "/gp/pkg/mod/nuget"})
        EXPECT_EQ(listed(moved, path), "(not listed)") << path;

    // Another home is read with the defaults; macOS homes use the variables but not the XDG folders.
    EXPECT_EQ(listed(PlatformLocations::cacheLocations("/other", own), "/other/go/pkg/mod"), "Go modules");
    const UserEnvironment macOS{Platform::macOS, {"/h"}, "/x/cache", std::nullopt, {{"GOCACHE", "/gc"}}};
    const Paths macOSPaths = PlatformLocations::cacheTargets("/h", macOS);
    EXPECT_EQ(std::ranges::count(macOSPaths, "/gc"), 1);
    EXPECT_EQ(std::ranges::count(macOSPaths, "/h/Library/Caches/go-build"), 0);
    EXPECT_EQ(std::ranges::count(macOSPaths, "/h/Library/Caches/pip"), 1);
    EXPECT_EQ(std::ranges::count_if(macOSPaths, [](const std::string& path) { return path.starts_with("/x/"); }), 0);

    ::setenv("GOPATH", "/from/the/environment", 1);
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
            if (item.title == "Go modules") {
                EXPECT_EQ(item.measurement.files, 4);  // entry, go.mod, web's package.json and index.js
            }
        }
        EXPECT_EQ(walked, std::vector<std::string>{home + "/code/web/node_modules"});
        EXPECT_EQ(cacheTexts(scanOf(macOS)), macOSTexts);
    });
    EXPECT_EQ(status, 0);
}

TEST(PlatformLocationsTest, XdgFoldersElsewhereAreScannedButNotThroughALink) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.writeFile("home/.cache/yarn/x", "default place, not where yarn writes");
    tree.writeFile("xdg/cache/yarn/x", "yarn 1");
    tree.writeFile("real/pnpm/store/x", "pnpm");
    tree.symlink(tree.path("real"), "xdg/data");  // the data folder itself is a link
    tree.writeFile("berry-elsewhere/x", "berry");
    tree.symlink(tree.path("berry-elsewhere"), "home/.yarn/berry/cache");  // the location is a link

    const auto own = linuxEnvironment({home}, tree.path("xdg/cache"), tree.path("xdg/data"));
    const ScanResult result = scanOf(PlatformLocations::configuration(home, {}, own));
    ASSERT_EQ(result.items.size(), 1u);
    EXPECT_EQ(result.items[0].url, tree.path("xdg/cache/yarn"));
    EXPECT_EQ(result.items[0].title, "Yarn cache");
    EXPECT_TRUE(result.notes.empty());
}

TEST(PlatformLocationsTest, AFolderAlreadyScannedUnderAnotherPathIsScannedOnce) {
    // A bind mount of the macOS location on the Linux one, in a child with a mount namespace of
    // its own, so the mount never outlives it.
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.writeFile("home/Library/Caches/Yarn/x", "yarn");
    tree.makeDir("home/.cache/yarn");
    const int status = testing::runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount((home + "/Library/Caches/Yarn").c_str(), (home + "/.cache/yarn").c_str(), nullptr, MS_BIND,
                    nullptr) != 0) {
            ::_exit(77);
        }
        const ScanResult result = scanOf(PlatformLocations::configuration(home, {}, linuxEnvironment()));
        ASSERT_EQ(result.items.size(), 1u);
        EXPECT_EQ(result.items[0].url, home + "/Library/Caches/Yarn");
    });
    if (status == 77) GTEST_SKIP() << "bind mounts are not permitted here";
    EXPECT_EQ(status, 0);
}

TEST(PlatformLocationsTest, LinuxSuggestsLowerCaseProjectFoldersAndGit) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    for (const char* folder : {"projects", "developer", "repositories", "github", "git", "Workspaces", "workspaces"}) {
        tree.makeDir(std::string("home/") + folder);
    }
    tree.writeFile("elsewhere/.git/HEAD");
    tree.symlink(tree.path("elsewhere"), "home/workspaces-link");
    tree.writeFile("home/Documents/.git/HEAD");
    tree.writeFile("home/Projects/Cargo.toml");  // beside "projects": a different folder here
    tree.writeFile("home/git/readme");

    const auto suggested = ProjectLocations::suggestedOn(home, Platform::linuxDesktop);
    Paths expected;
    for (const char* folder :
         {"developer", "git", "github", "Projects", "projects", "repositories", "Workspaces", "workspaces"}) {
        expected.push_back(home + "/" + folder);
    }
    // Only letter case tells these apart; their order among themselves is the collator's.
    Paths sorted = suggested;
    std::ranges::sort(sorted);
    std::ranges::sort(expected);
    EXPECT_EQ(sorted, expected);
    EXPECT_LT(std::ranges::find(suggested, home + "/developer"), std::ranges::find(suggested, home + "/git"));
    EXPECT_LT(std::ranges::find(suggested, home + "/github"), std::ranges::find(suggested, home + "/repositories"));

    // macOS conventions: the lower-case folders are suggested only when they look like projects.
    EXPECT_EQ(ProjectLocations::suggestedOn(home, Platform::macOS), (Paths{home + "/Projects", home + "/Workspaces"}));
}

}  // namespace
}  // namespace tarnby
