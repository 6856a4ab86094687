#include "core/platform/json_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

namespace tarnby::json {
namespace {

std::string pretty(const Value& value) { return write(value, Layout::prettySortedKeys).value_or("<failed>"); }
std::string compact(const Value& value) { return write(value, Layout::compact).value_or("<failed>"); }

TEST(JsonText, PrettyLayoutSortsKeysIndentsAndEndsWithoutLineBreak) {
    Value inner = Value::object().set("b", true).set("a", nullptr);
    Value document = Value::array().append(Value::object().set("z", 1).set("m", inner).set("a", "x"));
    EXPECT_EQ(pretty(document),
              "[\n"
              "  {\n"
              "    \"a\" : \"x\",\n"
              "    \"m\" : {\n"
              "      \"a\" : null,\n"
              "      \"b\" : true\n"
              "    },\n"
              "    \"z\" : 1\n"
              "  }\n"
              "]");
}

TEST(JsonText, EmptyContainersReadBackAsEmpty) {
    EXPECT_EQ(pretty(Value::array()), "[\n\n]");
    EXPECT_EQ(compact(Value::array()), "[]");
    const std::string nested = pretty(Value::object().set("list", Value::array()).set("map", Value::object()));
    const auto parsed = nlohmann::json::parse(nested);
    EXPECT_TRUE(parsed.at("list").is_array() && parsed.at("list").empty());
    EXPECT_TRUE(parsed.at("map").is_object() && parsed.at("map").empty());
}

TEST(JsonText, CompactLayoutKeepsMemberOrderAndHasNoWhitespace) {
    Value document = Value::object()
                         .set("roots", Value::array().append("/a b").append("/c"))
                         .set("kept", Value::array())
                         .set("n", std::int64_t{-42})
                         .set("f", false);
    EXPECT_EQ(compact(document), R"({"roots":["\/a b","\/c"],"kept":[],"n":-42,"f":false})");
}

TEST(JsonText, EscapesQuotesBackslashesSlashesAndControlCharacters) {
    const std::string text = "a\"b\\c/d\b\f\n\r\t\x01\x1f\x7f";
    EXPECT_EQ(compact(Value(text)), R"("a\"b\\c\/d\b\f\n\r\t\u0001\u001f)" "\x7f\"");
    EXPECT_EQ(nlohmann::json::parse(compact(Value(text))).get<std::string>(), text);
}

TEST(JsonText, NonAsciiStaysUtf8AndInvalidUtf8FailsTheWholeText) {
    EXPECT_EQ(compact(Value("Café ✓ 🌲")), "\"Café ✓ 🌲\"");
    EXPECT_FALSE(write(Value::array().append("ok").append("bad \xC3"), Layout::prettySortedKeys));
    EXPECT_FALSE(write(Value::object().set("\xFF", 1), Layout::compact));
}

TEST(JsonText, IntegersCoverTheWholeSignedRange) {
    const Value extremes = Value::array()
                               .append(std::numeric_limits<std::int64_t>::min())
                               .append(std::numeric_limits<std::int64_t>::max())
                               .append(0);
    EXPECT_EQ(compact(extremes), "[-9223372036854775808,9223372036854775807,0]");
}

}  // namespace
}  // namespace tarnby::json
