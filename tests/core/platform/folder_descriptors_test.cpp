#include "core/platform/folder_descriptors.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <deque>
#include <string>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using Folder = FolderDescriptors::Folder;

FolderIdentity identityOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// Folders named by views into `text`, which must outlive them.
Folder& child(std::deque<Folder>& folders, Folder& parent, std::string_view text) {
    Folder& folder = folders.emplace_back();
    folder.parent = &parent;
    folder.name = text;
    return folder;
}

TEST(FolderDescriptors, RefusesARootOrFolderSwappedForAnotherOrForALinkAndStaysLost) {
    TempTree tree;
    tree.makeDir("root/a/b/c");
    tree.makeDir("root/x/y/z");
    tree.makeDir("root/sub");
    tree.makeDir("elsewhere");
    tree.symlink(tree.path("root"), "link");

    FolderDescriptors descriptors({.open = 1, .ahead = 0});
    std::deque<Folder> folders;
    Folder& root = folders.emplace_back();
    EXPECT_FALSE(descriptors.openRoot(root, tree.path("link"), false));
    EXPECT_TRUE(descriptors.openRoot(root, tree.path("link"), true, identityOf(tree.path("root"))));
    EXPECT_FALSE(descriptors.openRoot(root, tree.path("root"), false, identityOf(tree.path("elsewhere"))));
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(descriptors.openRoot(root, tree.path("root"), false, identityOf(tree.path("root"))));
    // Children of a known identity must be that folder.
    Folder& wrong = child(folders, root, "sub");
    wrong.identity = identityOf(tree.path("elsewhere"));
    EXPECT_EQ(descriptors.acquire(wrong), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(descriptors.acquire(child(folders, root, "missing")), -1);

    // Opens three levels; the third goes again, so nothing below the first stays open.
    const auto chain = [&](const char* first, const char* second, const char* third) {
        Folder& a = child(folders, root, first);
        Folder& b = child(folders, a, second);
        std::deque<Folder> below;
        for (Folder* folder : {&a, &b, &child(below, b, third)}) {
            EXPECT_GE(descriptors.acquire(*folder), 0);
            descriptors.release(*folder);
        }
        return &b;
    };
    // "a" is swapped for a new folder holding a "b" of its own: same names, other folders.
    Folder* b = chain("a", "b", "c");
    ASSERT_EQ(::rename(tree.path("root/a").c_str(), tree.path("elsewhere/a").c_str()), 0);
    tree.makeDir("root/a/b/c");
    Folder& c = child(folders, *b, "c");
    FolderDescriptors::Failure failure;
    EXPECT_EQ(descriptors.acquire(c, &failure), -1);
    EXPECT_TRUE(failure.folder == b->parent && failure.error == ENOENT) << failure.error;
    // Once lost, nothing below is tried again or reported twice.
    FolderDescriptors::Failure again;
    EXPECT_EQ(descriptors.acquire(c, &again) + descriptors.acquire(child(folders, *b, "d"), &again), -2);
    EXPECT_EQ(again.folder, nullptr);
    EXPECT_GE(descriptors.acquire(root), 0);  // the root itself is never closed
    descriptors.release(root);

    // A folder replaced by a link to itself is not followed either.
    Folder* y = chain("x", "y", "z");
    ASSERT_EQ(::rename(tree.path("root/x").c_str(), tree.path("elsewhere/x").c_str()), 0);
    tree.symlink(tree.path("elsewhere/x"), "root/x");
    EXPECT_EQ(descriptors.acquire(child(folders, *y, "z"), &failure), -1);
    EXPECT_EQ(failure.folder, y->parent);
    EXPECT_NE(failure.error, 0);
    while (folders.size() > 1) folders.pop_back();
}

}  // namespace
}  // namespace tarnby
