#include "core/planning/cleanup_planner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/platform/uuid.h"
#include "core/records/storage_error.h"
#include "core/scanning/file_inspection.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

constexpr const char* kUnsafe = ": This path is no longer a recognized cleanup target. Scan again.";
constexpr const char* kChanged = ": This item changed after the scan. Scan again before cleaning it.";
constexpr const char* kIncomplete = ": This item could not be fully inspected. It has been kept.";
constexpr const char* kNotAcknowledged = ": Simulator data loss has not been acknowledged.";
constexpr const char* kUnavailable = ": The simulator inventory is unavailable. Nothing was deleted.";
constexpr const char* kRunning = ": This simulator is running or its state is unknown. It has been kept.";

constexpr const char* kPhone = "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10";
constexpr const char* kWatch = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";

// Answers with a fixed list, or throws, and counts how often it was asked.
class FakeSimulators final : public SimulatorManaging {
public:
    explicit FakeSimulators(std::vector<SimulatorDevice> devices = {}) : m_devices(std::move(devices)) {}
    static FakeSimulators failing(std::string text) {
        FakeSimulators fake;
        fake.m_failure = std::move(text);
        return fake;
    }

    std::vector<SimulatorDevice> inventory() const override {
        ++m_calls;
        if (m_failure) throw LaunchError(*m_failure);
        return m_devices;
    }
    int calls() const { return m_calls; }

private:
    std::vector<SimulatorDevice> m_devices;
    std::optional<std::string> m_failure;
    mutable int m_calls = 0;
};

class CleanupPlannerTest : public ::testing::Test {
protected:
    // A project "<name>" under ~/Code with a measured node_modules.
    StorageItem folder(const std::string& name) const {
        m_tree.writeFile("home/Code/" + name + "/package.json", "{}");
        m_tree.writeFile("home/Code/" + name + "/node_modules/left-pad/index.js", "module.exports = 1;");
        const std::string url = m_tree.path("home/Code/" + name + "/node_modules");
        return StorageItem{url, StorageKind::dependencies, name + " / node_modules", "", "", measured(url),
                           std::nullopt, std::nullopt, std::nullopt};
    }

    // A device folder under the fixture's devices root, measured.
    StorageItem simulator(const std::string& folderName, const std::string& deviceID,
                          const std::string& title) const {
        const std::string relative = "home/Library/Developer/CoreSimulator/Devices/" + folderName;
        m_tree.writeFile(relative + "/device.plist", "plist");
        m_tree.writeFile(relative + "/data/Containers/app.db", "rows");
        const std::string url = m_tree.path(relative);
        return StorageItem{url, StorageKind::simulators, title, "", "", measured(url), deviceID, std::nullopt,
                           std::nullopt};
    }

    static Measurement measured(const std::string& url) {
        const ScanCancellation cancellation;
        Measurement measurement = FileInspection::measure(url, cancellation);
        EXPECT_TRUE(measurement.complete) << url;
        return measurement;
    }

    CleanupPlan make(const std::vector<StorageItem>& items, const SimulatorManaging& simulators,
                     bool acknowledge = true) const {
        return CleanupPlanner::make(items, m_configuration, simulators, acknowledge);
    }

    static PlannedItem planned(const StorageItem& item) {
        return PlannedItem{item.url, item.title,
                           item.deviceID ? PlannedOperation::eraseSimulator : PlannedOperation::moveFolderToTrash,
                           item.measurement.bytes};
    }

    TempTree m_tree;
    std::string m_home = m_tree.makeDir("home");
    ScanConfiguration m_configuration{m_home, {m_home + "/Code"}};
};

TEST_F(CleanupPlannerTest, EmptySelectionGivesAnEmptyPlanWithAFreshId) {
    const FakeSimulators simulators;
    const CleanupPlan first = make({}, simulators);
    const CleanupPlan second = make({}, simulators);
    EXPECT_TRUE(uuid::isUUID(first.id));
    EXPECT_NE(first.id, second.id);
    EXPECT_TRUE(first.items.empty());
    EXPECT_TRUE(first.kept.empty());
}

TEST_F(CleanupPlannerTest, OnlyTheFingerprintDecidesWhetherAFolderChanged) {
    const FakeSimulators simulators;
    StorageItem resized = folder("site");
    // Values other than the fingerprint are neither compared nor taken from the new walk.
    resized.measurement.bytes = 123;
    resized.measurement.files = 999;
    resized.measurement.modified.reset();

    const StorageItem edited = folder("blog");
    m_tree.writeFile("home/Code/blog/node_modules/new-package/index.js", "new");

    const CleanupPlan plan = make({resized, edited}, simulators);
    ASSERT_EQ(plan.items.size(), 1u);
    EXPECT_EQ(plan.items[0], (PlannedItem{resized.url, "site / node_modules", PlannedOperation::moveFolderToTrash, 123}));
    EXPECT_EQ(plan.kept, std::vector<std::string>{std::string("blog / node_modules") + kChanged});
}

TEST_F(CleanupPlannerTest, IneligibleItemsAreRefusedBeforeAnyLaterCheck) {
    const FakeSimulators simulators({{kPhone, "iPhone 15", "Shutdown", true}});

    // Each of these would fail a later check too (stale fingerprint, running inventory), so
    // the text shows which check came first.
    StorageItem protectedFolder = folder("a");
    protectedFolder.protection = "In use or unknown state";
    protectedFolder.measurement.fingerprint = "stale";
    StorageItem partlySeen = folder("b");
    partlySeen.measurement.complete = false;
    partlySeen.measurement.fingerprint = "stale";
    StorageItem unmarked = folder("c");
    ::unlink(m_tree.path("home/Code/c/package.json").c_str());
    StorageItem wrongKind = folder("d");
    wrongKind.kind = StorageKind::builds;
    StorageItem outsideRoots = folder("e");
    outsideRoots.url = m_tree.path("home/Code");
    StorageItem protectedDevice = simulator(kPhone, kPhone, "iPhone 15");
    protectedDevice.protection = "Inventory unavailable";

    const CleanupPlan plan =
        make({protectedFolder, partlySeen, unmarked, wrongKind, outsideRoots, protectedDevice}, simulators);
    EXPECT_TRUE(plan.items.empty());
    EXPECT_EQ(plan.kept, (std::vector<std::string>{
                             std::string("a / node_modules") + kUnsafe, std::string("b / node_modules") + kUnsafe,
                             std::string("c / node_modules") + kUnsafe, std::string("d / node_modules") + kUnsafe,
                             std::string("e / node_modules") + kUnsafe, std::string("iPhone 15") + kUnsafe}));
    EXPECT_EQ(simulators.calls(), 0);
}

struct UnreadableCase {
    std::vector<StorageItem> items;
    ScanConfiguration configuration;
    std::string expected;
};

TEST_F(CleanupPlannerTest, AFolderThatCannotBeWalkedAgainIsKeptAsIncomplete) {
    StorageItem item = folder("locked");
    item.measurement.fingerprint = "stale";  // the walk must stop it before the comparison
    const std::string secret = m_tree.makeDir("home/Code/locked/node_modules/secret");
    m_tree.writeFile("home/Code/locked/node_modules/secret/token", "x");
    ASSERT_EQ(::chmod(secret.c_str(), 0), 0);

    // Root reads everything, so the planner runs as an unprivileged user in a child process.
    UnreadableCase context{{item}, m_configuration, std::string("locked / node_modules") + kIncomplete};
    const int status = testing::runAsNobody(
        [](void* raw) {
            const auto& test = *static_cast<UnreadableCase*>(raw);
            const FakeSimulators simulators;
            const CleanupPlan plan = CleanupPlanner::make(test.items, test.configuration, simulators, true);
            const bool ok = plan.items.empty() && plan.kept == std::vector<std::string>{test.expected};
            ::_exit(ok ? 0 : 1);
        },
        &context);
    ::chmod(secret.c_str(), 0755);
    EXPECT_EQ(status, 0);
}

TEST_F(CleanupPlannerTest, SimulatorsNeedTheAcknowledgementButFoldersDoNot) {
    const FakeSimulators simulators({{kPhone, "iPhone 15", "Shutdown", true}});
    const StorageItem site = folder("site");
    const StorageItem phone = simulator(kPhone, kPhone, "iPhone 15");

    const CleanupPlan plan = make({phone, site}, simulators, /*acknowledge=*/false);
    EXPECT_EQ(plan.items, std::vector<PlannedItem>{planned(site)});
    EXPECT_EQ(plan.kept, std::vector<std::string>{std::string("iPhone 15") + kNotAcknowledged});
    EXPECT_EQ(simulators.calls(), 0);
}

TEST_F(CleanupPlannerTest, SimulatorStateComesFromAFreshInventoryPerItem) {
    const std::string booted = "11111111-2222-4333-8444-555555555555";
    const std::string lowerShutdown = "66666666-7777-4888-8999-AAAAAAAAAAAA";
    const FakeSimulators simulators({
        {"5e3c2a51-0b8d-4c9e-9f1a-2d7b6c4e8a10", "iPhone 15", "Shutdown", true},
        {booted, "iPad", "Booted", true},
        {lowerShutdown, "Vision", "shutdown", true},
        // The first listing of a device decides.
        {kWatch, "Watch", "Booting", true},
        {kWatch, "Watch", "Shutdown", true},
    });
    // Identifiers differ only in letter case from the inventory's.
    const StorageItem phone = simulator(kPhone, "5e3c2a51-0B8D-4c9e-9F1A-2d7b6c4e8a10", "iPhone 15");
    const StorageItem ipad = simulator(booted, booted, "iPad");
    const StorageItem vision = simulator(lowerShutdown, lowerShutdown, "Vision");
    const StorageItem watch = simulator(kWatch, kWatch, "Watch");
    const std::string unlisted = "ABCDEF01-2345-4678-89AB-CDEF01234567";
    const StorageItem missing = simulator(unlisted, unlisted, "Old phone");

    const CleanupPlan plan = make({phone, ipad, vision, watch, missing}, simulators);
    EXPECT_EQ(plan.items, std::vector<PlannedItem>{planned(phone)});
    EXPECT_EQ(plan.items[0].operation, PlannedOperation::eraseSimulator);
    EXPECT_EQ(plan.kept, (std::vector<std::string>{std::string("iPad") + kRunning, std::string("Vision") + kRunning,
                                                   std::string("Watch") + kRunning,
                                                   std::string("Old phone") + kUnavailable}));
    EXPECT_EQ(simulators.calls(), 5);
}

TEST_F(CleanupPlannerTest, AFailingInventoryKeepsOnlyItsSimulatorWithItsOwnText) {
    const auto simulators = FakeSimulators::failing("“xcrun” could not be started: No such file or directory");
    const StorageItem phone = simulator(kPhone, kPhone, "iPhone 15");
    const StorageItem site = folder("site");

    const CleanupPlan plan = make({site, phone, site}, simulators);
    EXPECT_EQ(plan.items, (std::vector<PlannedItem>{planned(site), planned(site)}));
    EXPECT_EQ(plan.kept,
              std::vector<std::string>{"iPhone 15: “xcrun” could not be started: No such file or directory"});
}

TEST_F(CleanupPlannerTest, BothListsFollowInputOrderAndKeepDuplicates) {
    const FakeSimulators simulators({{kPhone, "iPhone 15", "Shutdown", true}});
    const StorageItem a = folder("a");
    const StorageItem b = folder("b");
    StorageItem stale = folder("c");
    stale.measurement.fingerprint = "stale";
    StorageItem unsafe = folder("d");
    unsafe.protection = "In use or unknown state";
    const StorageItem phone = simulator(kPhone, kPhone, "iPhone 15");

    const CleanupPlan plan = make({b, stale, phone, a, unsafe, b, stale}, simulators);
    EXPECT_EQ(plan.items, (std::vector<PlannedItem>{planned(b), planned(phone), planned(a), planned(b)}));
    EXPECT_EQ(plan.kept, (std::vector<std::string>{std::string("c / node_modules") + kChanged,
                                                   std::string("d / node_modules") + kUnsafe,
                                                   std::string("c / node_modules") + kChanged}));
}

}  // namespace
}  // namespace tarnby
