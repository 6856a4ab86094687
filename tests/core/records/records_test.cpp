#include <thread>

#include <gtest/gtest.h>

#include "core/records/scan_cancellation.h"
#include "core/records/scan_configuration.h"
#include "core/records/storage_error.h"
#include "core/records/storage_item.h"
#include "core/records/storage_kind.h"

namespace tarnby {
namespace {

TEST(StorageKind, RawValuesAreExactAndOrdered) {
    EXPECT_EQ(storageKindFromRawValue("dependencies"), StorageKind::dependencies);
    EXPECT_EQ(storageKindFromRawValue("Dependencies"), std::nullopt);
    EXPECT_EQ(storageKindFromRawValue("dependency"), std::nullopt);
    ASSERT_EQ(kAllStorageKinds.size(), 4U);
    std::vector<std::string_view> raw;
    for (auto kind : kAllStorageKinds) {
        raw.push_back(rawValue(kind));
        EXPECT_EQ(storageKindFromRawValue(rawValue(kind)), kind);
    }
    EXPECT_EQ(raw, (std::vector<std::string_view>{"dependencies", "builds", "caches", "simulators"}));
    EXPECT_EQ(title(StorageKind::builds), "Build outputs");
    EXPECT_EQ(symbol(StorageKind::simulators), "iphone");
}

TEST(Measurement, DefaultsAndEqualityCoverEveryField) {
    const Measurement fresh;
    EXPECT_EQ(fresh.bytes, 0);
    EXPECT_EQ(fresh.files, 0);
    EXPECT_FALSE(fresh.modified.has_value());
    EXPECT_TRUE(fresh.fingerprint.empty());
    EXPECT_TRUE(fresh.complete);

    Measurement incomplete;
    incomplete.complete = false;
    EXPECT_NE(fresh, incomplete);
    Measurement dated;
    dated.modified = TimePoint{};
    EXPECT_NE(fresh, dated);
}

TEST(StorageItem, SelectableOnlyWhenCompleteAndUnprotected) {
    StorageItem item{"/p/node_modules", StorageKind::dependencies, "p / node_modules", "", "", {}, {}, {}, {}};
    EXPECT_TRUE(item.selectable());
    EXPECT_EQ(item.id(), "/p/node_modules");
    item.measurement.complete = false;
    EXPECT_FALSE(item.selectable());
    item.measurement.complete = true;
    item.protection = "";
    EXPECT_FALSE(item.selectable());  // any protection text, even an empty one
}

TEST(ScanConfiguration, StandardizesAndDerivesFixedLocations) {
    const ScanConfiguration configuration("/Users/a/./x/..", {"/p/../q", "/q", "/q"});
    EXPECT_EQ(configuration.home(), "/Users/a");
    EXPECT_EQ(configuration.roots(), (std::vector<std::string>{"/q", "/q", "/q"}));
    EXPECT_EQ(configuration.cacheTargets(),
              (std::vector<std::string>{"/Users/a/.npm/_cacache", "/Users/a/Library/Caches/Yarn",
                                        "/Users/a/Library/pnpm/store", "/Users/a/Library/Caches/org.swift.swiftpm"}));
    EXPECT_EQ(configuration.derivedRoot(), "/Users/a/Library/Developer/Xcode/DerivedData");
    EXPECT_EQ(configuration.devicesRoot(), "/Users/a/Library/Developer/CoreSimulator/Devices");
}

TEST(ScanCancellation, OneWayAndVisibleAcrossThreads) {
    ScanCancellation cancellation;
    EXPECT_FALSE(cancellation.isCancelled());
    std::thread([&] { cancellation.cancel(); }).join();
    EXPECT_TRUE(cancellation.isCancelled());
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
}

TEST(StorageError, DescriptionsAreTheFixedSentences) {
    EXPECT_EQ(StorageError::command("").errorDescription(), "");
    EXPECT_EQ(StorageError::command("The Xcode command failed.").errorDescription(), "The Xcode command failed.");
    EXPECT_STREQ(StorageError::changed().what(), "This item changed after the scan. Scan again before cleaning it.");
    EXPECT_EQ(StorageError::simulatorRunning().errorDescription(),
              "This simulator is running or its state is unknown. It has been kept.");
    EXPECT_EQ(StorageError::unsafePath().code(), StorageError::Code::unsafePath);
}

}  // namespace
}  // namespace tarnby
