#include "core/scanning/project_locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

TEST(ProjectLocationsTest, CustomaryFoldersAndProjectLikeChildrenOnceInFinderOrder) {
    TempTree tree;
    tree.makeDir("home/Developer");
    tree.writeFile("home/Code");  // a file, not a folder
    tree.writeFile("elsewhere/package.json");
    tree.symlink(tree.path("elsewhere"), "home/workspace");  // customary and project-like, but a link
    tree.writeFile("home/Projects/Cargo.toml");              // customary and project-like: once
    tree.writeFile("home/website/package.json");
    tree.writeFile("home/Tool/Package.swift");
    tree.writeFile("home/worktree/.git", "gitdir: /elsewhere");  // a file is enough
    tree.writeFile("home/proj10/Cargo.toml");
    tree.writeFile("home/proj2/package.json");
    tree.writeFile("home/notes/readme.txt");
    tree.writeFile("home/Documents/.git/HEAD");
    tree.writeFile("home/Library/package.json");
    tree.writeFile("home/.config/.git/HEAD");
    tree.symlink("/nonexistent/package.json", "home/dangling/package.json");

    EXPECT_EQ(ProjectLocations::suggested(tree.path("home")),
              (std::vector<std::string>{tree.path("home/Developer"), tree.path("home/proj2"), tree.path("home/proj10"),
                                        tree.path("home/Projects"), tree.path("home/Tool"), tree.path("home/website"),
                                        tree.path("home/worktree")}));

    // A home that others may pass through but not list still gives its customary folders.
    ::chmod(tree.path("home").c_str(), 0711);
    EXPECT_EQ(testing::runAsNobody([&] {
                  EXPECT_EQ(ProjectLocations::suggested(tree.path("home")),
                            (std::vector<std::string>{tree.path("home/Developer"), tree.path("home/Projects")}));
              }),
              0);
}

TEST(ProjectLocationsTest, EcosystemProjectFoldersWhereTheyExistAndNotThroughALink) {
    TempTree tree;
    for (const char* folder :
         {"home/AndroidStudioProjects", "home/IdeaProjects", "home/go/src", "home/go/pkg/mod", "elsewhere/repos"})
        tree.makeDir(folder);
    tree.symlink(tree.path("elsewhere"), "home/source");  // source/repos passes through a link
    EXPECT_EQ(ProjectLocations::suggested(tree.path("home")),
              (std::vector<std::string>{tree.path("home/AndroidStudioProjects"), tree.path("home/go/src"),
                                        tree.path("home/IdeaProjects")}));
    ::unlink(tree.path("home/source").c_str());
    tree.makeDir("home/source/repos");
    EXPECT_EQ(ProjectLocations::suggested(tree.path("home")).back(), tree.path("home/source/repos"));
}

}  // namespace
}  // namespace tarnby
