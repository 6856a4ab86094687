#include "core/scanning/scanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using enum StorageKind;

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

TEST(ProtectedSystemPathTest, MatchesWholeComponentsOfTheStandardizedPath) {
    for (const char* path : {"/System/Library", "/Library", "/Applications", "/bin", "/sbin", "/usr/local/lib", "/etc",
                             "/home/../usr/share"})
        EXPECT_TRUE(Scanner::protectedSystemPath(path)) << path;
    for (const char* path : {"/", "/Applications.old", "/usrdata", "/Users/me/Library", "/system", "/usr/../home"})
        EXPECT_FALSE(Scanner::protectedSystemPath(path)) << path;
}

TEST(RecognizedTest, EachKindMustStillBeATargetOfThisConfiguration) {
    TempTree tree;
    const std::string derived = "home/Library/Developer/Xcode/DerivedData/App-abc";
    const std::string devices = "home/Library/Developer/CoreSimulator/Devices/";
    const std::string device = devices + "8A3F1C2E-0B4D-4E5F-9A6B-7C8D9E0F1A2B";
    for (const char* folder : {"home/code/web/node_modules", "home/code/web/.next", "home/other/node_modules",
                               "home/.npm/_cacache", "other/.npm/_cacache"})
        tree.makeDir(folder);
    for (const auto& folder : {derived + "/Build", device, devices + "ABC"}) tree.makeDir(folder);
    for (const char* marker : {"home/code/web/package.json", "home/other/package.json"}) tree.writeFile(marker);
    tree.symlink(tree.path("home/code/web"), "home/code/alias");
    const ScanConfiguration configuration{tree.path("home"), {tree.path("home/code")}};
    const auto recognized = [&](const std::string& relative, StorageKind kind, std::optional<std::string> id = {}) {
        return Scanner::recognized({tree.path(relative), kind, "", "", "", {}, std::move(id), {}, {}}, configuration);
    };

    const struct {
        std::string path;
        StorageKind kind;
        std::optional<std::string> id;
        bool expected;
    } cases[] = {
        {"home/code/web/node_modules", dependencies, {}, true},
        {"home/code/web/node_modules", builds, {}, false},
        {"home/code/web/.next", builds, {}, true},
        {"home/other/node_modules", dependencies, {}, false},
        {"home/code/alias/node_modules", dependencies, {}, false},
        {"home/code/web/../web/node_modules", dependencies, {}, false},
        {derived, builds, {}, true},
        {derived, dependencies, {}, false},
        {derived + "/Build", builds, {}, false},
        {"home/.npm/_cacache", caches, {}, true},
        {"other/.npm/_cacache", caches, {}, false},
        {device, simulators, "8a3f1c2e-0b4d-4e5f-9a6b-7c8d9e0f1a2b", true},
        {device, simulators, {}, false},
        {device, simulators, "11111111-2222-3333-4444-555555555555", false},
        {devices + "ABC", simulators, "ABC", false},  // not a UUID
    };
    for (const auto& c : cases) EXPECT_EQ(recognized(c.path, c.kind, c.id), c.expected) << c.path;
    ::unlink(tree.path("home/code/web/package.json").c_str());
    EXPECT_FALSE(recognized("home/code/web/node_modules", dependencies));
}

}  // namespace
}  // namespace tarnby
