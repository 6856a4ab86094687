#include "core/scanning/platform_locations.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>

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

Paths firstFour(const Paths& paths) {
    return Paths(paths.begin(), paths.begin() + std::min<std::size_t>(4, paths.size()));
}

ScanResult scanOf(const ScanConfiguration& configuration) {
    ScanCancellation cancellation;
    return Scanner::scan(configuration, std::nullopt, cancellation, {});
}

// Path to title of every cache item; a path met twice fails the test.
std::map<std::string, std::string> cacheTitles(const ScanResult& result) {
    std::map<std::string, std::string> titles;
    for (const auto& item : result.items) {
        if (item.kind != StorageKind::caches) continue;
        EXPECT_TRUE(titles.emplace(item.url, item.title).second) << item.url << " listed twice";
    }
    return titles;
}

TEST(PlatformLocationsTest, XdgFoldersCountOnlyForTheCallersOwnHomeAndOnlyWhenAbsolute) {
    const Paths defaults{"/h/.cache/yarn", "/h/.yarn/berry/cache", "/h/.local/share/pnpm/store",
                         "/h/.cache/org.swift.swiftpm"};
    const auto elsewhere = linuxEnvironment({"/home/me"}, "/x/cache", "/x/data");
    EXPECT_EQ(firstFour(PlatformLocations::cacheTargets("/h", elsewhere)), defaults);
    const Paths macOS = PlatformLocations::cacheTargets("/h", {Platform::macOS, {"/h"}, "/x/cache", "/x/data"});
    EXPECT_EQ(macOS, PlatformLocations::cacheTargets("/h", {Platform::macOS, {}, std::nullopt, std::nullopt}));
    EXPECT_EQ(std::count(macOS.begin(), macOS.end(), "/h/.yarn/berry/cache"), 0);

    // Own home, however its text is written on either side.
    const auto own = linuxEnvironment({"/other", "/h/sub/.."}, "/x/./cache", "/x/data");
    EXPECT_EQ(firstFour(PlatformLocations::cacheTargets("/h/", own)),
              (Paths{"/x/cache/yarn", "/h/.yarn/berry/cache", "/x/data/pnpm/store", "/x/cache/org.swift.swiftpm"}));
    EXPECT_EQ(firstFour(PlatformLocations::cacheTargets("/h", linuxEnvironment({"/h"}, "cache", ""))), defaults);

    // A folder already among the fixed ones, or a system location, is not added again.
    const Paths moved =
        PlatformLocations::cacheTargets("/h", linuxEnvironment({"/h"}, "/h/Library/Caches", "/usr/share"));
    EXPECT_EQ(Paths(moved.begin(), moved.begin() + 2), (Paths{"/h/Library/Caches/yarn", "/h/.yarn/berry/cache"}));
    EXPECT_EQ(std::count(moved.begin(), moved.end(), "/h/Library/Caches/org.swift.swiftpm"), 0);

    const auto configuration = PlatformLocations::configuration("/h", {"/h/code"}, elsewhere);
    Paths expected = ScanConfiguration("/h", {}).cacheTargets();
    EXPECT_EQ(expected.size(), ScanConfiguration::kFixedCacheCount);
    expected.insert(expected.end(), defaults.begin(), defaults.end());
    const Paths targets = configuration.cacheTargets();
    EXPECT_EQ(Paths(targets.begin(), targets.begin() + 8), expected);
    EXPECT_EQ(configuration.roots(), Paths{"/h/code"});
}

TEST(PlatformLocationsTest, LinuxHomeListsEveryCacheOnceAndPlansThem) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.writeFile("home/.cache/yarn/v6/npm-left-pad/index.js", "yarn 1");
    tree.writeFile("home/.yarn/berry/cache/left-pad.zip", "berry");
    tree.writeFile("home/.local/share/pnpm/store/v3/files/00/abc", "pnpm");
    tree.writeFile("home/.cache/org.swift.swiftpm/repositories/x", "swiftpm");
    tree.writeFile("home/Library/Caches/Yarn/v6/x", "yarn on a copied macOS home");
    tree.writeFile("home/.npm/_cacache/index-v5/x", "npm");

    // The caller's XDG folders belong to the caller's home, not to this one.
    const auto configuration =
        PlatformLocations::configuration(home, {}, linuxEnvironment({"/root"}, tree.path("nowhere"), "/nowhere"));
    const ScanResult result = scanOf(configuration);
    EXPECT_TRUE(result.notes.empty());
    EXPECT_EQ(cacheTitles(result), (std::map<std::string, std::string>{
                                       {home + "/.cache/yarn", "Yarn cache"},
                                       {home + "/.yarn/berry/cache", "Yarn Berry cache"},
                                       {home + "/.local/share/pnpm/store", "pnpm store"},
                                       {home + "/.cache/org.swift.swiftpm", "SwiftPM cache"},
                                       {home + "/Library/Caches/Yarn", "Yarn"},
                                       {home + "/.npm/_cacache", "_cacache"},
                                   }));
    for (const auto& item : result.items) {
        EXPECT_EQ(item.explanation, TargetCatalogue::kCacheExplanation);
        EXPECT_EQ(item.rebuild, TargetCatalogue::kCacheRebuild);
        EXPECT_TRUE(item.selectable()) << item.url;
    }

    // Recognition, which the planner re-checks with, accepts every one under the same locations.
    for (const auto& item : result.items) EXPECT_TRUE(Scanner::recognized(item, configuration)) << item.url;
    const auto pnpm = std::find_if(result.items.begin(), result.items.end(),
                                   [](const StorageItem& item) { return item.title == "pnpm store"; });
    ASSERT_NE(pnpm, result.items.end());
    EXPECT_FALSE(Scanner::recognized(*pnpm, ScanConfiguration(home, {})));

    // macOS conventions: only the fixed locations.
    const auto macOS = PlatformLocations::configuration(home, {}, {Platform::macOS, {}, std::nullopt, std::nullopt});
    EXPECT_EQ(cacheTitles(scanOf(macOS)), (std::map<std::string, std::string>{
                                              {home + "/Library/Caches/Yarn", "Yarn"},
                                              {home + "/.npm/_cacache", "_cacache"},
                                          }));
}

TEST(PlatformLocationsTest, XdgFoldersElsewhereAreScannedButNotThroughALink) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.writeFile("home/.cache/yarn/x", "default place, not where yarn writes");
    tree.writeFile("xdg/cache/yarn/x", "yarn 1");
    tree.writeFile("xdg/cache/org.swift.swiftpm/x", "swiftpm");
    tree.writeFile("real/pnpm/store/x", "pnpm");
    tree.symlink(tree.path("real"), "xdg/data");  // the data folder itself is a link
    tree.writeFile("berry-elsewhere/x", "berry");
    tree.symlink(tree.path("berry-elsewhere"), "home/.yarn/berry/cache");  // the location is a link

    const auto own = linuxEnvironment({home}, tree.path("xdg/cache"), tree.path("xdg/data"));
    const ScanResult result = scanOf(PlatformLocations::configuration(home, {}, own));
    EXPECT_EQ(cacheTitles(result), (std::map<std::string, std::string>{
                                       {tree.path("xdg/cache/yarn"), "Yarn cache"},
                                       {tree.path("xdg/cache/org.swift.swiftpm"), "SwiftPM cache"},
                                   }));
    EXPECT_TRUE(result.notes.empty());
}

// Runs in a child with a mount namespace of its own, so the bind mount never outlives it.
// Exit status: 0 when the folder was listed once, 77 when mounts are not permitted here.
int scanWithBindMount(const std::string& home, const std::string& source, const std::string& target) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            ::_exit(77);
        }
        const auto result = scanOf(PlatformLocations::configuration(home, {}, linuxEnvironment()));
        const bool once = result.items.size() == 1 && result.items.front().url == source;
        ::_exit(once ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(PlatformLocationsTest, AFolderAlreadyScannedIsScannedOnce) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.writeFile("home/Library/Caches/org.swift.swiftpm/x", "swiftpm");
    tree.writeFile("home/Library/Caches/yarn/x", "yarn 1 in a macOS-style cache folder");

    // The same path text as a fixed location.
    const auto own = linuxEnvironment({home}, tree.path("home/Library/Caches"));
    EXPECT_EQ(cacheTitles(scanOf(PlatformLocations::configuration(home, {}, own))),
              (std::map<std::string, std::string>{
                  {home + "/Library/Caches/org.swift.swiftpm", "org.swift.swiftpm"},
                  {home + "/Library/Caches/yarn", "Yarn cache"},
              }));

    // The same folder under another path text: a bind mount of the macOS location on the Linux one.
    TempTree mounted;
    const std::string other = mounted.makeDir("home");
    mounted.writeFile("home/Library/Caches/Yarn/x", "yarn");
    mounted.makeDir("home/.cache/yarn");
    const int status = scanWithBindMount(other, other + "/Library/Caches/Yarn", other + "/.cache/yarn");
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

    const auto linuxSuggestions = ProjectLocations::suggestedOn(home, Platform::linuxDesktop);
    Paths expected;
    for (const char* folder :
         {"developer", "git", "github", "Projects", "projects", "repositories", "Workspaces", "workspaces"}) {
        expected.push_back(home + "/" + folder);
    }
    // Only letter case tells these apart; their order among themselves is the collator's.
    auto sortedCopy = [](Paths paths) {
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    EXPECT_EQ(sortedCopy(linuxSuggestions), sortedCopy(expected));
    EXPECT_LT(std::find(linuxSuggestions.begin(), linuxSuggestions.end(), home + "/developer"),
              std::find(linuxSuggestions.begin(), linuxSuggestions.end(), home + "/git"));
    EXPECT_LT(std::find(linuxSuggestions.begin(), linuxSuggestions.end(), home + "/github"),
              std::find(linuxSuggestions.begin(), linuxSuggestions.end(), home + "/repositories"));

    // macOS conventions: the lower-case folders are suggested only when they look like projects.
    EXPECT_EQ(ProjectLocations::suggestedOn(home, Platform::macOS), (Paths{home + "/Projects", home + "/Workspaces"}));
}

}  // namespace
}  // namespace tarnby
