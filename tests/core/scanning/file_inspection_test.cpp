#include "core/scanning/file_inspection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform/sha256.h"
#include "core/records/freed_space.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

using Identity = std::pair<dev_t, ino_t>;

// `root` and every entry below it with its lstat: the plain count each measurement is held against.
using Entry = std::pair<std::string, struct stat>;
std::vector<Entry> entriesOf(const std::string& root) {
    std::vector<Entry> entries;
    const auto take = [&](const std::string& path) {
        ::lstat(path.c_str(), &entries.emplace_back(path, Entry::second_type{}).second);
    };
    take(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) take(entry.path().string());
    return entries;
}

// The measurement done the plain way: every line collected, sorted, joined, hashed.
Measurement recompute(const std::string& root) {
    Measurement expected;
    std::vector<std::string> lines;
    std::set<Identity> seen;
    for (const auto& [path, info] : entriesOf(root)) {
        lines.push_back(path.substr(root.size()) + "|" + std::to_string(info.st_dev) + ":" +
                        std::to_string(info.st_ino) + "|" + std::to_string(static_cast<unsigned>(info.st_mode)) + "|" +
                        std::to_string(info.st_size) + "|" + std::to_string(info.st_mtim.tv_sec) + ":" +
                        std::to_string(info.st_mtim.tv_nsec) + "|" + std::to_string(info.st_ctim.tv_sec) + ":" +
                        std::to_string(info.st_ctim.tv_nsec));
        const TimePoint modified(std::chrono::seconds(info.st_mtim.tv_sec) +
                                 std::chrono::nanoseconds(info.st_mtim.tv_nsec));
        expected.modified = std::max(expected.modified.value_or(modified), modified);
        if (path != root && !S_ISDIR(info.st_mode) && seen.emplace(info.st_dev, info.st_ino).second) {
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

// Every non-folder entry below the folders, by identity: its bytes, its links and how many lie there.
struct Linked {
    std::int64_t bytes = 0;
    nlink_t links = 0, inside = 0;
};
std::map<Identity, Linked> filesBelow(const std::vector<std::string>& folders) {
    std::map<Identity, Linked> files;
    for (const std::string& folder : folders) {
        for (const auto& [path, info] : entriesOf(folder)) {
            if (S_ISDIR(info.st_mode)) continue;
            Linked& file = files[{info.st_dev, info.st_ino}];
            file = {512 * info.st_blocks, info.st_nlink, file.inside + 1};
        }
    }
    return files;
}

// Files whose links all lie below the folders, each once.
std::int64_t freedByRemoving(const std::vector<std::string>& folders) {
    std::int64_t freed = 0;
    for (const auto& [identity, file] : filesBelow(folders)) freed += file.inside == file.links ? file.bytes : 0;
    return freed;
}

StorageItem measured(const std::string& path, std::size_t threads, std::size_t sharedLinkLimit) {
    StorageItem item;
    item.url = path;
    item.measurement =
        FileInspection::measure(path, ScanCancellation(), FileInspection::kEntryLimit, threads, sharedLinkLimit);
    return item;
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

TEST(FileInspection, MeasureMatchesAPlainRecountOfAwkwardNamesLinksAndChanges) {
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

    const auto expectRecount = [](const std::string& folder) {
        const Measurement expected = recompute(folder), m = measure(folder);
        EXPECT_TRUE(m.complete) << folder;
        EXPECT_EQ(std::tie(m.files, m.bytes, m.modified, m.fingerprint),
                  std::tie(expected.files, expected.bytes, expected.modified, expected.fingerprint))
            << folder;
        return m;
    };
    expectRecount(empty);
    const Measurement before = expectRecount(root);

    // The recount has the fingerprint follow a link fewer and a folder's changed time.
    ::unlink(tree.path("project/a/second-name").c_str());
    EXPECT_NE(expectRecount(root).fingerprint, before.fingerprint);
    const timespec times[2] = {{0, UTIME_OMIT}, {2'000'000'000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tree.path("project/a/deeper").c_str(), times, 0), 0);
    EXPECT_EQ(expectRecount(root).modified.value_or(TimePoint{}).time_since_epoch(),
              std::chrono::seconds(2'000'000'000) + std::chrono::nanoseconds(5));
}

TEST(FreedSpace, HardLinksBetweenAStoreAProjectAndElsewhereFreeOnlyWithTheirLastLink) {
    TempTree tree;
    for (int i = 0; i < 12; ++i) {
        tree.writeFile("store/files/" + std::to_string(i), std::string(static_cast<std::size_t>(i) * 3000 + 1, 's'));
    }
    for (int i = 0; i < 8; ++i) {  // the project takes eight, the last also twice
        tree.hardLink("store/files/" + std::to_string(i), "app/node_modules/p" + std::to_string(i) + "/f");
    }
    tree.hardLink("store/files/7", "app/node_modules/p7/again");
    tree.hardLink("store/files/2", "outside/kept-elsewhere");  // in no item
    tree.hardLink("store/files/9", "store/index/9");           // both links in the store
    tree.writeFile("app/node_modules/own", std::string(20000, 'o'));
    const std::string store = tree.path("store"), modules = tree.path("app/node_modules");

    for (const std::size_t threads : {1U, 4U}) {
        SCOPED_TRACE(threads);
        const StorageItem storeItem = measured(store, threads, FileInspection::kSharedLinkLimit);
        const StorageItem modulesItem = measured(modules, threads, FileInspection::kSharedLinkLimit);
        EXPECT_EQ(storeItem.measurement.freedBytes, freedByRemoving({store}));
        EXPECT_EQ(modulesItem.measurement.freedBytes, freedByRemoving({modules}));
        EXPECT_EQ(freedTogether(std::vector{storeItem, modulesItem}),
                  (FreedSpace{freedByRemoving({store, modules}), false}));
        // An item inside another, or given twice, is part of it.
        const StorageItem inner = measured(tree.path("app/node_modules/p7"), threads, FileInspection::kSharedLinkLimit);
        EXPECT_EQ(freedTogether(std::vector{modulesItem, inner, modulesItem}), freedTogether(std::vector{modulesItem}));

        // Keeping only the largest shared file: the figure is an estimate, never more than the truth.
        const StorageItem cutStore = measured(store, threads, 1);
        ASSERT_EQ(cutStore.measurement.sharedLinks.size(), 1u);
        EXPECT_EQ(cutStore.measurement.sharedLinks[0].blocks,
                  std::ranges::max(storeItem.measurement.sharedLinks, {}, &SharedLink::blocks).blocks);
        const FreedSpace estimate = freedTogether(std::vector{cutStore, modulesItem});
        EXPECT_TRUE(estimate.estimate);
        EXPECT_LT(estimate.bytes, freedByRemoving({store, modules}));
        EXPECT_EQ(cutStore.measurement.freedBytes, storeItem.measurement.freedBytes);
    }
}

TEST(FreedSpace, LargestChildrenAreCountedAsTheItemIsWithTiesInNameOrder) {
    TempTree tree;
    const std::string root = tree.makeDir("node_modules");
    for (int i = 0; i < 12; ++i) {
        // Sizes repeat, so equal children must come in name order.
        const std::string package = "node_modules/pkg-" + std::string(1, static_cast<char>('l' - i));
        tree.writeFile(package + "/index.js", std::string(static_cast<std::size_t>(i % 4 + 1) * 5000, 'x'));
        tree.writeFile(package + "/lib/deep/util.js", std::string(4000, 'y'));
    }
    tree.writeFile("node_modules/.package-lock.json", std::string(50000, 'j'));  // a file child
    tree.makeDir("node_modules/empty");                                          // no bytes: never listed
    // One file linked into two children counts in each, and once in a child holding it twice.
    tree.hardLink("node_modules/pkg-a/index.js", "node_modules/pkg-b/shared.js");
    tree.hardLink("node_modules/pkg-a/index.js", "node_modules/pkg-b/lib/shared-again.js");

    std::vector<ChildBytes> expected;
    for (const auto& child : std::filesystem::directory_iterator(root)) {
        struct stat info {};
        ::lstat(child.path().c_str(), &info);
        std::int64_t bytes = 512 * info.st_blocks;
        if (S_ISDIR(info.st_mode)) {
            bytes = 0;
            for (const auto& [identity, file] : filesBelow({child.path()})) bytes += file.bytes;
        }
        if (bytes > 0) expected.push_back({child.path().filename(), bytes});
    }
    std::ranges::sort(expected, [](const ChildBytes& a, const ChildBytes& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.name < b.name;
    });
    expected.resize(10);
    ASSERT_NE(std::ranges::adjacent_find(expected, {}, &ChildBytes::bytes), expected.end());  // ties to order
    for (const std::size_t threads : {1U, 4U}) {
        EXPECT_EQ(measured(root, threads, FileInspection::kSharedLinkLimit).measurement.largest, expected) << threads;
    }
}

}  // namespace
}  // namespace tarnby
