#include "core/scanning/project_locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

TEST(ProjectLocationsTest, CustomaryFoldersAreSuggestedInFinderOrder) {
    TempTree tree;
    tree.makeDir("home/src");
    tree.makeDir("home/Developer");
    tree.makeDir("home/workspace");
    tree.writeFile("home/Code");  // a file, not a folder
    tree.makeDir("elsewhere");
    tree.symlink(tree.path("elsewhere"), "home/Projects");

    EXPECT_EQ(ProjectLocations::suggested(tree.path("home")),
              (std::vector<std::string>{tree.path("home/Developer"), tree.path("home/src"),
                                        tree.path("home/workspace")}));
}

TEST(ProjectLocationsTest, VisibleChildrenWithAMarkerAreSuggestedInFinderOrder) {
    TempTree tree;
    tree.writeFile("home/website/package.json");
    tree.writeFile("home/Tool/Package.swift");
    tree.writeFile("home/crate/Cargo.toml");
    tree.writeFile("home/worktree/.git", "gitdir: /elsewhere");  // a file is enough
    tree.writeFile("home/notes/readme.txt");
    tree.writeFile("home/Documents/.git/HEAD");
    tree.writeFile("home/Library/package.json");
    tree.writeFile("home/.config/.git/HEAD");
    tree.writeFile("home/Projects/Cargo.toml");  // customary and project-like: once
    tree.writeFile("home/proj10/package.json");
    tree.writeFile("home/proj2/package.json");
    tree.writeFile("elsewhere/package.json");
    tree.symlink(tree.path("elsewhere"), "home/linked");
    tree.writeFile("home/dangling/package.json");
    ::unlink(tree.path("home/dangling/package.json").c_str());
    ::symlink("/nonexistent/package.json", tree.path("home/dangling/package.json").c_str());

    EXPECT_EQ(ProjectLocations::suggested(tree.path("home")),
              (std::vector<std::string>{tree.path("home/crate"), tree.path("home/proj2"), tree.path("home/proj10"),
                                        tree.path("home/Projects"), tree.path("home/Tool"), tree.path("home/website"),
                                        tree.path("home/worktree")}));
}

struct UnlistableHome {
    std::string home;
    std::string src;
};

void suggestWithoutPrivileges(void* context) {
    const auto& fixture = *static_cast<const UnlistableHome*>(context);
    const auto found = ProjectLocations::suggested(fixture.home);
    if (found != std::vector<std::string>{fixture.src}) {
        for (const auto& path : found) std::fprintf(stderr, "suggested: %s\n", path.c_str());
        ::_exit(1);
    }
}

TEST(ProjectLocationsTest, UnlistableHomeStillGivesCustomaryFolders) {
    TempTree tree;
    tree.makeDir("home/src");
    tree.writeFile("home/website/package.json");
    UnlistableHome fixture{tree.path("home"), tree.path("home/src")};
    ::chmod(fixture.home.c_str(), 0711);  // others may pass through but not list

    EXPECT_EQ(testing::runAsNobody(suggestWithoutPrivileges, &fixture), 0);
}

}  // namespace
}  // namespace tarnby
