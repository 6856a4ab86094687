#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <set>
#include <stdexcept>

#include "core/scanning/project_walk.h"
#include "core/scanning/scanner.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

struct ScanRecord {
    ScanResult result;
    std::vector<std::string> progress;
};

ScanRecord runScan(const ScanConfiguration& configuration, std::size_t progressInterval = 1000,
                   const std::optional<std::vector<SimulatorDevice>>& devices = std::nullopt) {
    ScanRecord record;
    ScanCancellation cancellation;
    ScanLimits limits;
    limits.progressInterval = progressInterval;
    record.result = Scanner::scan(
        configuration, devices, cancellation, [&](const std::string& text) { record.progress.push_back(text); },
        limits);
    return record;
}

std::set<std::string> urls(const ScanResult& result) {
    std::set<std::string> out;
    for (const auto& item : result.items) out.insert(item.url);
    return out;
}

const StorageItem& itemAt(const ScanResult& result, const std::string& url) {
    for (const auto& item : result.items) {
        if (item.url == url) return item;
    }
    throw std::runtime_error("no item at " + url);
}

std::size_t countStarting(const std::vector<std::string>& texts, std::string_view prefix) {
    return static_cast<std::size_t>(
        std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
}

void addProject(const TempTree& tree, const std::string& folder) {
    tree.writeFile(folder + "/package.json", "{}");
    tree.writeFile(folder + "/node_modules/left-pad/index.js", "module.exports = 1;");
}

void writeAt(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

// Whole paths stop at PATH_MAX, so the chain is built relative to each level. Calls `atEachLevel`
// with every new level's descriptor and gives the levels' path texts, top first.
std::vector<std::string> buildChain(const std::string& root, std::size_t levels,
                                    const std::function<void(int folder)>& atEachLevel) {
    const std::string name = "level-of-a-deep-tree";  // 20 characters
    std::vector<std::string> chain;
    std::string path = root;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (chain.size() < levels && fd >= 0 && ::mkdirat(fd, name.c_str(), 0755) == 0) {
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = child;
        chain.push_back(path += "/" + name);
        if (fd >= 0) atEachLevel(fd);
    }
    if (fd >= 0) ::close(fd);
    return chain;
}

std::size_t openDescriptors() {
    std::size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count;
}

TEST(ProjectWalkTest, TreeDeeperThanPathMaxIsWalkedWithBoundedDescriptors) {
    TempTree tree;
    tree.makeDir("root");
    // Side folders created before and after the chain's own folder, so that in any listing order
    // some are entered only after coming back up, when their folder must be reopened.
    const auto chain = buildChain(tree.path("root"), 300, [](int folder) {
        for (const char* side : {"a-side", "z-side"}) {
            ::mkdirat(folder, side, 0755);
            const int fd = ::openat(folder, side, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            writeAt(fd, "leaf");
            ::close(fd);
        }
    });
    ASSERT_GT(chain.back().size(), static_cast<std::size_t>(PATH_MAX));

    const std::size_t baseline = openDescriptors();
    std::size_t mostOpen = 0, leaves = 0, entries = 0;
    bool bottomSeen = false;
    int errors = 0;
    {
        ProjectWalk walk(tree.path("root"), [&](const std::string&, int) { ++errors; });
        while (const auto* entry = walk.next()) {
            if (++entries % 16 == 0) mostOpen = std::max(mostOpen, openDescriptors() - baseline);
            leaves += entry->name == "leaf" ? 1 : 0;
            bottomSeen = bottomSeen || entry->path == chain.back() + "/z-side/leaf";
        }
    }
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(leaves, 600u);
    EXPECT_TRUE(bottomSeen);
    EXPECT_LE(mostOpen, ProjectWalk::kOpenFolderLimit);
    EXPECT_EQ(openDescriptors(), baseline);
}

TEST(ScanRootsTest, RootOrderNestingAndSystemLocations) {
    TempTree tree;
    addProject(tree, "p/web");
    tree.writeFile("abcd/file");
    tree.writeFile("\xc3\xa9\xc3\xa9\xc3\xa9/file");  // shorter than "abcd" in characters, longer in bytes
    const ScanConfiguration configuration(
        tree.path("home"), {tree.path("abcd"), tree.path("p/web"), tree.path("\xc3\xa9\xc3\xa9\xc3\xa9"),
                            tree.path("p/./web/.."), tree.path("missing"), "/usr/local/src", "/", tree.path("p")});
    const auto scan = runScan(configuration, 1);

    EXPECT_EQ(scan.result.notes, (std::vector<std::string>{
                                     "Choose a project folder instead of a system location: /",
                                     "Choose a project folder instead of a system location: /usr/local/src",
                                 }));
    EXPECT_EQ(urls(scan.result), std::set<std::string>{tree.path("p/web/node_modules")});
    // "p" once: web, web/package.json, web/node_modules; "web" never on its own.
    EXPECT_EQ(countStarting(scan.progress, "Looking through p\u2026 "), 3u);
    EXPECT_EQ(countStarting(scan.progress, "Looking through web"), 0u);
    EXPECT_EQ(scan.progress.front(), "Looking through p\u2026 1 entries checked");
    const auto accented = std::find(scan.progress.begin(), scan.progress.end(),
                                    "Looking through \xc3\xa9\xc3\xa9\xc3\xa9\u2026 1 entries checked");
    EXPECT_LT(accented, std::find(scan.progress.begin(), scan.progress.end(),
                                  "Looking through abcd\u2026 1 entries checked"));
}

TEST(ScanWalkTest, FindsTargetsOnlyWhereTheWalkMayLook) {
    TempTree tree;
    for (const char* project : {"root/web", "root/web/node_modules/inner", "root/.hidden/proj", "root/odd\xff\nname",
                                "root/Library/proj", "root/.git/proj", "root/.Trash/proj", "root/Tool.app/proj",
                                "outside"}) {
        addProject(tree, project);
    }
    tree.writeFile("root/web/.next/cache/x");
    tree.writeFile("root/rust/Cargo.toml");
    tree.writeFile("root/rust/target/debug/app");
    tree.writeFile("root/linked/package.json");
    tree.symlink(tree.path("outside/node_modules"), "root/linked/node_modules");
    tree.symlink(tree.path("outside"), "root/shortcut");

    const auto scan = runScan(ScanConfiguration(tree.path("home"), {tree.path("root")}));

    EXPECT_TRUE(scan.result.notes.empty());
    EXPECT_EQ(urls(scan.result),
              (std::set<std::string>{tree.path("root/web/node_modules"), tree.path("root/web/.next"),
                                     tree.path("root/rust/target"), tree.path("root/.hidden/proj/node_modules"),
                                     tree.path("root/odd\xff\nname/node_modules")}));
    const auto& modules = itemAt(scan.result, tree.path("root/web/node_modules"));
    EXPECT_EQ(modules.title, "web / node_modules");
    EXPECT_EQ(modules.measurement.files, 3);  // its own file and inner's two
    EXPECT_TRUE(modules.selectable());
    EXPECT_EQ(itemAt(scan.result, tree.path("root/web/.next")).title, "web / .next");
    EXPECT_EQ(itemAt(scan.result, tree.path("root/odd\xff\nname/node_modules")).title, "odd\xff\nname / node_modules");
    EXPECT_EQ(countStarting(scan.progress, "Inspecting "), 5u);
}

TEST(ScanWalkTest, ProgressEveryThousandEntries) {
    TempTree tree;
    const int many = ::open(tree.makeDir("many").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < 2500; ++i) writeAt(many, "f" + std::to_string(i));
    ::close(many);
    const auto scan = runScan(ScanConfiguration(tree.path("home"), {tree.path("many")}));

    EXPECT_EQ(scan.progress, (std::vector<std::string>{"Looking through many\u2026 1000 entries checked",
                                                       "Looking through many\u2026 2000 entries checked"}));
}

TEST(ScanWalkTest, TraversalLimitEndsOnlyThatRoot) {
    TempTree tree;
    for (int i = 0; i < 6; ++i) tree.writeFile("a/f" + std::to_string(i));
    for (int i = 0; i < 5; ++i) tree.writeFile("c/f" + std::to_string(i));  // exactly at the limit
    addProject(tree, "b/web");
    ScanCancellation cancellation;
    ScanLimits limits;
    limits.rootEntries = 5;
    const auto result = Scanner::scan(ScanConfiguration(tree.path("home"), {tree.path("a"), tree.path("c"), tree.path("b")}),
                                      std::nullopt, cancellation, {}, limits);

    EXPECT_EQ(result.notes, std::vector<std::string>{"Project traversal limit reached for " + tree.path("a") +
                                                     ". Add a more specific folder."});
    EXPECT_EQ(urls(result), std::set<std::string>{tree.path("b/web/node_modules")});
}

TEST(ScanWalkTest, TooDeepForPathCallsIsNotedOnceAndTheRestIsFound) {
    TempTree tree;
    addProject(tree, "deep/web");
    // A project at the bottom, out of reach of every path-based check.
    std::size_t level = 0;
    const auto chain = buildChain(tree.path("deep"), 300, [&](int folder) {
        if (++level < 300) return;
        writeAt(folder, "package.json");
        ::mkdirat(folder, "node_modules", 0755);
    });
    const auto boundary = std::find_if(chain.begin(), chain.end(), [](const std::string& path) {
        return path.size() >= static_cast<std::size_t>(PATH_MAX);
    });
    ASSERT_NE(boundary, chain.end());

    const auto scan = runScan(ScanConfiguration(tree.path("home"), {tree.path("deep")}));

    EXPECT_EQ(scan.result.notes, std::vector<std::string>{"Skipped " + *boundary + ": File name too long"});
    EXPECT_EQ(urls(scan.result), std::set<std::string>{tree.path("deep/web/node_modules")});
}

struct UnreadableFixture {
    std::string home, root, locked, closedRoot;
};

// Runs as "nobody"; the exit status tells the parent what went wrong.
void scanWithoutPrivileges(void* context) {
    const auto& fixture = *static_cast<const UnreadableFixture*>(context);
    ScanCancellation cancellation;
    const auto result = Scanner::scan(ScanConfiguration(fixture.home, {fixture.closedRoot, fixture.root}),
                                      std::nullopt, cancellation, {});
    const std::vector<std::string> expected{"Could not read " + fixture.closedRoot,
                                            "Skipped " + fixture.locked + ": Permission denied"};
    for (const auto& note : result.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    if (result.notes != expected) ::_exit(1);
    if (result.items.size() != 1 || result.items[0].title != "web / node_modules") ::_exit(2);
}

TEST(ScanWalkTest, UnreadableFoldersBecomeNotesAndTheWalkGoesOn) {
    TempTree tree;
    addProject(tree, "projects/web");
    addProject(tree, "projects/locked/app");
    addProject(tree, "shut/app");
    UnreadableFixture fixture{tree.path("home"), tree.path("projects"), tree.path("projects/locked"),
                              tree.path("shut")};
    ::chmod(fixture.locked.c_str(), 0);
    ::chmod(fixture.closedRoot.c_str(), 0);

    EXPECT_EQ(testing::runAsNobody(scanWithoutPrivileges, &fixture), 0);
}

TEST(ScanFixedLocationsTest, CachesAndDerivedDataFoldersRecordedOnceAcrossPhases) {
    TempTree tree;
    const std::string derived = "home/Library/Developer/Xcode/DerivedData";
    tree.writeFile("home/.npm/_cacache/index-v5/aa");
    tree.writeFile(derived + "/App-abc/Build/Products/app");
    tree.writeFile(derived + "/info.plist");
    tree.writeFile("elsewhere/Build/x");
    tree.symlink(tree.path("elsewhere"), derived + "/Linked-def");
    addProject(tree, derived);  // its node_modules is met by the walk first, then by the listing
    const auto scan = runScan(ScanConfiguration(tree.path("home"), {tree.path(derived)}));

    EXPECT_TRUE(scan.result.notes.empty());
    EXPECT_EQ(urls(scan.result), (std::set<std::string>{tree.path("home/.npm/_cacache"), tree.path(derived + "/App-abc"),
                                                         tree.path(derived + "/node_modules")}));
    const auto& npm = itemAt(scan.result, tree.path("home/.npm/_cacache"));
    EXPECT_EQ(npm.title, "_cacache");
    EXPECT_EQ(npm.kind, StorageKind::caches);
    EXPECT_EQ(itemAt(scan.result, tree.path(derived + "/App-abc")).kind, StorageKind::builds);
    EXPECT_EQ(itemAt(scan.result, tree.path(derived + "/node_modules")).title, "DerivedData / node_modules");
}

class ScanDevicesTest : public ::testing::Test {
protected:
    static constexpr const char* kShutdown = "8A3F1C2E-0B4D-4E5F-9A6B-7C8D9E0F1A2B";
    static constexpr const char* kBooted = "11111111-2222-3333-4444-555555555555";
    static constexpr const char* kUnlisted = "ABCDEF01-BBBB-CCCC-DDDD-EEEEEEEEEEEE";

    ScanDevicesTest() {
        const std::string plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>";
        tree.writeFile(device(kShutdown) + "/device.plist",
                       plist + "<key>lastBootedAt</key><date>2024-01-02T03:04:05Z</date></dict></plist>");
        tree.writeFile(device(kBooted) + "/device.plist", plist + "<key>name</key><string>iPad</string></dict></plist>");
        tree.writeFile(device(kUnlisted) + "/device.plist", "not a property list");
        tree.writeFile(device("device_set.plist"));
        tree.makeDir(device("ABC"));
    }

    std::string device(const std::string& name) const {
        return "home/Library/Developer/CoreSimulator/Devices/" + name;
    }

    TempTree tree;
};

TEST_F(ScanDevicesTest, InventoryDecidesTitleProtectionAndDeviceID) {
    const std::vector<SimulatorDevice> inventory{
        {"8a3f1c2e-0b4d-4e5f-9a6b-7c8d9e0f1a2b", "iPhone 15", "Shutdown", false},
        {kBooted, "iPad Air", "shutdown", true},  // state words are compared exactly
    };
    const auto scan = runScan(ScanConfiguration(tree.path("home"), {}), 1000, inventory);
    ASSERT_EQ(scan.result.items.size(), 3u);

    const auto& shutdown = itemAt(scan.result, tree.path(device(kShutdown)));
    EXPECT_EQ(shutdown.title, "iPhone 15");
    EXPECT_EQ(shutdown.deviceID, "8a3f1c2e-0b4d-4e5f-9a6b-7c8d9e0f1a2b");
    EXPECT_EQ(shutdown.protection, std::nullopt);
    EXPECT_EQ(shutdown.rebuild, "Create a replacement in Xcode \xe2\x86\x92 Devices and Simulators");
    EXPECT_EQ(shutdown.lastBoot, std::chrono::system_clock::from_time_t(1704164645));  // 2024-01-02T03:04:05Z

    const auto& booted = itemAt(scan.result, tree.path(device(kBooted)));
    EXPECT_EQ(booted.title, "iPad Air");
    EXPECT_EQ(booted.protection, "In use or unknown state");
    EXPECT_EQ(booted.lastBoot, std::nullopt);

    const auto& unlisted = itemAt(scan.result, tree.path(device(kUnlisted)));
    EXPECT_EQ(unlisted.title, "Simulator ABCDEF01");
    EXPECT_EQ(unlisted.deviceID, kUnlisted);
    EXPECT_EQ(unlisted.protection, "Inventory unavailable");
    EXPECT_EQ(unlisted.lastBoot, std::nullopt);
}

TEST_F(ScanDevicesTest, WithoutInventoryEveryDeviceIsProtected) {
    for (const auto& devices : {std::optional<std::vector<SimulatorDevice>>{},
                                std::optional<std::vector<SimulatorDevice>>{std::vector<SimulatorDevice>{}}}) {
        const auto scan = runScan(ScanConfiguration(tree.path("home"), {}), 1000, devices);
        ASSERT_EQ(scan.result.items.size(), 3u);
        for (const auto& item : scan.result.items) {
            const std::string udid = item.url.substr(item.url.rfind('/') + 1);
            EXPECT_EQ(item.title, "Simulator " + udid.substr(0, 8));
            EXPECT_EQ(item.deviceID, udid);
            EXPECT_EQ(item.protection, "Inventory unavailable");
        }
    }
}

class ScanCancellationTest : public ::testing::Test {
protected:
    ScanResult scanCancellingAt(std::string_view trigger) {
        addProject(tree, "root/web");
        for (int i = 0; i < 20; ++i) tree.writeFile("root/files/f" + std::to_string(i));
        tree.writeFile("home/.npm/_cacache/index");
        tree.writeFile("home/Library/Developer/Xcode/DerivedData/App-abc/x");
        tree.writeFile("home/Library/Developer/CoreSimulator/Devices/8A3F1C2E-0B4D-4E5F-9A6B-7C8D9E0F1A2B/x");
        ScanCancellation cancellation;
        ScanLimits limits;
        limits.progressInterval = 1;
        return Scanner::scan(
            ScanConfiguration(tree.path("home"), {tree.path("root")}), std::nullopt, cancellation,
            [&](const std::string& text) {
                progress.push_back(text);
                if (text.rfind(trigger, 0) == 0) cancellation.cancel();
            },
            limits);
    }

    TempTree tree;
    std::vector<std::string> progress;
};

TEST_F(ScanCancellationTest, CancelDuringWalkStopsEveryLaterPhase) {
    const auto result = scanCancellingAt("Looking through root\u2026 1 ");
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.items.empty());
    EXPECT_EQ(progress.size(), 1u);
}

TEST_F(ScanCancellationTest, ItemMeasuredWhileCancellingIsKeptIncomplete) {
    const auto result = scanCancellingAt("Inspecting node_modules");
    const std::string modules = tree.path("root/web/node_modules");
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(urls(result), std::set<std::string>{modules});
    EXPECT_FALSE(result.items.at(0).measurement.complete);
    EXPECT_EQ(result.notes,
              std::vector<std::string>{"Could not fully inspect " + modules + ". Cleanup disabled for this item."});
    EXPECT_EQ(countStarting(progress, "Inspecting "), 1u);
}

TEST(ScanOrderTest, LargestFirstAndEqualSizesKeepFindingOrder) {
    TempTree tree;
    tree.writeFile("root/web/package.json");
    tree.writeFile("root/web/node_modules/a", std::string(4096, 's'));
    tree.writeFile("home/.npm/_cacache/a", std::string(3 * 4096, 'L'));
    tree.writeFile("home/Library/Developer/Xcode/DerivedData/App-abc/a", std::string(3 * 4096, 'L'));
    const auto items = runScan(ScanConfiguration(tree.path("home"), {tree.path("root")})).result.items;

    ASSERT_EQ(items.size(), 3u);
    ASSERT_EQ(items[0].measurement.bytes, items[1].measurement.bytes);
    EXPECT_EQ(items[0].url, tree.path("home/.npm/_cacache"));
    EXPECT_EQ(items[1].url, tree.path("home/Library/Developer/Xcode/DerivedData/App-abc"));
    EXPECT_EQ(items[2].url, tree.path("root/web/node_modules"));
    EXPECT_GT(items[1].measurement.bytes, items[2].measurement.bytes);
}

}  // namespace
}  // namespace tarnby
