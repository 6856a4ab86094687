#include "core/platform/folder_stack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>
#include <utility>

#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

std::ptrdiff_t openDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

bool holds(int fd, const std::string& name) { return ::faccessat(fd, name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0; }

FolderStack::Identity identityOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

TEST(FolderStack, WalksBelowPathMaxWithBoundedDescriptorsReopeningEachLevelOnTheWayUp) {
    TempTree tree;
    // Each level holds "down" (the next level), a sibling "side" with a marker naming its depth,
    // and a marker of its own. Whole paths pass PATH_MAX, so the tree is built by descriptor.
    constexpr int kLevels = 150;
    const std::string down = "down-through-a-tree-deeper-than-any-path";
    static_assert(kLevels * 41 > PATH_MAX);
    int fd = ::open(tree.makeDir("deep").c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < kLevels; ++level) {
        ASSERT_EQ(::mkdirat(fd, down.c_str(), 0755), 0);
        ASSERT_EQ(::mkdirat(fd, "side", 0755), 0);
        ::close(::openat(fd, ("side/at-" + std::to_string(level)).c_str(), O_WRONLY | O_CREAT, 0644));
        ::close(::openat(fd, ("level-" + std::to_string(level)).c_str(), O_WRONLY | O_CREAT, 0644));
        ::close(std::exchange(fd, ::openat(fd, down.c_str(), O_RDONLY | O_DIRECTORY)));
    }
    ::close(fd);

    const auto baseline = openDescriptors();
    {
        FolderStack stack(4);
        ASSERT_TRUE(stack.openRoot(tree.path("deep"), false));
        for (int level = 1; level <= kLevels; ++level) {
            ASSERT_GE(stack.push(down), 0) << level;
            ASSERT_LE(stack.openCount(), 4u);
        }
        EXPECT_EQ(stack.depth(), std::size_t(kLevels + 1));
        EXPECT_EQ(openDescriptors() - baseline, 4);
        // Climbing back, every level's side folder is entered from a folder that was closed.
        for (int level = kLevels - 1; level >= 0; --level) {
            stack.pop();
            const int top = stack.top();
            ASSERT_GE(top, 0) << level;
            EXPECT_TRUE(holds(top, "level-" + std::to_string(level))) << level;
            const int side = stack.push("side");
            ASSERT_GE(side, 0) << level;
            EXPECT_TRUE(holds(side, "at-" + std::to_string(level))) << level;
            stack.pop();
            ASSERT_LE(stack.openCount(), 4u);
        }
        EXPECT_EQ(stack.depth(), 1u);

        FolderStack moved = std::move(stack);  // the descriptors go along, closed once
        EXPECT_EQ(stack.depth(), 0u);
        EXPECT_EQ(moved.openCount(), 1u);
        EXPECT_LT(stack.top(), 0);
    }
    EXPECT_EQ(openDescriptors(), baseline);
}

TEST(FolderStack, RefusesAFolderSwappedForAnotherOrForALinkAndStaysLost) {
    TempTree tree;
    tree.makeDir("root/a/b/c/d");
    tree.makeDir("root/x/y/z/w");
    tree.makeDir("elsewhere");

    FolderStack stack(2);
    ASSERT_TRUE(stack.openRoot(tree.path("root"), false));
    for (const char* name : {"a", "b", "c", "d"}) ASSERT_GE(stack.push(name), 0) << name;
    stack.pop();
    stack.pop();  // "b" is innermost again, and closed
    // "a" is swapped for a new folder holding a "b" of its own: same names, other folders.
    ASSERT_EQ(::rename(tree.path("root/a").c_str(), tree.path("elsewhere/a").c_str()), 0);
    tree.makeDir("root/a/b");
    FolderStack::Failure failure;
    EXPECT_EQ(stack.top(&failure), -1);
    EXPECT_EQ(failure.depth, 1u);
    EXPECT_EQ(failure.error, ENOENT);
    // Once lost, nothing below is tried again or reported twice.
    FolderStack::Failure again;
    EXPECT_EQ(stack.top(&again), -1);
    EXPECT_EQ(again.error, 0);
    EXPECT_EQ(stack.push("c"), -1);
    EXPECT_EQ(stack.depth(), 3u);
    stack.pop();
    stack.pop();
    EXPECT_GE(stack.top(), 0);  // the root itself is never closed

    // A folder replaced by a link to itself is not followed either.
    for (const char* name : {"x", "y", "z", "w"}) ASSERT_GE(stack.push(name), 0) << name;
    stack.pop();
    stack.pop();
    ASSERT_EQ(::rename(tree.path("root/x").c_str(), tree.path("elsewhere/x").c_str()), 0);
    tree.symlink(tree.path("elsewhere/x"), "root/x");
    EXPECT_EQ(stack.top(&failure), -1);
    EXPECT_EQ(failure.depth, 1u);
    EXPECT_NE(failure.error, 0);
}

TEST(FolderStack, RootAndChildrenMustBeTheExpectedFolders) {
    TempTree tree;
    tree.makeDir("real/sub");
    tree.makeDir("other");
    tree.symlink(tree.path("real"), "link");

    FolderStack stack(8);
    EXPECT_FALSE(stack.openRoot(tree.path("link"), false));
    EXPECT_TRUE(stack.openRoot(tree.path("link"), true, identityOf(tree.path("real"))));
    EXPECT_FALSE(stack.openRoot(tree.path("real"), false, identityOf(tree.path("other"))));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(stack.depth(), 0u);

    ASSERT_TRUE(stack.openRoot(tree.path("real"), false, identityOf(tree.path("real"))));
    EXPECT_EQ(stack.push("sub", identityOf(tree.path("other"))), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(stack.push("missing"), -1);
    EXPECT_EQ(stack.depth(), 1u);
    EXPECT_GE(stack.push("sub", identityOf(tree.path("real/sub"))), 0);
    EXPECT_EQ(stack.depth(), 2u);
}

}  // namespace
}  // namespace tarnby
