#include "core/planning/cleanup_plan.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/records/storage_error.h"

namespace tarnby {
namespace {

PlannedItem folder(std::string path, std::string title, std::int64_t bytes) {
    return {std::move(path), std::move(title), PlannedOperation::moveFolderToTrash, bytes};
}

TEST(CleanupPlanJson, FolderAndSimulatorGiveTheDocumentedText) {
    CleanupPlan plan{"A", {folder("/Users/me/Code/site/node_modules", "site / node_modules", 734003200),
                           {"/Users/me/Library/Developer/CoreSimulator/Devices/5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10",
                            "iPhone 15", PlannedOperation::eraseSimulator, 2147483648}},
                     {"other: kept"}};
    EXPECT_EQ(plan.json(),
              "[\n"
              "  {\n"
              "    \"estimatedBytes\" : 734003200,\n"
              "    \"operation\" : \"moveFolderToTrash\",\n"
              "    \"path\" : \"\\/Users\\/me\\/Code\\/site\\/node_modules\",\n"
              "    \"title\" : \"site \\/ node_modules\"\n"
              "  },\n"
              "  {\n"
              "    \"estimatedBytes\" : 2147483648,\n"
              "    \"operation\" : \"eraseSimulator\",\n"
              "    \"path\" : \"\\/Users\\/me\\/Library\\/Developer\\/CoreSimulator\\/Devices\\/"
              "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10\",\n"
              "    \"title\" : \"iPhone 15\"\n"
              "  }\n"
              "]");
}

TEST(CleanupPlanJson, EmptyPlanIsAnEmptyArrayEvenWithKeptLines) {
    const CleanupPlan plan{"A", {}, {"x: reason"}};
    const auto parsed = nlohmann::json::parse(plan.json());
    EXPECT_TRUE(parsed.is_array());
    EXPECT_TRUE(parsed.empty());
}

TEST(CleanupPlanJson, AwkwardTextsReadBackUnchangedAndIdHasNoInfluence) {
    const std::vector<PlannedItem> items{
        folder("/Users/me/Code/a \"quoted\"/node_modules", "line one\nline \"two\" \\ /", 1),
        folder("/Users/me/Código/ünïcode/target", "ünïcode / target ✓", 0),
        folder("/x", "x", -5),
    };
    const CleanupPlan first{"11111111-1111-4111-8111-111111111111", items, {}};
    const CleanupPlan second{"22222222-2222-4222-8222-222222222222", items, {"y: other"}};
    const std::string text = first.json();
    EXPECT_EQ(text, second.json());

    EXPECT_NE(text.find("Código\\/ünïcode"), std::string::npos) << "non-ASCII must stay UTF-8";
    EXPECT_EQ(text.find("\\u"), std::string::npos);

    const auto parsed = nlohmann::json::parse(text);
    ASSERT_EQ(parsed.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(decodePlannedItem(parsed[i].dump()), items[i]) << i;
    }
}

TEST(CleanupPlanJson, InvalidUtf8GivesTheEmptyArrayText) {
    const CleanupPlan plan{"A", {folder("/ok", "ok", 1), folder("/bad", "caf\xE9", 2)}, {}};
    EXPECT_EQ(plan.json(), "[]");
}

TEST(CleanupPlanDecoding, RejectsEveryMalformedItem) {
    const std::vector<std::string> malformed{
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
        "",
    };
    for (const std::string& text : malformed) {
        try {
            decodePlannedItem(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const DecodingError& error) {
            EXPECT_NE(std::string(error.what()).find("plan item"), std::string::npos) << error.what();
        } catch (...) {
            ADD_FAILURE() << "not a DecodingError: " << text;
        }
    }
}

TEST(CleanupPlanDecoding, AcceptsTheExtremesOfTheByteCount) {
    const auto item = decodePlannedItem(
        R"({"title":"t","path":"\/p","operation":"eraseSimulator","estimatedBytes":-9223372036854775808,"extra":1})");
    EXPECT_EQ(item, (PlannedItem{"/p", "t", PlannedOperation::eraseSimulator, INT64_MIN}));
    EXPECT_EQ(decodePlannedItem(
                  R"({"title":"t","path":"/p","operation":"moveFolderToTrash","estimatedBytes":9223372036854775807})")
                  .estimatedBytes,
              INT64_MAX);
}

TEST(PlannedOperationRawValue, RoundTripsExactlyAndRejectsOtherText) {
    for (auto operation : {PlannedOperation::moveFolderToTrash, PlannedOperation::eraseSimulator}) {
        EXPECT_EQ(plannedOperationFromRawValue(rawValue(operation)), operation);
    }
    EXPECT_EQ(rawValue(PlannedOperation::eraseSimulator), "eraseSimulator");
    EXPECT_FALSE(plannedOperationFromRawValue("erasesimulator"));
    EXPECT_FALSE(plannedOperationFromRawValue(""));
}

}  // namespace
}  // namespace tarnby
