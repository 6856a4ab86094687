#include "core/scanning/scanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/scanning/platform_locations.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using enum StorageKind;
using namespace std::string_literals;

TEST(ClassifyTest, ExactNameBesideAnExistingMarkerAndFirstLockFileDecidesReinstall) {
    TempTree tree;
    for (const char* file :
         {"pnpm/pnpm-lock.yaml", "pnpm/yarn.lock", "pnpm/package-lock.json", "pnpm/package.json", "yarn/yarn.lock",
          "yarn/package-lock.json", "yarn/package.json", "npm/package-lock.json", "npm/package.json",
          "web/package.json", "nomarker/yarn.lock", "rust/Cargo.toml", "swift/Package.swift"})
        tree.writeFile(file);
    tree.symlink(tree.path("nowhere/Package.swift"), "dangling/Package.swift");

    const struct {
        const char* path;
        StorageKind kind;
        const char* rebuild;
    } targets[] = {{"pnpm/node_modules", dependencies, "pnpm install --frozen-lockfile"},
                   {"yarn/node_modules", dependencies, "yarn install"},
                   {"npm/node_modules", dependencies, "npm ci"},
                   {"web/node_modules", dependencies, "npm install"},
                   {"web/.next", builds, nullptr},
                   {"rust/target", builds, nullptr},
                   {"swift/.build", builds, nullptr}};
    for (const auto& target : targets) {
        const auto found = Scanner::classify(tree.path(target.path));
        ASSERT_TRUE(found) << target.path;
        EXPECT_EQ(found->kind, target.kind) << target.path;
        if (target.rebuild) {
            EXPECT_EQ(found->rebuild, target.rebuild) << target.path;
        }
    }
    // No marker, letter case, another target's marker, a dangling marker.
    for (const char* path :
         {"nomarker/node_modules", "rust/Target", "rust/node_modules", "swift/target", "web/.build", "dangling/.build"})
        EXPECT_FALSE(Scanner::classify(tree.path(path))) << path;
}

// Each way a catalogue row finds its marker; the rows themselves are checked through the list
// `quillet help scan` prints from them.
TEST(ClassifyTest, EcosystemFoldersBesideAnyOfTheirMarkersInsideThemOrMatchingAPattern) {
    TempTree tree;
    // The marker's path in the project ("folder/file" is inside the folder), the folder, its kind.
    const struct {
        const char* marker;
        const char* folder;
        StorageKind kind;
    } cases[] = {
        {".venv/pyvenv.cfg", ".venv", dependencies},
        {"setup.py", ".nox", builds},  // not the first of its markers
        {"tox.ini", ".pytest_cache", caches},
        {"settings.gradle.kts", ".gradle", caches},
        {"build.gradle.kts", ".cxx", builds},
        {"pubspec.yaml", "build", builds},       // the second row of its name
        {"App.fsproj", "obj", builds},           // "*.fsproj"
        {"nuxt.config.mjs", ".output", builds},  // "nuxt.config.*"
        {"tool.cabal", "dist-newstyle", builds},
        {"mix.exs", "deps", dependencies},
    };
    int project = 0;
    for (const auto& c : cases) {
        const std::string folder = "p" + std::to_string(++project) + "/" + c.folder;
        tree.writeFile("p" + std::to_string(project) + "/" + c.marker);
        tree.makeDir(folder);
        const auto found = Scanner::classify(tree.path(folder));
        ASSERT_TRUE(found) << c.marker << " " << c.folder;
        EXPECT_EQ(found->kind, c.kind) << c.marker << " " << c.folder;
        EXPECT_FALSE(found->explanation.empty() || found->rebuild.empty()) << c.folder;
    }

    // Cargo's row comes first where both markers are; Maven's where only its own is.
    tree.writeFile("both/Cargo.toml");
    tree.writeFile("both/pom.xml");
    tree.writeFile("maven/pom.xml");
    EXPECT_EQ(Scanner::classify(tree.path("both/target"))->rebuild, "cargo build");
    EXPECT_EQ(Scanner::classify(tree.path("maven/target"))->rebuild, "mvn package");

    // Look-alikes: another tool's marker, a name that only begins like a pattern, a folder
    // without what it must hold, a marker of the project only, dangling markers.
    tree.writeFile("web/package.json");
    tree.writeFile("notes/App.csproj.bak");
    tree.writeFile("py/pyproject.toml");
    tree.makeDir("py/.venv");
    tree.writeFile("gradle/settings.gradle");
    tree.symlink(tree.path("nowhere/App.csproj"), "dangling/App.csproj");
    tree.symlink(tree.path("nowhere/pubspec.yaml"), "dangling/pubspec.yaml");
    for (const char* path : {"web/build", "web/bin", "notes/bin", "py/.venv", "py/venv", "gradle/.cxx", "dangling/obj",
                             "dangling/build", "web/.nuxt"})
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
    for (const std::string& folder :
         {"home/code/web/node_modules"s, "home/code/web/.next"s, "home/other/node_modules"s, "home/.npm/_cacache"s,
          "other/.npm/_cacache"s, "home/code/py/.mypy_cache"s, "home/code/py/.tox"s, "home/.cargo/registry"s,
          derived + "/Build", device, devices + "ABC"})
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
        {"home/code/web/.next", builds, {}, true},
        {"home/other/node_modules", dependencies, {}, false},
        {"home/code/alias/node_modules", dependencies, {}, false},
        {"home/code/web/../web/node_modules", dependencies, {}, false},
        {"home/code/py/.mypy_cache", caches, {}, true},
        {"home/code/py/.mypy_cache", builds, {}, false},
        {"home/code/py/.mypy_cache", caches, {}, false, &rootless},
        {"home/code/py/.tox", builds, {}, true},
        {derived, builds, {}, true},
        {derived, dependencies, {}, false},
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
    ::unlink(tree.path("home/code/web/package.json").c_str());
    EXPECT_FALSE(recognized("home/code/web/node_modules", dependencies));
}

}  // namespace
}  // namespace tarnby
