#include "core/planning/cleanup_planner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/planning/cleanup_plan.h"
#include "core/platform/uuid.h"
#include "core/records/storage_error.h"
#include "core/scanning/file_inspection.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using Lines = std::vector<std::string>;

const std::string kUnsafe = ": This path is no longer a recognized cleanup target. Scan again.";
const std::string kChanged = ": This item changed after the scan. Scan again before cleaning it.";
const std::string kRunning = ": This simulator is running or its state is unknown. It has been kept.";

constexpr const char* kPhone = "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10";
constexpr const char* kPad = "11111111-2222-4333-8444-555555555555";
constexpr const char* kVision = "66666666-7777-4888-8999-AAAAAAAAAAAA";
constexpr const char* kWatch = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";

// A fixed list or a failure, counting the calls; `abandon` is an owner gone while it is asked.
struct FakeSimulators final : SimulatorManaging {
    explicit FakeSimulators(std::vector<SimulatorDevice> list = {}, std::optional<std::string> error = {},
                            ScanCancellation* abandon = nullptr)
        : devices(std::move(list)), failure(std::move(error)), abandonOnCall(abandon) {}
    std::vector<SimulatorDevice> inventory() const override {
        ++calls;
        if (abandonOnCall) abandonOnCall->cancel();
        if (failure) throw LaunchError(*failure);
        return devices;
    }
    std::vector<SimulatorDevice> devices;
    std::optional<std::string> failure;
    ScanCancellation* abandonOnCall;
    mutable int calls = 0;
};

struct CleanupPlannerTest : ::testing::Test {
    // A measured node_modules of project "<name>" under ~/Code.
    StorageItem folder(const std::string& name) const {
        m_tree.writeFile("home/Code/" + name + "/package.json", "{}");
        return measured("home/Code/" + name + "/node_modules", name + " / node_modules", std::nullopt);
    }
    // A measured device folder named `udid`, with `id` (by default `udid`) as the item's device identifier.
    StorageItem simulator(const std::string& udid, const std::string& title, const std::string& id = "") const {
        return measured("home/Library/Developer/CoreSimulator/Devices/" + udid, title, id.empty() ? udid : id);
    }
    StorageItem measured(const std::string& folder, const std::string& title, std::optional<std::string> id) const {
        m_tree.writeFile(folder + "/data/a.db", "r");
        const std::string url = m_tree.path(folder);
        const StorageKind kind = id ? StorageKind::simulators : StorageKind::dependencies;
        return StorageItem{
            url,           kind,         title,       "", "", FileInspection::measure(url, ScanCancellation{}),
            std::move(id), std::nullopt, std::nullopt};
    }
    CleanupPlan make(const std::vector<StorageItem>& items, const SimulatorManaging& tool, bool ack = true,
                     const ScanCancellation* abandon = nullptr) const {
        return CleanupPlanner::make(items, m_configuration, tool, ack, abandon);
    }
    static PlannedItem planned(const StorageItem& item) {
        return {item.url, item.title,
                item.deviceID ? PlannedOperation::eraseSimulator : PlannedOperation::moveFolderToTrash,
                item.measurement.bytes};
    }

    testing::TempTree m_tree;
    std::string m_home = m_tree.makeDir("home");
    ScanConfiguration m_configuration{m_home, {m_home + "/Code"}};
};

TEST_F(CleanupPlannerTest, EachItemIsPlannedOrKeptByTheFirstCheckItFailsInInputOrder) {
    const FakeSimulators simulators({{"5e3c2a51-0b8d-4c9e-9f1a-2d7b6c4e8a10", "iPhone", "Shutdown", true},
                                     {kPad, "iPad", "Booted", true},
                                     {kVision, "Vision", "shutdown", true},
                                     {kWatch, "Watch", "Booting", true},  // the first listing decides
                                     {kWatch, "Watch", "Shutdown", true}});
    StorageItem resized = folder("site");  // only the fingerprint is compared; the plan keeps scan-time bytes
    resized.measurement.bytes = 123;
    resized.measurement.files = 999;
    resized.measurement.modified.reset();
    const StorageItem edited = folder("blog");
    m_tree.writeFile("home/Code/blog/node_modules/new-package/index.js", "new");
    // These would also fail a later check (stale fingerprint, busy device): the first check decides.
    StorageItem partial = folder("b");
    partial.measurement.complete = false;
    partial.measurement.fingerprint = "stale";
    const StorageItem unmarked = folder("c");
    ::unlink(m_tree.path("home/Code/c/package.json").c_str());
    StorageItem locked = folder("locked");
    locked.measurement.fingerprint = "stale";  // the walk must stop it before the comparison
    ::chmod(m_tree.makeDir("home/Code/locked/node_modules/secret").c_str(), 0);
    StorageItem guardedPad = simulator(kPad, "Guarded iPad");
    guardedPad.protection = "Inventory unavailable";
    guardedPad.measurement.fingerprint = "stale";
    const StorageItem phone = simulator(kPhone, "iPhone", "5e3c2a51-0B8D-4c9e-9F1A-2d7b6c4e8a10");

    std::vector<StorageItem> items{resized, edited, partial, unmarked, locked, guardedPad, phone};
    for (const auto& [udid, title] : {std::pair(kPad, "iPad"), std::pair(kVision, "Vision"), std::pair(kWatch, "Watch"),
                                      std::pair("ABCDEF01-2345-4678-89AB-CDEF01234567", "Old phone")})
        items.push_back(simulator(udid, title));
    items.insert(items.end(), {resized, edited});
    // As "nobody", to whom the locked folder is closed.
    EXPECT_EQ(testing::runAsNobody([&] {
                  const CleanupPlan plan = make(items, simulators);
                  const PlannedItem trash = planned(resized);
                  EXPECT_EQ(plan.items, (std::vector<PlannedItem>{trash, planned(phone), trash}));
                  EXPECT_EQ(plan.kept,
                            (Lines{"blog / node_modules" + kChanged, "b / node_modules" + kUnsafe,
                                   "c / node_modules" + kUnsafe,
                                   "locked / node_modules: This item could not be fully inspected. It has been kept.",
                                   "Guarded iPad" + kUnsafe, "iPad" + kRunning, "Vision" + kRunning, "Watch" + kRunning,
                                   "Old phone: The simulator inventory is unavailable. Nothing was deleted.",
                                   "blog / node_modules" + kChanged}));
                  EXPECT_EQ(simulators.calls, 5) << "asked afresh for every unprotected device, never for folders";
                  EXPECT_TRUE(uuid::isUUID(plan.id) && plan.id != make({}, simulators).id) << plan.id;
              }),
              0);
}

TEST_F(CleanupPlannerTest, SimulatorsNeedTheAcknowledgementAWorkingInventoryAndAnOwnerThatStays) {
    const StorageItem site = folder("site");
    const StorageItem phone = simulator(kPhone, "iPhone 15");
    const FakeSimulators working({{kPhone, "iPhone 15", "Shutdown", true}});
    const CleanupPlan unacknowledged = make({phone, site}, working, /*ack=*/false);
    EXPECT_EQ(unacknowledged.items, std::vector<PlannedItem>{planned(site)});
    EXPECT_EQ(unacknowledged.kept, Lines{"iPhone 15: Simulator data loss has not been acknowledged."});
    EXPECT_EQ(working.calls, 0);

    const FakeSimulators failing({}, "“xcrun” could not be started: No such file or directory");
    const CleanupPlan broken = make({site, phone, site}, failing);
    EXPECT_EQ(broken.items, (std::vector<PlannedItem>{planned(site), planned(site)}));
    EXPECT_EQ(broken.kept, Lines{"iPhone 15: “xcrun” could not be started: No such file or directory"});

    // An owner gone while the inventory is asked: every item not yet checked is kept.
    ScanCancellation abandon;
    const FakeSimulators abandoning({{kPhone, "iPhone 15", "Shutdown", true}}, std::nullopt, &abandon);
    const CleanupPlan plan = make({site, phone, site, folder("blog")}, abandoning, true, &abandon);
    EXPECT_EQ(plan.items, (std::vector<PlannedItem>{planned(site), planned(phone)}));
    const std::string stopped = ": Planning stopped before this item was checked. It has been kept.";
    EXPECT_EQ(plan.kept, (Lines{site.title + stopped, "blog / node_modules" + stopped}));
    // A flag cancelled from the start plans nothing.
    EXPECT_EQ(make({site}, working, true, &abandon).kept, Lines{site.title + stopped});
}

// The layout of a folder's item is checked through the command line's plan.
TEST(CleanupPlanJson, TextIsExactLeavesOutIdAndKeptLinesAndDegradesToAnEmptyArray) {
    const std::string sim = "/Users/me/Library/Developer/CoreSimulator/Devices/5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10";
    const PlannedItem phone{sim, "iPhone 15", PlannedOperation::eraseSimulator, 2147483648};
    EXPECT_EQ((CleanupPlan{"A", {phone}, {"other: kept"}}.json()), R"([
  {
    "estimatedBytes" : 2147483648,
    "operation" : "eraseSimulator",
    "path" : "\/Users\/me\/Library\/Developer\/CoreSimulator\/Devices\/5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10",
    "title" : "iPhone 15"
  }
])");
    EXPECT_EQ((CleanupPlan{"A", {}, {"x: reason"}}.json()), "[\n\n]");
    EXPECT_EQ((CleanupPlan{"A", {phone, {"/bad", "caf\xE9", PlannedOperation::moveFolderToTrash, 2}}, {}}.json()),
              "[]");
}

TEST(CleanupPlanJson, AwkwardTextsAndExtremeCountsReadBackUnchangedAndMalformedItemsAreRefused) {
    const std::vector<PlannedItem> items{
        {"/Users/me/Code/a \"quoted\"/node_modules", "line one\nline \"two\" \\ /", PlannedOperation::moveFolderToTrash,
         INT64_MAX},
        {"/Users/me/Código/ünïcode", "ünïcode ✓", PlannedOperation::eraseSimulator, INT64_MIN},
    };
    const std::string text = CleanupPlan{"A", items, {}}.json();
    EXPECT_NE(text.find("Código\\/ünïcode"), std::string::npos) << "non-ASCII must stay UTF-8: " << text;
    const auto parsed = nlohmann::json::parse(text);
    ASSERT_EQ(parsed.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(decodePlannedItem(parsed[i].dump()), items[i]) << i;

    // Every malformed item is a DecodingError: a key missing, an unknown operation, a number out of
    // range or of the wrong type, not an object, cut short.
    for (const std::string malformed : {
             R"({"operation":"moveFolderToTrash","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"deleteEverything","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"eraseSimulator","path":7,"title":"t"})",
             R"({"estimatedBytes":9223372036854775808,"operation":"eraseSimulator","path":"/p","title":"t"})",
             R"({"estimatedBytes":1.5,"operation":"eraseSimulator","path":"/p","title":"t"})",
             R"({"estimatedBytes":"1","operation":"eraseSimulator","path":"/p","title":"t"})",
             R"([{"estimatedBytes":1,"operation":"eraseSimulator","path":"/p","title":"t"}])",
             R"({"estimatedBytes":1,)",
             // Found by fuzzing: numbers past a double's range made the parser throw its own error.
             R"({"estimatedBytes":1.5e+340,"operation":"moveFolderToTrash","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"eraseSimulator","path":"/p","title":"t","other":-1e999})",
         }) {
        EXPECT_THROW(decodePlannedItem(malformed), DecodingError) << malformed;
    }
}

}  // namespace
}  // namespace tarnby
