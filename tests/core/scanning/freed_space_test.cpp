// What cleaning really frees and what an item is made of, each against a plain count of the
// same tree: every entry stat'ed, hard links grouped by identity.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/records/freed_space.h"
#include "core/scanning/file_inspection.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using Identity = std::pair<dev_t, ino_t>;

struct Entry {
    std::int64_t bytes = 0;
    nlink_t links = 0;
};

// Every non-folder entry below `root`, by identity, with how many of its links lie there.
std::map<Identity, std::pair<Entry, nlink_t>> filesBelow(const std::string& root) {
    std::map<Identity, std::pair<Entry, nlink_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct stat info {};
        ::lstat(entry.path().c_str(), &info);
        if (S_ISDIR(info.st_mode)) continue;
        auto& [file, inside] = files[{info.st_dev, info.st_ino}];
        file = {512 * info.st_blocks, info.st_nlink};
        ++inside;
    }
    return files;
}

// Files whose links all lie below the folders, each once.
std::int64_t freedByRemoving(const std::vector<std::string>& folders) {
    std::map<Identity, std::pair<Entry, nlink_t>> together;
    for (const std::string& folder : folders) {
        for (const auto& [identity, found] : filesBelow(folder)) {
            auto& [file, inside] = together[identity];
            file = found.first;
            inside += found.second;
        }
    }
    std::int64_t freed = 0;
    for (const auto& [identity, found] : together) {
        if (found.second == found.first.links) freed += found.first.bytes;
    }
    return freed;
}

StorageItem measured(const std::string& path, std::size_t threads, std::size_t sharedLinkLimit) {
    StorageItem item;
    item.url = path;
    item.measurement =
        FileInspection::measure(path, ScanCancellation(), FileInspection::kEntryLimit, threads, sharedLinkLimit);
    return item;
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
        EXPECT_LT(modulesItem.measurement.freedBytes, modulesItem.measurement.bytes);
        EXPECT_EQ(freedTogether(std::vector{storeItem}), (FreedSpace{freedByRemoving({store}), false}));
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
            for (const auto& [identity, file] : filesBelow(child.path())) bytes += file.first.bytes;
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
