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
    const auto take = [&](const std::string& path) {
        ::lstat(path.c_str(), &info);
        lines.push_back(lineFor(path.substr(root.size()), info));
        const TimePoint modified(std::chrono::seconds(info.st_mtim.tv_sec) +
                                 std::chrono::nanoseconds(info.st_mtim.tv_nsec));
        expected.modified = std::max(expected.modified.value_or(modified), modified);
    };
    take(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        take(entry.path().string());
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

Measurement measure(const std::string& path) { return FileInspection::measure(path, ScanCancellation()); }

TEST(FileInspection, OnlyExistingPlainPathsWithoutLinksAreSafeAndOthersMeasureIncompleteAndEmpty) {
    TempTree tree;
    tree.writeFile("real/inside/f", "x");
    tree.symlink(tree.path("real"), "link");
    EXPECT_TRUE(FileInspection::safePath("/"));
    EXPECT_TRUE(FileInspection::safePath(tree.path("real/inside")));
    Measurement incomplete;
    incomplete.complete = false;
    EXPECT_EQ(measure(tree.writeFile("plain.txt", "hello")), incomplete);  // not a folder
    // Dot components, a missing or relative path, a link as the final component or an ancestor.
    for (const std::string& path : {tree.path("real/./inside"), tree.path("real/inside/.."), tree.path("missing"),
                                    std::string("relative/path"), tree.path("link"), tree.path("link/inside")}) {
        EXPECT_FALSE(FileInspection::safePath(path)) << path;
        EXPECT_EQ(measure(path), incomplete) << path;
    }
}

TEST(FileInspection, MeasureMatchesAPlainRecountOfAnEmptyFolderAndOfAwkwardNamesLinksAndHardLinks) {
    TempTree tree;
    const std::string empty = tree.makeDir("empty");
    const std::string root = tree.makeDir("project");
    // Names chosen so that sorting whole lines and walking folder by folder could disagree:
    // "a" vs "a0", "a-b", "a|b" around the separator characters, and a name with a line break.
    tree.writeFile("project/a/inner.txt", "1");
    tree.writeFile("project/a/deeper/x", "22");
    tree.writeFile("project/a-b", std::string(4096, 'h'));
    tree.writeFile("project/a|b/c/d", std::string(10000, 'z'));
    // "|" and a digit against "a"'s own line ("a|<device>:…"): the whole line decides, not the
    // name. Every first digit, since the device number varies.
    for (char digit = '0'; digit <= '9'; ++digit) tree.writeFile(std::string("project/a|") + digit, "d");
    tree.writeFile("project/a|00/inside", "i");  // a folder whose run sorts against "a|0…" lines
    // Neighbours of "a" ("." and "0" sit either side of "/"), the separators alone, a forged
    // entry line, and names of the greatest length, one below another.
    const std::string longName(255, 'n');
    for (const std::string name : {"a0", "a|", "a|0:", "a.", "|", "\n", "line\nbreak", "tab\there", "not-utf8-\xff\xfe",
                                   "x|1:2|33188|5|6:7|8:9", longName.c_str()}) {
        tree.writeFile("project/" + name, name);
    }
    tree.writeFile("project/b/" + longName + "/" + longName, "deep");
    tree.makeDir("project/émigré/ü");
    tree.symlink("/usr", "project/a/usr-link");             // one file, never followed
    tree.hardLink("project/a-b", "project/a/second-name");  // counted once, two lines

    for (const std::string& folder : {empty, root}) {
        SCOPED_TRACE(folder);
        const Measurement expected = recompute(folder);
        const Measurement m = measure(folder);
        EXPECT_TRUE(m.complete);
        EXPECT_EQ(std::tie(m.files, m.bytes, m.modified, m.fingerprint),
                  std::tie(expected.files, expected.bytes, expected.modified, expected.fingerprint));
    }
    // One link fewer: the same files, another fingerprint.
    const Measurement before = measure(root);
    ::unlink(tree.path("project/a/second-name").c_str());
    const Measurement fewer = measure(root);
    EXPECT_EQ(fewer.files, before.files);
    EXPECT_NE(fewer.fingerprint, before.fingerprint);
}

TEST(FileInspection, ChangesMoveFingerprintAndNewestDateButReadsDoNot) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    const std::string file = tree.writeFile("p/sub/f.txt", "content");
    const auto setModified = [](const std::string& path, time_t seconds, long nanoseconds) {
        const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    setModified(file, 1'000'000'000, 0);
    setModified(root, 1'000'000'000, 0);
    setModified(tree.path("p/sub"), 2'000'000'000, 5);  // folders count for the newest change too
    const Measurement before = measure(root);
    EXPECT_EQ(before.modified.value_or(TimePoint{}).time_since_epoch(),
              std::chrono::seconds(2'000'000'000) + std::chrono::nanoseconds(5));

    char buffer[8];
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GT(::read(fd, buffer, sizeof buffer), 0);
    ::close(fd);
    EXPECT_EQ(measure(root), before);
    setModified(file, 1'700'000'000, 123);
    EXPECT_NE(measure(root).fingerprint, before.fingerprint);
}

}  // namespace
}  // namespace tarnby
