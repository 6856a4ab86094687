#include "core/scanning/scanner.h"

#include <gtest/gtest.h>

#include "core/scanning/platform_locations.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using enum StorageKind;
using namespace std::string_literals;

// Each way a catalogue row finds its marker; the rows themselves are checked through the list
// `quillet help scan` prints from them.
TEST(ClassifyTest, FoldersBesideAnExistingMarkerInsideThemOrMatchingAPatternAndTheFirstLockFileDecides) {
    TempTree tree;
    for (const char* file :
         {"pnpm/pnpm-lock.yaml", "pnpm/yarn.lock", "pnpm/package-lock.json", "pnpm/package.json", "yarn/yarn.lock",
          "yarn/package-lock.json", "yarn/package.json", "npm/package-lock.json", "npm/package.json",
          "web/package.json", "nomarker/yarn.lock", "rust/Cargo.toml", "swift/Package.swift", "both/Cargo.toml",
          "both/pom.xml", "maven/pom.xml", "notes/App.csproj.bak", "py/pyproject.toml", "gradle/settings.gradle"})
        tree.writeFile(file);
    for (const char* marker : {"Package.swift", "App.csproj", "pubspec.yaml"})
        tree.symlink(tree.path("nowhere/") + marker, std::string("dangling/") + marker);
    tree.makeDir("py/.venv");
    // The folder, the marker that must be there for it (when not written above), kind and rebuild text.
    const struct {
        const char* folder;
        const char* marker;
        StorageKind kind;
        const char* rebuild;
    } targets[] = {{"pnpm/node_modules", "", dependencies, "pnpm install --frozen-lockfile"},
                   {"yarn/node_modules", "", dependencies, "yarn install"},
                   {"npm/node_modules", "", dependencies, "npm ci"},
                   {"web/node_modules", "", dependencies, "npm install"},
                   {"both/target", "", builds, "cargo build"},  // Cargo's row comes first where both are
                   {"maven/target", "", builds, "mvn package"},
                   {"p1/.venv", "p1/.venv/pyvenv.cfg", dependencies, ""},  // inside the folder
                   {"p2/.nox", "p2/setup.py", builds, ""},                 // not the first of its markers
                   {"p6/build", "p6/pubspec.yaml", builds, ""},            // the second row of its name
                   {"p7/obj", "p7/App.fsproj", builds, ""},                // "*.fsproj"
                   {"p8/.output", "p8/nuxt.config.mjs", builds, ""}};      // "nuxt.config.*"
    for (const auto& target : targets) {
        if (*target.marker) tree.writeFile(target.marker);
        const auto found = Scanner::classify(tree.makeDir(target.folder));
        ASSERT_TRUE(found) << target.folder;
        EXPECT_EQ(found->kind, target.kind) << target.folder;
        EXPECT_FALSE(found->explanation.empty() || found->rebuild.empty()) << target.folder;
        EXPECT_TRUE(!*target.rebuild || found->rebuild == target.rebuild) << target.folder << ": " << found->rebuild;
    }
    // No marker, letter case, another target's or tool's marker, a name that only begins like a
    // pattern, a folder without what it must hold, a marker of the project only, dangling markers.
    for (const char* path : {"nomarker/node_modules", "rust/Target", "rust/node_modules", "swift/target", "web/.build",
                             "dangling/.build", "web/build", "web/bin", "notes/bin", "py/.venv", "py/venv",
                             "gradle/.cxx", "dangling/obj", "dangling/build", "web/.nuxt"})
        EXPECT_FALSE(Scanner::classify(tree.path(path))) << path;
}

TEST(ProtectedSystemPathTest, MatchesWholeComponentsOfTheStandardizedPath) {
    for (const char* path : {"/System/Library", "/Library", "/Applications", "/bin", "/sbin", "/usr/local/lib", "/etc",
                             "/home/../usr/share"})
        EXPECT_TRUE(Scanner::protectedSystemPath(path)) << path;
    for (const char* path : {"/", "/Applications.old", "/usrdata", "/Users/me/Library", "/system", "/usr/../home"})
        EXPECT_FALSE(Scanner::protectedSystemPath(path)) << path;
}

TEST(RecognizedTest, EachKindMustStillBeATargetOfThisConfiguration) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    const std::string derived = "home/Library/Developer/Xcode/DerivedData/App-abc";
    const std::string devices = "home/Library/Developer/CoreSimulator/Devices/";
    const std::string device = devices + "8A3F1C2E-0B4D-4E5F-9A6B-7C8D9E0F1A2B";
    for (const std::string& folder : {"home/code/web/node_modules"s, "home/other/node_modules"s, "home/.npm/_cacache"s,
                                      "other/.npm/_cacache"s, "home/code/py/.mypy_cache"s, "home/code/py/.tox"s,
                                      "home/.cargo/registry"s, derived + "/Build", device, devices + "ABC"})
        tree.makeDir(folder);
    for (const char* marker : {"home/code/web/package.json", "home/other/package.json", "home/code/py/pyproject.toml"})
        tree.writeFile(marker);
    tree.symlink(tree.path("home/code/web"), "home/code/alias");
    const UserEnvironment onLinux{Platform::linuxDesktop, {}, std::nullopt, std::nullopt};
    const auto configuration = PlatformLocations::configuration(home, {tree.path("home/code")}, onLinux);
    const auto recognized = [&](const std::string& relative, StorageKind kind, std::optional<std::string> id = {},
                                const ScanConfiguration* under = nullptr) {
        return Scanner::recognized({tree.path(relative), kind, "", "", "", {}, std::move(id), {}, {}},
                                   under ? *under : configuration);
    };
    // Without the further cache locations, or with no root holding the folder, it is no target.
    const ScanConfiguration plain(home, {home});
    const ScanConfiguration rootless = PlatformLocations::configuration(home, {}, onLinux);

    const struct {
        std::string path;
        StorageKind kind;
        std::optional<std::string> id;
        bool expected;
        const ScanConfiguration* under = nullptr;
    } cases[] = {
        {"home/code/web/node_modules", dependencies, {}, true},
        {"home/code/web/node_modules", builds, {}, false},
        {"home/other/node_modules", dependencies, {}, false},
        {"home/code/alias/node_modules", dependencies, {}, false},
        {"home/code/py/.mypy_cache", caches, {}, true},
        {"home/code/py/.mypy_cache", caches, {}, false, &rootless},
        {derived, builds, {}, true},
        {derived + "/Build", builds, {}, false},
        {"home/.npm/_cacache", caches, {}, true},
        {"other/.npm/_cacache", caches, {}, false},
        {"home/.cargo/registry", caches, {}, true},
        {"home/.cargo/registry", caches, {}, false, &plain},
        {device, simulators, "8a3f1c2e-0b4d-4e5f-9a6b-7c8d9e0f1a2b", true},
        {device, simulators, {}, false},
        {device, simulators, "11111111-2222-3333-4444-555555555555", false},
        {devices + "ABC", simulators, "ABC", false},  // not a UUID
    };
    for (const auto& c : cases) EXPECT_EQ(recognized(c.path, c.kind, c.id, c.under), c.expected) << c.path;
}

}  // namespace
}  // namespace tarnby
