#include "core/platform/folder_descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <string>
#include <utility>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using Folder = FolderDescriptors::Folder;

bool holds(int fd, const std::string& name) { return ::faccessat(fd, name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0; }

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

TEST(FolderDescriptors, WalksPastPathMaxWithinItsBudgetAndFindsClosedFoldersFromBelowOrAbove) {
    TempTree tree;
    // Each level holds "down" (the next level), a sibling "side" with a marker naming its depth,
    // and a marker of its own. Whole paths pass PATH_MAX, so the tree is built by descriptor.
    constexpr int kLevels = 150;
    static const std::string down = "down-through-a-tree-deeper-than-any-path";
    static const std::string side = "side";
    static_assert(kLevels * 41 > PATH_MAX);
    tree.chain("deep", kLevels, down, [&](int fd, int level) {
        ::mkdirat(fd, side.c_str(), 0755);
        testing::writeFileAt(fd, "side/at-" + std::to_string(level));
        testing::writeFileAt(fd, "level-" + std::to_string(level));
    });

    const auto baseline = testing::openDescriptors();
    FolderDescriptors descriptors({.open = 2, .ahead = 1});
    std::deque<Folder> folders;
    Folder& root = folders.emplace_back();
    ASSERT_TRUE(descriptors.openRoot(root, tree.path("deep"), false));
    std::vector<Folder*> levels{&root};
    for (int level = 1; level <= kLevels; ++level) {
        Folder& next = child(folders, *levels.back(), down);
        ASSERT_GE(descriptors.acquire(next), 0) << level;
        descriptors.release(next);
        levels.push_back(&next);
        // Opened ahead: room for one while another waits to be used.
        if (descriptors.reserveAhead()) {
            const int parentFd = descriptors.acquire(*levels[level - 1]);
            const std::pair<Folder*, int> opened{&child(folders, *levels[level - 1], side),
                                                 ::openat(parentFd, side.c_str(), O_RDONLY | O_DIRECTORY)};
            descriptors.adopt({&opened, 1});
            descriptors.release(*levels[level - 1]);
            EXPECT_FALSE(descriptors.reserveAhead());
        }
        ASSERT_LE(descriptors.openCount(), 3u);  // the root and two kept
    }
    EXPECT_EQ(testing::openDescriptors() - baseline, 3);

    // A renamed ancestor far above: only a way up through ".." reaches the levels below it.
    const std::string top = tree.path("deep/" + down);
    ASSERT_EQ(::rename((top + "/" + down).c_str(), (top + "/renamed").c_str()), 0);

    // From deep below: the parent of a side folder 10 levels up is closed, and so is its
    // own last child; the open levels further down lead to it.
    Folder& far = child(folders, *levels[kLevels - 10], side);
    const int farFd = descriptors.acquire(far);
    ASSERT_GE(farFd, 0);
    EXPECT_TRUE(holds(farFd, "at-" + std::to_string(kLevels - 10)));
    descriptors.release(far);

    // Climbing back, a folder left for good hands its descriptor on to its parent.
    for (int level = kLevels - 1; level >= 2; --level) {
        descriptors.leave(*levels[level + 1]);
        Folder& sideFolder = child(folders, *levels[level], side);
        const int sideFd = descriptors.acquire(sideFolder);
        ASSERT_GE(sideFd, 0) << level;
        EXPECT_TRUE(holds(sideFd, "at-" + std::to_string(level))) << level;
        descriptors.leave(sideFolder);
        ASSERT_LE(descriptors.openCount(), 3u);
    }
    while (folders.size() > 1) folders.pop_back();  // children before their parents
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
