#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <set>
#include <thread>
#include <tuple>

#include "core/scanning/project_walk.h"
#include "core/scanning/scanner.h"
#include "core/scanning/target_catalogue.h"
#include "tests/support/temp_tree.h"

// Allocation failure on demand: the allocation after the next `gAllocationsLeft` ones throws.
namespace {
std::atomic<long> gAllocationsLeft{-1};
bool failsNow() { return gAllocationsLeft.load(std::memory_order_relaxed) >= 0 && gAllocationsLeft.fetch_sub(1) == 0; }
}  // namespace

// The library's other forms forward to these; the sanitizers' nothrow new does not, so it is ours too.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return failsNow() ? nullptr : std::malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size) {
    if (void* memory = operator new(size, std::nothrow)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace tarnby {
namespace {

using testing::TempTree;
using namespace std::string_literals;
using Devices = std::optional<std::vector<SimulatorDevice>>;
const std::string kDerived = "home/Library/Developer/Xcode/DerivedData";
const std::string kDevices = "home/Library/Developer/CoreSimulator/Devices/";

struct ScanRecord {
    ScanResult result;
    std::vector<std::string> progress;
    std::vector<StorageItem> measured;  // as each item was handed over
};

// Records every progress text and measured item, then calls `onProgress`, which may cancel.
ScanRecord runScan(const ScanConfiguration& configuration, const Devices& devices = {}, ScanLimits limits = {},
                   const std::function<void(ScanCancellation&)>& onProgress = {}) {
    ScanRecord record;
    ScanCancellation cancellation;
    record.result = Scanner::scan(
        configuration, devices, cancellation,
        [&](const std::string& text) {
            record.progress.push_back(text);
            if (onProgress) onProgress(cancellation);
        },
        [&](const StorageItem& item) { record.measured.push_back(item); }, limits);
    return record;
}

std::multiset<std::string> urls(const ScanResult& result) {
    std::multiset<std::string> out;
    for (const auto& item : result.items) out.insert(item.url);
    return out;
}

// Throws when no item has that path.
const StorageItem& itemAt(const ScanResult& result, const std::string& url) {
    return result.items.at(std::ranges::find(result.items, url, &StorageItem::url) - result.items.begin());
}

void expectSameItems(const std::vector<StorageItem>& actual, const std::vector<StorageItem>& expected) {
    const auto fields = [](const StorageItem& i) {
        return std::tie(i.url, i.kind, i.title, i.explanation, i.rebuild, i.measurement, i.deviceID, i.lastBoot,
                        i.protection);
    };
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_TRUE(fields(actual[i]) == fields(expected[i])) << i;
}

// Each incomplete item of `result` has its note, each complete one measures as in `full`; how many are incomplete.
std::size_t expectConsistent(const ScanResult& result, const ScanResult& full) {
    std::size_t incomplete = 0;
    for (const StorageItem& item : result.items) {
        const std::string note = "Could not fully inspect " + item.url + ". Cleanup disabled for this item.";
        EXPECT_EQ(std::ranges::count(result.notes, note), item.measurement.complete ? 0 : 1) << item.url;
        if (!item.measurement.complete)
            ++incomplete;
        else
            EXPECT_EQ(item.measurement, itemAt(full, item.url).measurement) << item.url;
    }
    return incomplete;
}

void addProject(const TempTree& tree, const std::string& folder) {
    tree.writeFile(folder + "/package.json", "{}");
    tree.writeFile(folder + "/node_modules/left-pad/index.js", "module.exports = 1;");
}

TEST(ScanTest, OneHomeWalkedOnceFindingTargetsOnlyWhereTheWalkMayLook) {
    TempTree tree;
    for (const char* project : {"web", "web/node_modules/inner", ".hidden/proj", "odd\xff\nname", "Library/proj",
                                ".git/proj", ".Trash/proj", "Tool.app/proj", "locked/app"})
        addProject(tree, "home/code/" + std::string(project));
    for (const auto& project : {"outside"s, "home/shut/app"s, kDerived}) addProject(tree, project);
    for (const auto& file : {"home/code/web/.next/cache/x"s, "home/code/linked/package.json"s,
                             "home/.npm/_cacache/index-v5/aa"s, kDerived + "/App-abc/app", kDerived + "/info.plist"})
        tree.writeFile(file);
    tree.symlink(tree.path("outside/node_modules"), "home/code/linked/node_modules");
    tree.symlink(tree.path("outside"), kDerived + "/Linked-def");
    for (const auto& closed : {"home/code/locked"s, "home/shut"s, kDerived + "/node_modules/left-pad"})
        ::chmod(tree.path(closed).c_str(), 0);

    const std::string home = tree.path("home"), code = home + "/code", shut = home + "/shut";
    const std::string derived = tree.path(kDerived);
    // As "nobody", so that closed folders stay closed even to root.
    const int status = testing::runAsNobody([&] {
        const std::vector<std::string> roots{code, code + "/web", code + "/./web/..", "/usr/local/src", "/",
                                             shut, derived};
        const auto scan = runScan(ScanConfiguration(home, roots), {}, {.progressInterval = 1});
        const std::string choose = "Choose a project folder instead of a system location: ";
        EXPECT_EQ(scan.result.notes,
                  (std::vector<std::string>{
                      choose + "/", choose + "/usr/local/src", "Skipped " + code + "/locked: Permission denied",
                      "Could not read " + shut,
                      "Could not fully inspect " + derived + "/node_modules. Cleanup disabled for this item."}));
        // Nothing inside a node_modules folder, nothing behind a link, nothing in Library, .git, .Trash or bundles.
        EXPECT_EQ(urls(scan.result), (std::multiset<std::string>{
                                         code + "/web/node_modules", code + "/web/.next",
                                         code + "/.hidden/proj/node_modules", code + "/odd\xff\nname/node_modules",
                                         home + "/.npm/_cacache", derived + "/App-abc", derived + "/node_modules"}));
        // Met by the walk first, then by the DerivedData listing.
        EXPECT_EQ(itemAt(scan.result, derived + "/node_modules").kind, StorageKind::dependencies);
        // The nested and the duplicate root are walked only as part of "code".
        EXPECT_EQ(std::ranges::count(scan.progress, "Looking through code\u2026 1 entries checked"), 1);
        EXPECT_EQ(std::ranges::count(scan.progress, "Looking through web\u2026 1 entries checked"), 0);
    });
    EXPECT_EQ(status, 0);
}

TEST(ScanTest, ProgressTraversalLimitLargestFirstAndCancellation) {
    TempTree tree;
    for (int i = 0; i < 2001; ++i) tree.writeFile("a/f" + std::to_string(i));
    for (int i = 0; i < 2000; ++i) tree.writeFile("c/f" + std::to_string(i));  // exactly at the limit
    tree.writeFile("b/web/package.json");
    tree.writeFile("b/web/node_modules/a", std::string(4096, 's'));
    tree.writeFile("home/.npm/_cacache/a", std::string(3 * 4096, 'L'));
    tree.writeFile(kDerived + "/App-abc/a", std::string(3 * 4096, 'L'));
    const ScanConfiguration configuration(tree.path("home"), {tree.path("a"), tree.path("c"), tree.path("b")});
    const auto scan = runScan(configuration, {}, {.rootEntries = 2000});

    EXPECT_EQ(scan.result.notes, std::vector<std::string>{"Project traversal limit reached for " + tree.path("a") +
                                                          ". Add a more specific folder."});
    EXPECT_EQ(scan.progress,
              (std::vector<std::string>{
                  "Looking through a\u2026 1000 entries checked", "Looking through a\u2026 2000 entries checked",
                  "Looking through c\u2026 1000 entries checked", "Looking through c\u2026 2000 entries checked",
                  "Inspecting node_modules", "Inspecting _cacache", "Inspecting App-abc"}));
    // Largest first; equal sizes (the cache and DerivedData) keep the order of the phases.
    const auto& items = scan.result.items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ((std::vector{items[0].url, items[1].url, items[2].url}),
              (std::vector{tree.path("home/.npm/_cacache"), tree.path(kDerived + "/App-abc"),
                           tree.path("b/web/node_modules")}));

    const auto cancelled = runScan(configuration, {}, {.progressInterval = 1}, &ScanCancellation::cancel);
    EXPECT_TRUE(cancelled.result.cancelled);
    EXPECT_EQ(cancelled.progress, std::vector<std::string>{"Looking through a\u2026 1 entries checked"});
}

// Thirty projects of many sizes in two roots, caches, DerivedData, a device; closed folders give both notes.
ScanConfiguration manyProjects(const TempTree& tree) {
    for (int project = 0; project < 30; ++project) {
        const std::string base =
            "home/" + std::string(project % 2 == 0 ? "code" : "more") + "/p" + std::to_string(project);
        addProject(tree, base);
        for (int file = 0; file < project * 2; ++file) {
            tree.writeFile(base + "/node_modules/m" + std::to_string(file % 5) + "/f" + std::to_string(file),
                           std::string(static_cast<std::size_t>(file) * 300, 'x'));
        }
        if (project % 4 == 1) ::chmod(tree.makeDir(base + "/node_modules/m1/closed").c_str(), 0700);
        if (project % 7 == 3) ::chmod(tree.makeDir(base + "/locked").c_str(), 0700);
        if (project % 5 == 0) tree.writeFile(base + "/.next/cache/c", std::string(5000, 'n'));
    }
    for (int i = 0; i < 4; ++i)
        tree.writeFile(kDerived + "/App" + std::to_string(i) + "-x/f", std::string(i * 1000, 'b'));
    tree.writeFile("home/.npm/_cacache/index-v5/aa", "cache");
    tree.writeFile(kDevices + "6F1C8B52-1D2E-4C4B-9E0A-1A2B3C4D5E6F/data/x", "d");
    return ScanConfiguration(tree.path("home"), {tree.path("home/code"), tree.path("home/more")});
}

TEST(ScanTest, AnyThreadCountGivesTheSequentialItemsNotesAndProgress) {
    TempTree tree;
    const ScanConfiguration configuration = manyProjects(tree);
    EXPECT_EQ(testing::runAsNobody([&] {
                  const auto sequential = runScan(configuration, {}, {.progressInterval = 7, .threads = 1});
                  for (const std::size_t threads : {0U, 2U, 4U, 0U, 2U, 4U, 0U, 2U, 4U}) {
                      SCOPED_TRACE(threads);
                      const auto parallel = runScan(configuration, {}, {.progressInterval = 7, .threads = threads});
                      expectSameItems(parallel.result.items, sequential.result.items);
                      expectSameItems(parallel.measured, sequential.measured);
                      EXPECT_EQ(parallel.result.notes, sequential.result.notes);
                      EXPECT_EQ(parallel.progress, sequential.progress);
                  }
                  for (const char* note : {"Skipped ", "Could not fully inspect "}) {
                      EXPECT_TRUE(std::ranges::any_of(sequential.result.notes,
                                                      [&](const std::string& n) { return n.starts_with(note); }));
                  }
              }),
              0);
}

TEST(ScanTest, AStopKeepsWhatWasMeasuredAndListsNothingThatHadNotStarted) {
    TempTree tree;
    const ScanConfiguration configuration = manyProjects(tree);
    const auto full = runScan(configuration, {}, {.threads = 1});
    ASSERT_GT(full.result.items.size(), 24u);

    const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
    for (const std::size_t threads : {1U, 0U}) {
        for (const int stopAt : {1, 7, 24}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", stop at " + std::to_string(stopAt));
            int inspecting = 0;
            const auto stopped = runScan(configuration, {}, {.threads = threads}, [&](ScanCancellation& cancellation) {
                if (++inspecting == stopAt) cancellation.cancel();
            });
            EXPECT_TRUE(stopped.result.cancelled);
            const std::size_t incomplete = expectConsistent(stopped.result, full.result);
            EXPECT_EQ(stopped.result.notes.size(), incomplete);
            // Sequentially the one being measured at the stop and every one before it; in parallel
            // at most those, and no more incomplete than there are workers.
            const std::size_t listed = stopped.result.items.size(), stop = static_cast<std::size_t>(stopAt);
            EXPECT_TRUE(threads == 1 ? listed == stop && incomplete == 1 : listed <= stop && incomplete <= workers)
                << listed << " listed, " << incomplete << " incomplete";
            // Handed over in finding order, the very items of the result.
            std::vector<StorageItem> sorted = stopped.measured;
            std::ranges::stable_sort(sorted, std::ranges::greater(),
                                     [](const StorageItem& i) { return i.measurement.bytes; });
            expectSameItems(sorted, stopped.result.items);
        }
    }
}

TEST(ScanTest, MemoryRunningOutAnywhereLeavesAConsistentPartialResultAlsoWithConcurrentMeasurements) {
    TempTree tree;
    for (const char* project : {"a", "b", "c"}) addProject(tree, "home/Code/" + std::string(project));
    tree.writeFile("home/.npm/_cacache/index", "i");
    const ScanConfiguration configuration(tree.path("home"), {tree.path("home/Code")});
    const ScanResult full = Scanner::scan(configuration, std::nullopt, ScanCancellation(), {}, {.threads = 1});
    ASSERT_EQ(full.items.size(), 4u);

    // On the scanning thread, and with measurements on threads of their own that nothing may escape.
    for (const std::size_t threads : {1U, 2U}) {
        for (long failing = 0;; ++failing) {
            gAllocationsLeft = failing;
            const ScanResult result =
                Scanner::scan(configuration, std::nullopt, ScanCancellation(), {}, {.threads = threads});
            const bool failed = gAllocationsLeft.exchange(-1) < 0;
            SCOPED_TRACE(failing);
            expectConsistent(result, full);
            if (!failed) break;  // every allocation of a scan has failed once
        }
    }
}

TEST(ScanTest, FoldersFromPathMaxOnAreNotedOnceWhileDeepFoldersAreReopenedWithBoundedDescriptors) {
    TempTree tree;
    addProject(tree, "deep/web");
    // Of the side folders made before and after the chain's own, some are listed after it in any
    // listing order, so they are entered only after coming back up, when their folder is reopened.
    const std::string level = "level-of-a-deep-tree";
    std::vector<std::string> chain{tree.path("deep")};
    tree.chain("deep", 300, level, [&](int fd, int depth) {
        if (depth < 300) {
            for (const auto& name : {"a" + std::to_string(depth), level, "z" + std::to_string(depth)})
                ::mkdirat(fd, name.c_str(), 0755);
            chain.push_back(chain.back() + "/" + level);
        } else {
            // A project at the bottom, out of reach of every path-based check.
            testing::writeFileAt(fd, "package.json");
            ::mkdirat(fd, "node_modules", 0755);
        }
    });

    const auto baseline = testing::openDescriptors();
    std::ptrdiff_t mostOpen = 0;
    const auto sample = [&](ScanCancellation&) {
        mostOpen = std::max(mostOpen, testing::openDescriptors() - baseline);
    };
    const auto scan = runScan(ScanConfiguration(tree.path("home"), {chain[0]}), {}, {.progressInterval = 7}, sample);
    EXPECT_LE(mostOpen, static_cast<std::ptrdiff_t>(ProjectWalk::kOpenFolderLimit));
    const auto boundary = std::ranges::find_if(chain, [](const std::string& path) { return path.size() >= PATH_MAX; });
    ASSERT_NE(boundary, chain.end());
    EXPECT_EQ(scan.result.notes, std::vector<std::string>{"Skipped " + *boundary + ": File name too long"});
    EXPECT_EQ(urls(scan.result), std::multiset<std::string>{tree.path("deep/web/node_modules")});
}

TEST(ScanTest, DeviceInventoryDecidesTitleProtectionAndDeviceID) {
    const std::string off = "8A3F1C2E-0B4D-4E5F-9A6B-7C8D9E0F1A2B", offLower = "8a3f1c2e-0b4d-4e5f-9a6b-7c8d9e0f1a2b",
                      on = "11111111-2222-3333-4444-555555555555", unlisted = "ABCDEF01-BBBB-CCCC-DDDD-EEEEEEEEEEEE";
    TempTree tree;
    tree.writeFile(kDevices + off + "/device.plist",
                   "<plist><dict><key>lastBootedAt</key><date>2024-01-02T03:04:05Z</date></dict></plist>");
    for (const auto& folder : {on, unlisted, "ABC"s}) tree.makeDir(kDevices + folder);
    const std::string inUse(TargetCatalogue::kInUseProtection), none(TargetCatalogue::kNoInventoryProtection);
    // Title, device identifier, protection, and whether the last boot was read from the property list.
    const auto described = [&](const Devices& devices) {
        std::vector<std::string> lines;
        for (const auto& item : runScan(ScanConfiguration(tree.path("home"), {}), devices).result.items) {
            const bool booted = item.lastBoot == std::chrono::system_clock::from_time_t(1704164645);
            lines.push_back(item.title + " | " + item.deviceID.value_or("-") + " | " + item.protection.value_or("-") +
                            (booted ? " | booted" : ""));
        }
        std::ranges::sort(lines);
        return lines;
    };
    // In sorted order; "ABC" is not a device.
    const std::vector<std::string> unknown{"Simulator 11111111 | " + on + " | " + none,
                                           "Simulator 8A3F1C2E | " + off + " | " + none + " | booted",
                                           "Simulator ABCDEF01 | " + unlisted + " | " + none};
    EXPECT_EQ(described(std::nullopt), unknown);
    // State words are compared exactly.
    EXPECT_EQ(described(std::vector<SimulatorDevice>{{offLower, "iPhone 15", "Shutdown", false},
                                                     {on, "iPad Air", "shutdown", true}}),
              (std::vector<std::string>{unknown[2], "iPad Air | " + on + " | " + inUse,
                                        "iPhone 15 | " + offLower + " | - | booted"}));
}

}  // namespace
}  // namespace tarnby
