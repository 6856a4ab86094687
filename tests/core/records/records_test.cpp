#include <thread>

#include <gtest/gtest.h>

#include "core/records/scan_cancellation.h"
#include "core/records/storage_error.h"
#include "core/records/storage_item.h"
#include "core/records/storage_kind.h"

namespace tarnby {
namespace {

TEST(StorageKind, RawValuesRoundTripExactlyInDeclarationOrder) {
    EXPECT_EQ(storageKindFromRawValue("Dependencies"), std::nullopt);
    EXPECT_EQ(storageKindFromRawValue("dependency"), std::nullopt);
    std::vector<std::string_view> raw;
    for (auto kind : kAllStorageKinds) {
        raw.push_back(rawValue(kind));
        EXPECT_EQ(storageKindFromRawValue(rawValue(kind)), kind);
    }
    EXPECT_EQ(raw, (std::vector<std::string_view>{"dependencies", "builds", "caches", "simulators"}));
}

TEST(StorageItem, SelectableOnlyWhenCompleteAndUnprotected) {
    StorageItem item{"/p/node_modules", StorageKind::dependencies, "p / node_modules", "", "", {}, {}, {}, {}};
    EXPECT_TRUE(item.selectable());
    item.measurement.complete = false;
    EXPECT_FALSE(item.selectable());
    item.measurement.complete = true;
    item.protection = "";
    EXPECT_FALSE(item.selectable());  // any protection text, even an empty one

    Measurement dated;
    dated.modified = TimePoint{};
    EXPECT_NE(Measurement{}, dated);  // equality sees an absent date
}

TEST(ScanCancellation, OneWayAndVisibleAcrossThreads) {
    ScanCancellation cancellation;
    EXPECT_FALSE(cancellation.isCancelled());
    std::thread([&] { cancellation.cancel(); }).join();
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
    EXPECT_EQ(StorageError::command("").errorDescription(), "");
}

}  // namespace
}  // namespace tarnby
