#include "core/platform/json_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tarnby::json {
namespace {

std::string pretty(const Value& value) { return write(value, Layout::prettySortedKeys).value_or("<failed>"); }
std::string compact(const Value& value) { return write(value, Layout::compact).value_or("<failed>"); }

TEST(JsonText, PrettyLayoutSortsKeysIndentsAndEndsWithoutLineBreak) {
    Value inner = Value::object().set("b", true).set("a", nullptr).set("e", Value::array());
    Value document = Value::array().append(Value::object().set("z", 1).set("m", inner).set("a", "x"));
    EXPECT_EQ(pretty(document),
              "[\n"
              "  {\n"
              "    \"a\" : \"x\",\n"
              "    \"m\" : {\n"
              "      \"a\" : null,\n"
              "      \"b\" : true,\n"
              "      \"e\" : [\n"
              "\n"
              "      ]\n"
              "    },\n"
              "    \"z\" : 1\n"
              "  }\n"
              "]");
    EXPECT_EQ(pretty(Value::array()), "[\n\n]");
}

TEST(JsonText, CompactLayoutKeepsMemberOrderAndHasNoWhitespace) {
    Value document = Value::object()
                         .set("roots", Value::array().append("/a b").append("/c"))
                         .set("kept", Value::array())
                         .set("map", Value::object())
                         .set("n", Value::array().append(INT64_MIN).append(INT64_MAX).append(false));
    EXPECT_EQ(compact(document),
              R"({"roots":["\/a b","\/c"],"kept":[],"map":{},"n":[-9223372036854775808,9223372036854775807,false]})");
}

TEST(JsonText, EscapesCompactlyKeepsNonAsciiAndRefusesInvalidUtf8) {
    const std::string text = "a\"b\\c/d\b\f\n\r\t\x01\x1f\x7f Café ✓ 🌲";
    EXPECT_EQ(compact(Value(text)), R"("a\"b\\c\/d\b\f\n\r\t\u0001\u001f)"
                                    "\x7f Café ✓ 🌲\"");
    EXPECT_EQ(nlohmann::json::parse(compact(Value(text))).get<std::string>(), text);
    EXPECT_FALSE(write(Value::array().append("ok").append("bad \xC3"), Layout::prettySortedKeys));
    EXPECT_FALSE(write(Value::object().set("\xFF", 1), Layout::compact));
}

}  // namespace
}  // namespace tarnby::json
