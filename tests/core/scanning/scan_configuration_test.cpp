#include "core/scanning/scan_configuration.h"

#include <gtest/gtest.h>

namespace tarnby {
namespace {

TEST(ScanConfiguration, StandardizesKeepsDuplicateRootsAndDerivesLocations) {
    const ScanConfiguration configuration("/Users/a/./x/..", {"/p/../q", "/q"});
    EXPECT_EQ(configuration.home(), "/Users/a");
    EXPECT_EQ(configuration.roots(), (std::vector<std::string>{"/q", "/q"}));
    EXPECT_EQ(configuration.cacheTargets(),
              (std::vector<std::string>{"/Users/a/.npm/_cacache", "/Users/a/Library/Caches/Yarn",
                                        "/Users/a/Library/pnpm/store", "/Users/a/Library/Caches/org.swift.swiftpm"}));
    EXPECT_EQ(configuration.devicesRoot(), "/Users/a/Library/Developer/CoreSimulator/Devices");
}

}  // namespace
}  // namespace tarnby
