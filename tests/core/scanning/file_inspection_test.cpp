#include "core/scanning/file_inspection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
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

// The same measurement done the plain way: every line collected, sorted, joined, hashed.
Measurement recompute(const std::string& root) {
    Measurement expected;
    std::vector<std::string> lines;
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat info {};
    ::lstat(root.c_str(), &info);
    lines.push_back(lineFor("", info));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        ::lstat(path.c_str(), &info);
        lines.push_back(lineFor(path.substr(root.size()), info));
        if (!S_ISDIR(info.st_mode) && seen.emplace(info.st_dev, info.st_ino).second) {
            expected.files += 1;
            expected.bytes += 512 * info.st_blocks;
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (const auto& line : lines) joined += (joined.empty() ? "" : "\n") + line;
    expected.fingerprint = Sha256::hex(joined);
    return expected;
}

Measurement measure(const std::string& path, std::size_t limit = FileInspection::kEntryLimit) {
    ScanCancellation cancellation;
    return FileInspection::measure(path, cancellation, limit);
}

void setModified(const std::string& path, time_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(FileInspectionSafePath, OnlyExistingPlainPathsWithoutLinksAreSafe) {
    TempTree tree;
    EXPECT_TRUE(FileInspection::safePath(tree.makeDir("a/b")));
    EXPECT_TRUE(FileInspection::safePath("/"));
    tree.symlink(tree.path("a"), "link");
    EXPECT_FALSE(FileInspection::safePath(tree.path("a/./b")));
    EXPECT_FALSE(FileInspection::safePath(tree.path("a/b/..")));
    EXPECT_FALSE(FileInspection::safePath(tree.path("missing")));
    EXPECT_FALSE(FileInspection::safePath("relative/path"));
    EXPECT_FALSE(FileInspection::safePath(tree.path("link")));    // the final component is a link
    EXPECT_FALSE(FileInspection::safePath(tree.path("link/b")));  // an ancestor is a link
}

TEST(FileInspectionMeasure, EmptyFolderIsOneLineOfItsOwn) {
    TempTree tree;
    const std::string folder = tree.makeDir("empty");
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    const Measurement m = measure(folder);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.files, 0);
    ASSERT_TRUE(m.modified.has_value());
    EXPECT_EQ(m.modified->time_since_epoch(),
              std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec));
    EXPECT_EQ(m.fingerprint, Sha256::hex(lineFor("", info)));
}

TEST(FileInspectionMeasure, MatchesSortedLinesForAwkwardNamesLinksAndHardLinks) {
    TempTree tree;
    const std::string root = tree.makeDir("project");
    // Names chosen so that sorting whole lines and walking folder by folder could disagree:
    // "a" vs "a0", "a-b", "a|b" around the separator characters, and a name with a line break.
    tree.writeFile("project/a/inner.txt", "1");
    tree.writeFile("project/a/deeper/x", "22");
    tree.writeFile("project/a0", "333");
    tree.writeFile("project/a-b", std::string(4096, 'h'));
    tree.writeFile("project/a|b/c/d", std::string(10000, 'z'));
    // A name that continues with "|" and a digit against "a"'s own line ("a|<device>:…"): the
    // whole line decides, not the name. Every first digit, since the device number varies.
    for (char digit = '0'; digit <= '9'; ++digit) tree.writeFile(std::string("project/a|") + digit, "d");
    tree.writeFile("project/a|00/inside", "i");  // a folder whose run sorts against "a|0…" lines
    tree.writeFile("project/a|", "e");
    tree.writeFile("project/a|0:", "c");
    tree.writeFile("project/a.", "p");  // "." and "0" sit either side of "/"
    tree.writeFile("project/line\nbreak", "5");
    tree.writeFile(std::string("project/not-utf8-\xff\xfe"), "6");
    tree.makeDir("project/émigré/ü");
    tree.symlink("/usr", "project/a/usr-link");             // one file, never followed
    tree.hardLink("project/a-b", "project/a/second-name");  // counted once, two lines

    const Measurement expected = recompute(root);
    const Measurement m = measure(root);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.files, expected.files);
    EXPECT_EQ(m.bytes, expected.bytes);
    EXPECT_EQ(m.fingerprint, expected.fingerprint);
    EXPECT_EQ(measure(root), m);  // unchanged folder, same measurement

    ::unlink(tree.path("project/a/second-name").c_str());
    const Measurement fewer = measure(root);
    EXPECT_EQ(fewer.files, m.files);
    EXPECT_NE(fewer.fingerprint, m.fingerprint);
}

TEST(FileInspectionMeasure, UnsafeOrNonFolderPathsAreIncompleteAndEmpty) {
    TempTree tree;
    const std::string file = tree.writeFile("plain.txt", "hello");
    tree.writeFile("real/inside/f", "x");
    const std::string viaLink = tree.symlink(tree.path("real"), "home-link") + "/inside";
    for (const std::string& path : {file, viaLink, tree.path("missing"), tree.path("real/../real")}) {
        SCOPED_TRACE(path);
        const Measurement m = measure(path);
        EXPECT_FALSE(m.complete);
        EXPECT_EQ(m.bytes, 0);
        EXPECT_FALSE(m.modified.has_value());
        EXPECT_TRUE(m.fingerprint.empty());
    }
}

TEST(FileInspectionMeasure, CancellationAndTheEntryLimitStopTheWalk) {
    TempTree tree;
    const std::string root = tree.makeDir("wide");
    for (int i = 0; i < 9; ++i) tree.writeFile("wide/f" + std::to_string(i), "x");
    const std::string empty = tree.makeDir("empty");
    ScanCancellation cancelled;
    cancelled.cancel();

    const Measurement stopped = FileInspection::measure(root, cancelled);
    EXPECT_FALSE(stopped.complete);
    EXPECT_EQ(stopped.files, 0);
    EXPECT_TRUE(stopped.modified.has_value());                        // the folder itself was inspected
    EXPECT_TRUE(FileInspection::measure(empty, cancelled).complete);  // no entry reached, nothing missed

    EXPECT_TRUE(measure(root, 10).complete);  // 9 entries + the folder = 10 lines
    tree.writeFile("wide/f9", "x");
    const Measurement over = measure(root, 10);
    EXPECT_FALSE(over.complete);
    EXPECT_EQ(over.files, 9);
    EXPECT_FALSE(over.fingerprint.empty());
}

TEST(FileInspectionMeasure, ChangesMoveFingerprintAndNewestDateButReadsDoNot) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    const std::string sub = tree.makeDir("p/sub");
    const std::string file = tree.writeFile("p/sub/f.txt", "content");
    setModified(file, 1'000'000'000);
    setModified(root, 1'000'000'000);
    setModified(sub, 2'000'000'000, 5);  // folders count for the newest change too
    const Measurement before = measure(root);
    ASSERT_TRUE(before.modified.has_value());
    EXPECT_EQ(before.modified->time_since_epoch(), std::chrono::seconds(2'000'000'000) + std::chrono::nanoseconds(5));

    char buffer[8];
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GT(::read(fd, buffer, sizeof buffer), 0);
    ::close(fd);
    EXPECT_EQ(measure(root).fingerprint, before.fingerprint);

    setModified(file, 1'700'000'000, 123);
    EXPECT_NE(measure(root).fingerprint, before.fingerprint);
}

void measureUnreadable(void* context) {
    const Measurement m = measure(*static_cast<const std::string*>(context));
    // Exit codes tell the parent what the unprivileged walk saw.
    ::_exit(m.complete ? 10 : m.files != 1 ? 11 : m.fingerprint.empty() ? 12 : 0);
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
    for (int level = 0; level < 200; ++level) {  // 200 * 41 characters, well past PATH_MAX
        ASSERT_EQ(::mkdirat(fd, component.c_str(), 0755), 0);
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(::openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0644));
    ::close(fd);

    const Measurement m = measure(root);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.files, 1);
    EXPECT_EQ(m.fingerprint.size(), 64U);
}

}  // namespace
}  // namespace tarnby
