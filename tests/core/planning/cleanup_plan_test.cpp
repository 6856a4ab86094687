#include "core/planning/cleanup_plan.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/records/storage_error.h"

namespace tarnby {
namespace {

using enum PlannedOperation;

TEST(CleanupPlanJson, TextIsExactLeavesOutIdAndKeptLinesAndDegradesToAnEmptyArray) {
    const std::string sim = "/Users/me/Library/Developer/CoreSimulator/Devices/5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10";
    const PlannedItem site{"/Users/me/Code/site/node_modules", "site / node_modules", moveFolderToTrash, 734003200};
    const CleanupPlan plan{"A", {site, {sim, "iPhone 15", eraseSimulator, 2147483648}}, {"other: kept"}};
    EXPECT_EQ(plan.json(), R"([
  {
    "estimatedBytes" : 734003200,
    "operation" : "moveFolderToTrash",
    "path" : "\/Users\/me\/Code\/site\/node_modules",
    "title" : "site \/ node_modules"
  },
  {
    "estimatedBytes" : 2147483648,
    "operation" : "eraseSimulator",
    "path" : "\/Users\/me\/Library\/Developer\/CoreSimulator\/Devices\/5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10",
    "title" : "iPhone 15"
  }
])");
    EXPECT_EQ((CleanupPlan{"A", {}, {"x: reason"}}.json()), "[\n\n]");
    EXPECT_EQ((CleanupPlan{"A", {site, {"/bad", "caf\xE9", eraseSimulator, 2}}, {}}.json()), "[]");
}

TEST(CleanupPlanJson, AwkwardTextsAndExtremeCountsReadBackUnchanged) {
    const std::vector<PlannedItem> items{
        {"/Users/me/Code/a \"quoted\"/node_modules", "line one\nline \"two\" \\ /", moveFolderToTrash, INT64_MAX},
        {"/Users/me/Código/ünïcode", "ünïcode ✓", eraseSimulator, INT64_MIN},
    };
    const std::string text = CleanupPlan{"A", items, {}}.json();
    EXPECT_NE(text.find("Código\\/ünïcode"), std::string::npos) << "non-ASCII must stay UTF-8: " << text;
    const auto parsed = nlohmann::json::parse(text);
    ASSERT_EQ(parsed.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(decodePlannedItem(parsed[i].dump()), items[i]) << i;
}

TEST(CleanupPlanDecoding, RejectsEveryMalformedItemWithADecodingError) {
    for (const std::string text : {
             R"({"operation":"moveFolderToTrash","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"moveFolderToTrash","title":"t"})",
             R"({"estimatedBytes":1,"operation":"moveFolderToTrash","path":"/p"})",
             R"({"estimatedBytes":1,"operation":"deleteEverything","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"MoveFolderToTrash","path":"/p","title":"t"})",
             R"({"estimatedBytes":9223372036854775808,"operation":"eraseSimulator","path":"/p","title":"t"})",
             R"({"estimatedBytes":1.5,"operation":"eraseSimulator","path":"/p","title":"t"})",
             R"({"estimatedBytes":"1","operation":"eraseSimulator","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"eraseSimulator","path":7,"title":"t"})",
             R"([{"estimatedBytes":1,"operation":"eraseSimulator","path":"/p","title":"t"}])",
             R"({"estimatedBytes":1,)",
             // Found by fuzzing: numbers past a double's range made the parser throw its own error.
             R"({"estimatedBytes":1.5e+340,"operation":"moveFolderToTrash","path":"/p","title":"t"})",
             R"({"estimatedBytes":1,"operation":"eraseSimulator","path":"/p","title":"t","other":-1e999})",
         }) {
        EXPECT_THROW(decodePlannedItem(text), DecodingError) << text;
    }
}

}  // namespace
}  // namespace tarnby
