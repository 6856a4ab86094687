#include "core/scanning/file_inspection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform/sha256.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

std::string lineFor(const std::string& relative, const struct stat& info) {
    return relative + "|" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + "|" +
           std::to_string(static_cast<unsigned>(info.st_mode)) + "|" + std::to_string(info.st_size) + "|" +
           std::to_string(info.st_mtim.tv_sec) + ":" + std::to_string(info.st_mtim.tv_nsec) + "|" +
           std::to_string(info.st_ctim.tv_sec) + ":" + std::to_string(info.st_ctim.tv_nsec);
}

struct Expected {
    std::int64_t bytes = 0;
    std::int64_t files = 0;
    std::string fingerprint;
};

// The same measurement done the plain way: every line collected, sorted, joined, hashed.
Expected recompute(const std::string& root) {
    namespace stdfs = std::filesystem;
    Expected expected;
    std::vector<std::string> lines;
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat info {};
    EXPECT_EQ(::lstat(root.c_str(), &info), 0);
    lines.push_back(lineFor("", info));
    for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        EXPECT_EQ(::lstat(path.c_str(), &info), 0);
        lines.push_back(lineFor(path.substr(root.size()), info));
        if (!S_ISDIR(info.st_mode) && seen.emplace(info.st_dev, info.st_ino).second) {
            expected.files += 1;
            expected.bytes += 512 * info.st_blocks;
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += '\n';
        joined += lines[i];
    }
    expected.fingerprint = Sha256::hex(joined);
    return expected;
}

Measurement measure(const std::string& path, std::size_t limit = FileInspection::kEntryLimit) {
    ScanCancellation cancellation;
    return FileInspection::measure(path, cancellation, limit);
}

TEST(FileInspectionSafePath, AcceptsExistingPlainPathsAndRoot) {
    TempTree tree;
    const std::string folder = tree.makeDir("a/b");
    EXPECT_TRUE(FileInspection::safePath(folder));
    EXPECT_TRUE(FileInspection::safePath("/"));
    EXPECT_TRUE(FileInspection::safePath("/tmp"));
}

TEST(FileInspectionSafePath, RejectsDotComponentsMissingRelativeAndLinkedPaths) {
    TempTree tree;
    tree.makeDir("a/b");
    tree.symlink(tree.path("a"), "link");
    EXPECT_FALSE(FileInspection::safePath(tree.path("a/./b")));
    EXPECT_FALSE(FileInspection::safePath(tree.path("a/b/..")));
    EXPECT_FALSE(FileInspection::safePath(tree.path("missing")));
    EXPECT_FALSE(FileInspection::safePath("relative/path"));
    EXPECT_FALSE(FileInspection::safePath(tree.path("link")));     // the final component is a link
    EXPECT_FALSE(FileInspection::safePath(tree.path("link/b")));   // an ancestor is a link
}

TEST(FileInspectionMeasure, EmptyFolderIsOneLineOfItsOwn) {
    TempTree tree;
    const std::string folder = tree.makeDir("empty");
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);

    const Measurement m = measure(folder);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.bytes, 0);
    EXPECT_EQ(m.files, 0);
    ASSERT_TRUE(m.modified.has_value());
    const auto expectedTime = std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    EXPECT_EQ(m.modified->time_since_epoch(), expectedTime);
    EXPECT_EQ(m.fingerprint, Sha256::hex(lineFor("", info)));
}

TEST(FileInspectionMeasure, MatchesSortedLinesForAwkwardNamesAndNesting) {
    TempTree tree;
    const std::string root = tree.makeDir("project");
    // Names chosen so that sorting whole lines and walking folder by folder could disagree:
    // "a" vs "a0", "a-b", "a|b" around the separator characters, and a name with a line break.
    tree.writeFile("project/a/inner.txt", "1");
    tree.writeFile("project/a/deeper/x", "22");
    tree.writeFile("project/a0", "333");
    tree.writeFile("project/a-b", "4444");
    tree.makeDir("project/a|b/c");
    tree.writeFile("project/a|b/c/d", std::string(10000, 'z'));
    tree.writeFile("project/line\nbreak", "5");
    tree.writeFile(std::string("project/not-utf8-\xff\xfe"), "6");
    tree.makeDir("project/émigré/ü");
    tree.symlink("/usr", "project/a/usr-link");

    const Expected expected = recompute(root);
    const Measurement m = measure(root);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.files, expected.files);
    EXPECT_EQ(m.bytes, expected.bytes);
    EXPECT_EQ(m.fingerprint, expected.fingerprint);

    // Same folder, unchanged: the same measurement.
    EXPECT_EQ(measure(root), m);
}

TEST(FileInspectionMeasure, HardLinksCountOnceButEachHasALine) {
    TempTree tree;
    const std::string root = tree.makeDir("links");
    const std::string file = tree.writeFile("links/original", std::string(4096, 'x'));
    tree.hardLink("links/original", "links/sub/second");
    struct stat info {};
    ASSERT_EQ(::lstat(file.c_str(), &info), 0);

    const Measurement m = measure(root);
    EXPECT_EQ(m.files, 1);
    EXPECT_EQ(m.bytes, 512 * info.st_blocks);
    EXPECT_EQ(m.fingerprint, recompute(root).fingerprint);  // both names are lines
    EXPECT_NE(m.fingerprint, [&] {
        ::unlink(tree.path("links/sub/second").c_str());
        return measure(root).fingerprint;
    }());
}

TEST(FileInspectionMeasure, SymbolicLinkIsOneFileAndIsNotFollowed) {
    TempTree tree;
    tree.writeFile("big/data", std::string(200000, 'b'));
    const std::string root = tree.makeDir("project");
    const std::string link = tree.symlink(tree.path("big"), "project/big-link");
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);

    const Measurement m = measure(root);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.files, 1);
    EXPECT_EQ(m.bytes, 512 * info.st_blocks);
}

TEST(FileInspectionMeasure, UnsafeOrNonFolderPathsAreIncompleteAndEmpty) {
    TempTree tree;
    const std::string file = tree.writeFile("plain.txt", "hello");
    tree.makeDir("real/inside");
    tree.writeFile("real/inside/f", "x");
    const std::string viaLink = tree.symlink(tree.path("real"), "home-link") + "/inside";

    for (const std::string& path : {file, viaLink, tree.path("missing"), tree.path("real/../real")}) {
        SCOPED_TRACE(path);
        const Measurement m = measure(path);
        EXPECT_FALSE(m.complete);
        EXPECT_EQ(m.bytes, 0);
        EXPECT_EQ(m.files, 0);
        EXPECT_FALSE(m.modified.has_value());
        EXPECT_TRUE(m.fingerprint.empty());
    }
}

TEST(FileInspectionMeasure, CancellationStopsAtTheFirstEntry) {
    TempTree tree;
    const std::string full = tree.makeDir("full");
    tree.writeFile("full/a", "a");
    const std::string empty = tree.makeDir("empty");
    ScanCancellation cancelled;
    cancelled.cancel();

    const Measurement stopped = FileInspection::measure(full, cancelled);
    EXPECT_FALSE(stopped.complete);
    EXPECT_EQ(stopped.files, 0);
    EXPECT_TRUE(stopped.modified.has_value());  // the folder itself was inspected
    EXPECT_FALSE(stopped.fingerprint.empty());

    // No entry is reached, so nothing was missed.
    EXPECT_TRUE(FileInspection::measure(empty, cancelled).complete);
}

TEST(FileInspectionMeasure, EntryLimitCountsTheFolderItself) {
    TempTree tree;
    const std::string root = tree.makeDir("wide");
    for (int i = 0; i < 9; ++i) tree.writeFile("wide/f" + std::to_string(i), "x");

    EXPECT_TRUE(measure(root, 10).complete);  // 9 entries + the folder = 10 lines
    tree.writeFile("wide/f9", "x");
    const Measurement over = measure(root, 10);
    EXPECT_FALSE(over.complete);
    EXPECT_EQ(over.files, 9);
    EXPECT_FALSE(over.fingerprint.empty());
}

TEST(FileInspectionMeasure, FingerprintFollowsChangesButNotReads) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    const std::string file = tree.writeFile("p/f.txt", "content");
    const Measurement before = measure(root);

    std::string contents(16, '\0');
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_GT(::read(fd, contents.data(), contents.size()), 0);
    ::close(fd);
    EXPECT_EQ(measure(root).fingerprint, before.fingerprint);

    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const Measurement touched = measure(root);
    EXPECT_NE(touched.fingerprint, before.fingerprint);
    EXPECT_EQ(touched.bytes, before.bytes);
}

TEST(FileInspectionMeasure, NewestChangeIncludesFoldersAndLinks) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    const std::string sub = tree.makeDir("p/sub");
    const std::string file = tree.writeFile("p/sub/old", "x");
    const timespec old[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    const timespec newest[2] = {{0, UTIME_OMIT}, {2000000000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, root.c_str(), old, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, sub.c_str(), newest, 0), 0);

    const Measurement m = measure(root);
    ASSERT_TRUE(m.modified.has_value());
    EXPECT_EQ(m.modified->time_since_epoch(), std::chrono::seconds(2000000000) + std::chrono::nanoseconds(5));
}

void measureUnreadable(void* context) {
    const auto* root = static_cast<const std::string*>(context);
    const Measurement m = measure(*root);
    // Exit codes tell the parent what the unprivileged walk saw.
    if (m.complete) ::_exit(10);
    if (m.files != 1) ::_exit(11);
    if (m.fingerprint.empty()) ::_exit(12);
    ::_exit(0);
}

TEST(FileInspectionMeasure, UnreadableSubfolderMakesItIncompleteAndTheWalkGoesOn) {
    TempTree tree;
    std::string root = tree.makeDir("p");
    tree.writeFile("p/visible", "x");
    tree.writeFile("p/locked/hidden", "y");
    ASSERT_EQ(::chmod(tree.path("p/locked").c_str(), 0700), 0);  // owned by the test user, closed to others
    EXPECT_EQ(testing::runAsNobody(measureUnreadable, &root), 0);
}

TEST(FileInspectionMeasure, WalksTreesDeeperThanPathMax) {
    TempTree tree;
    const std::string root = tree.makeDir("deep");
    const std::string component(40, 'd');
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    constexpr int kLevels = 200;  // 200 * 41 characters, well past PATH_MAX
    for (int level = 0; level < kLevels; ++level) {
        ASSERT_EQ(::mkdirat(fd, component.c_str(), 0755), 0);
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(fd);

    const Measurement m = measure(root);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.files, 1);
    EXPECT_EQ(m.fingerprint.size(), 64U);
}

TEST(FileInspectionMeasure, CancelFromAnotherThreadIsSeen) {
    ScanCancellation cancellation;
    std::thread other([&] { cancellation.cancel(); });
    other.join();
    EXPECT_TRUE(cancellation.isCancelled());
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
}

}  // namespace
}  // namespace tarnby
