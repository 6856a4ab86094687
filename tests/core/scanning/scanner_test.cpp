#include "core/scanning/scanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

std::string rebuildOf(const std::string& path) {
    const auto classification = Scanner::classify(path);
    return classification ? classification->rebuild : "<none>";
}

TEST(ClassifyTest, NodeModulesRebuildFollowsFirstLockFileFound) {
    TempTree tree;
    for (const char* file : {"pnpm/pnpm-lock.yaml", "pnpm/yarn.lock", "pnpm/package-lock.json", "yarn/yarn.lock",
                             "yarn/package-lock.json", "npm/package-lock.json", "bare/package.json",
                             "pnpm/package.json", "yarn/package.json", "npm/package.json", "nomarker/yarn.lock"}) {
        tree.writeFile(file);
    }
    EXPECT_EQ(rebuildOf(tree.path("pnpm/node_modules")), "pnpm install --frozen-lockfile");
    EXPECT_EQ(rebuildOf(tree.path("yarn/node_modules")), "yarn install");
    EXPECT_EQ(rebuildOf(tree.path("npm/node_modules")), "npm ci");
    EXPECT_EQ(rebuildOf(tree.path("bare/node_modules")), "npm install");
    EXPECT_EQ(rebuildOf(tree.path("nomarker/node_modules")), "<none>");
}

TEST(ClassifyTest, BuildFoldersNeedTheirOwnMarkerExistingBesideThem) {
    TempTree tree;
    tree.writeFile("rust/Cargo.toml");
    tree.writeFile("swift/Package.swift");
    tree.writeFile("web/package.json");
    tree.symlink(tree.path("nowhere/Package.swift"), "dangling/Package.swift");

    EXPECT_EQ(rebuildOf(tree.path("rust/target")), "cargo build");
    EXPECT_EQ(rebuildOf(tree.path("swift/.build")), "swift build");
    EXPECT_EQ(Scanner::classify(tree.path("web/.next"))->kind, StorageKind::builds);
    EXPECT_EQ(Scanner::classify(tree.path("web/node_modules"))->kind, StorageKind::dependencies);
    // Letter case, another target's marker, a dangling marker.
    for (const char* path : {"rust/Target", "rust/node_modules", "swift/target", "web/.build", "dangling/.build"}) {
        EXPECT_FALSE(Scanner::classify(tree.path(path))) << path;
    }
}

TEST(ProtectedSystemPathTest, MatchesWholeComponentsOfTheStandardizedPath) {
    for (const char* path : {"/System/Library", "/Library", "/Applications", "/bin", "/sbin", "/usr/local/lib",
                             "/etc", "/home/../usr/share"}) {
        EXPECT_TRUE(Scanner::protectedSystemPath(path)) << path;
    }
    for (const char* path : {"/", "/Applications.old", "/usrdata", "/Users/me/Library", "/system", "/usr/../home"}) {
        EXPECT_FALSE(Scanner::protectedSystemPath(path)) << path;
    }
}

class RecognizedTest : public ::testing::Test {
protected:
    bool recognized(const std::string& relative, StorageKind kind,
                    std::optional<std::string> deviceID = std::nullopt) const {
        const StorageItem item{tree.path(relative), kind, "t", "e", "r", Measurement{}, std::move(deviceID),
                               std::nullopt, std::nullopt};
        return Scanner::recognized(item, configuration);
    }

    TempTree tree;
    ScanConfiguration configuration{tree.path("home"), {tree.path("home/code")}};
};

TEST_F(RecognizedTest, ProjectTargetsMustStillBeTheirKindInsideARoot) {
    tree.writeFile("home/code/web/package.json");
    tree.makeDir("home/code/web/node_modules");
    tree.makeDir("home/code/web/.next");
    tree.writeFile("home/other/package.json");
    tree.makeDir("home/other/node_modules");
    tree.symlink(tree.path("home/code/web"), "home/code/alias");

    EXPECT_TRUE(recognized("home/code/web/node_modules", StorageKind::dependencies));
    EXPECT_TRUE(recognized("home/code/web/.next", StorageKind::builds));
    EXPECT_FALSE(recognized("home/code/web/node_modules", StorageKind::builds));
    EXPECT_FALSE(recognized("home/other/node_modules", StorageKind::dependencies));
    EXPECT_FALSE(recognized("home/code/alias/node_modules", StorageKind::dependencies));
    EXPECT_FALSE(recognized("home/code/web/../web/node_modules", StorageKind::dependencies));

    ::unlink(tree.path("home/code/web/package.json").c_str());
    EXPECT_FALSE(recognized("home/code/web/node_modules", StorageKind::dependencies));
}

TEST_F(RecognizedTest, FixedLocationsBelongToThisHome) {
    const std::string derived = "home/Library/Developer/Xcode/DerivedData/App-abc";
    tree.makeDir(derived + "/Build");
    tree.makeDir("home/.npm/_cacache");
    tree.makeDir("other/.npm/_cacache");
    const std::string devices = "home/Library/Developer/CoreSimulator/Devices/";
    const std::string uuid = "8A3F1C2E-0B4D-4E5F-9A6B-7C8D9E0F1A2B";
    tree.makeDir(devices + uuid);
    tree.makeDir(devices + "ABC");

    EXPECT_TRUE(recognized(derived, StorageKind::builds));  // no marker needed
    EXPECT_FALSE(recognized(derived, StorageKind::dependencies));
    EXPECT_FALSE(recognized(derived + "/Build", StorageKind::builds));
    EXPECT_TRUE(recognized("home/.npm/_cacache", StorageKind::caches));
    EXPECT_FALSE(recognized("other/.npm/_cacache", StorageKind::caches));

    EXPECT_TRUE(recognized(devices + uuid, StorageKind::simulators, "8a3f1c2e-0b4d-4e5f-9a6b-7c8d9e0f1a2b"));
    EXPECT_FALSE(recognized(devices + uuid, StorageKind::simulators));
    EXPECT_FALSE(recognized(devices + uuid, StorageKind::simulators, "11111111-2222-3333-4444-555555555555"));
    EXPECT_FALSE(recognized(devices + "ABC", StorageKind::simulators, "ABC"));
}

}  // namespace
}  // namespace tarnby
