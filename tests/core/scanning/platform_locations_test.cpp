#include "core/scanning/platform_locations.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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

TEST(PlatformLocationsTest, ToolCachesWhereEachSystemKeepsThemMovedOnlyForTheOwnHome) {
    const auto listed = [](const std::vector<CacheLocation>& locations, const std::string& path) {
        const auto found = std::find_if(locations.begin(), locations.end(),
                                        [&](const CacheLocation& location) { return location.path == path; });
        return found == locations.end() ? std::string("(not listed)") : found->title;
    };
    // Linux: the Linux location, and the macOS one of a copied home where that differs.
    const auto defaults = PlatformLocations::cacheLocations("/h", linuxEnvironment());
    EXPECT_EQ(listed(defaults, "/h/.cache/go-build"), "Go build cache");
    EXPECT_EQ(listed(defaults, "/h/Library/Caches/go-build"), "Go build cache");
    EXPECT_EQ(listed(defaults, "/h/.cache/uv"), "uv cache");
    EXPECT_EQ(
        std::count_if(defaults.begin(), defaults.end(), [](const CacheLocation& l) { return l.title == "uv cache"; }),
        1);

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
    EXPECT_EQ(std::count(macOSPaths.begin(), macOSPaths.end(), "/gc"), 1);
    EXPECT_EQ(std::count(macOSPaths.begin(), macOSPaths.end(), "/h/Library/Caches/go-build"), 0);
    EXPECT_EQ(std::count(macOSPaths.begin(), macOSPaths.end(), "/h/Library/Caches/pip"), 1);
    EXPECT_EQ(std::count_if(macOSPaths.begin(), macOSPaths.end(),
                            [](const std::string& path) { return path.rfind("/x/", 0) == 0; }),
              0);

    ::setenv("GOPATH", "/from/the/environment", 1);
    EXPECT_EQ(UserEnvironment::current().cacheVariables["GOPATH"], "/from/the/environment");
    ::unsetenv("GOPATH");
}

// Linux locations, then those only a copied macOS home has; each row's title.
const std::map<std::string, std::string> kLinuxToolCaches{
    {".cache/yarn", "Yarn cache"},
    {".yarn/berry/cache", "Yarn Berry cache"},
    {".local/share/pnpm/store", "pnpm store"},
    {".cache/org.swift.swiftpm", "SwiftPM cache"},
    {".npm/_npx", "npx cache"},
    {".cache/pnpm", "pnpm metadata cache"},
    {".cache/node/corepack", "Corepack cache"},
    {".bun/install/cache", "Bun cache"},
    {".cache/deno", "Deno cache"},
    {".cargo/registry", "Cargo registry"},
    {".cargo/git", "Cargo git checkouts"},
    {"go/pkg/mod", "Go modules"},
    {".cache/go-build", "Go build cache"},
    {".cache/pip", "pip cache"},
    {".cache/uv", "uv cache"},
    {".cache/pypoetry", "Poetry cache"},
    {".gradle/caches", "Gradle caches"},
    {".gradle/wrapper/dists", "Gradle distributions"},
    {".m2/repository", "Maven repository"},
    {".pub-cache", "pub cache"},
    {".nuget/packages", "NuGet packages"},
    {".cache/Homebrew", "Homebrew cache"},
};
const std::map<std::string, std::string> kMacOSOnlyToolCaches{
    {"Library/Caches/pnpm", "pnpm metadata cache"},
    {"Library/Caches/node/corepack", "Corepack cache"},
    {"Library/Caches/deno", "Deno cache"},
    {"Library/Caches/go-build", "Go build cache"},
    {"Library/Caches/pip", "pip cache"},
    {"Library/Caches/pypoetry", "Poetry cache"},
    {"Library/Caches/Homebrew", "Homebrew cache"},
    {"Library/Caches/CocoaPods", "CocoaPods cache"},
    {"Library/Developer/Xcode/iOS DeviceSupport", "iOS DeviceSupport"},
    {"Library/Developer/Xcode/watchOS DeviceSupport", "watchOS DeviceSupport"},
    {"Library/Developer/Xcode/tvOS DeviceSupport", "tvOS DeviceSupport"},
    {"Library/Developer/Xcode/visionOS DeviceSupport", "visionOS DeviceSupport"},
    {"Library/Developer/CoreSimulator/Caches", "CoreSimulator caches"},
};
constexpr int kGoModuleFiles = 4;  // entry, go.mod, package.json, index.js

// Go keeps its module cache read-only; the scan must measure it whole as its owner would.
void scanGoModulesWithoutPrivileges(void* context) {
    const std::string& home = *static_cast<const std::string*>(context);
    for (const auto& item : scanOf(PlatformLocations::configuration(home, {}, linuxEnvironment())).items) {
        if (!item.measurement.complete || (item.title == "Go modules" && item.measurement.files != kGoModuleFiles))
            ::_exit(1);
    }
}

TEST(PlatformLocationsTest, EveryToolCacheIsListedOnceTitledAndNotWalkedIntoOnLinuxAndInACopiedMacOSHome) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    for (const auto* caches : {&kLinuxToolCaches, &kMacOSOnlyToolCaches}) {
        for (const auto& [path, title] : *caches) tree.writeFile("home/" + path + "/entry", title);
    }
    // Unpacked projects inside caches, and a project outside them, under a root that holds them all.
    const std::string module = "home/go/pkg/mod/example.com/m@v1.0.0";
    tree.writeFile(module + "/go.mod", "module example.com/m");
    tree.writeFile(module + "/web/package.json", "{}");
    tree.writeFile("home/.cargo/registry/src/crate-1.0.0/Cargo.toml");
    tree.makeDir("home/.cargo/registry/src/crate-1.0.0/target");
    tree.writeFile(module + "/web/node_modules/x/index.js");
    tree.writeFile("home/code/web/package.json", "{}");
    tree.writeFile("home/code/web/node_modules/x/index.js");
    // A target inside another, and one that is a link.
    tree.writeFile("home/code/web/node_modules/x/.venv/pyvenv.cfg");
    tree.writeFile("venv-elsewhere/pyvenv.cfg");
    tree.symlink(tree.path("venv-elsewhere"), "home/code/web/.venv");
    const auto readOnly = [&](const std::string& relative) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path(relative)))
            ::chmod(entry.path().c_str(), entry.is_directory() ? 0555 : 0444);
        ::chmod(tree.path(relative).c_str(), 0555);
    };
    readOnly("home/go/pkg/mod");

    const auto linux = PlatformLocations::configuration(home, {home}, linuxEnvironment());
    const ScanResult result = scanOf(linux);
    EXPECT_TRUE(result.notes.empty());
    std::map<std::string, std::string> expected;
    for (const auto* caches : {&kLinuxToolCaches, &kMacOSOnlyToolCaches}) {
        for (const auto& [path, title] : *caches) expected.emplace(home + "/" + path, title);
    }
    EXPECT_EQ(cacheTitles(result), expected);
    std::vector<std::string> walked;
    for (const auto& item : result.items) {
        EXPECT_TRUE(item.measurement.complete && Scanner::recognized(item, linux)) << item.url;
        if (item.kind != StorageKind::caches) walked.push_back(item.url);
    }
    EXPECT_EQ(walked, std::vector<std::string>{home + "/code/web/node_modules"});
    std::string context = home;
    EXPECT_EQ(testing::runAsNobody(scanGoModulesWithoutPrivileges, &context), 0);

    // macOS conventions: the locations a Mac uses, no Linux ones.
    std::map<std::string, std::string> macOS;
    for (const auto& [path, title] : kMacOSOnlyToolCaches) macOS.emplace(home + "/" + path, title);
    for (const char* path :
         {".npm/_npx", ".bun/install/cache", ".cargo/registry", ".cargo/git", "go/pkg/mod", ".cache/uv",
          ".gradle/caches", ".gradle/wrapper/dists", ".m2/repository", ".pub-cache", ".nuget/packages"})
        macOS.emplace(home + "/" + path, kLinuxToolCaches.at(path));
    EXPECT_EQ(cacheTitles(scanOf(
                  PlatformLocations::configuration(home, {}, {Platform::macOS, {}, std::nullopt, std::nullopt}))),
              macOS);
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
