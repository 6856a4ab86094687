#include <gtest/gtest.h>

#include "core/records/storage_item.h"
#include "core/records/storage_kind.h"

namespace tarnby {
namespace {

TEST(Records, KindsRoundTripThroughTheirRawValuesExactlyAndItemsAreSelectableOnlyCompleteAndUnprotected) {
    for (auto kind : kAllStorageKinds) EXPECT_EQ(storageKindFromRawValue(rawValue(kind)), kind);
    EXPECT_EQ(storageKindFromRawValue("Dependencies"), std::nullopt);

    StorageItem item{"/p/node_modules", StorageKind::dependencies, "p / node_modules", "", "", {}, {}, {}, {}};
    EXPECT_TRUE(item.selectable());
    item.measurement.complete = false;
    EXPECT_FALSE(item.selectable());
    item.measurement.complete = true;
    item.protection = "";
    EXPECT_FALSE(item.selectable());  // any protection text, even an empty one
}

}  // namespace
}  // namespace tarnby
