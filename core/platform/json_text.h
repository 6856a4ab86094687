#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A tiny JSON writer for the two layouts the program emits: the pretty plan text that other
// tools compare byte for byte, and the compact preferences file. Reading JSON is left to
// nlohmann-json, which cannot produce the pretty layout.
namespace tarnby::json {

// A JSON value built in memory. Object members keep the order they were added in; duplicate
// keys are not detected (the caller builds the object).
class Value {
public:
    enum class Kind { null, boolean, integer, number, string, array, object };

    Value() = default;  // null
    Value(std::nullptr_t) {}
    Value(bool value) : m_kind(Kind::boolean), m_boolean(value) {}
    Value(std::int64_t value) : m_kind(Kind::integer), m_integer(value) {}
    Value(int value) : Value(static_cast<std::int64_t>(value)) {}
    Value(std::string value) : m_kind(Kind::string), m_string(std::move(value)) {}
    Value(std::string_view value) : Value(std::string(value)) {}
    Value(const char* value) : Value(std::string(value)) {}

    // A number written exactly as `text` (e.g. "1733490000.123456789"), for values an int64
    // cannot carry without rounding. The caller gives valid JSON number text.
    static Value number(std::string text) {
        Value value(Kind::number);
        value.m_string = std::move(text);
        return value;
    }
    static Value array() { return Value(Kind::array); }
    static Value object() { return Value(Kind::object); }

    // Appends an element to an array; returns *this for chaining.
    Value& append(Value element);
    // Appends a member to an object; returns *this for chaining.
    Value& set(std::string key, Value member);

    Kind kind() const { return m_kind; }

private:
    explicit Value(Kind kind) : m_kind(kind) {}
    friend class Writer;

    Kind m_kind = Kind::null;
    bool m_boolean = false;
    std::int64_t m_integer = 0;
    std::string m_string;
    std::vector<std::string> m_keys;  // object member names, parallel to m_elements
    std::vector<Value> m_elements;    // array elements or object member values
};

enum class Layout {
    // Two blanks per level, `"key" : value`, members sorted by key (byte order), the closing
    // bracket on its own line, "[\n\n]" for an empty array, no line break at the end.
    prettySortedKeys,
    // No whitespace at all; members in the order they were added.
    compact,
};

// The text of `value`. Strings are escaped for quotation mark, reverse solidus and control
// characters, every "/" becomes "\/", and non-ASCII stays UTF-8. Nothing when a key or a
// string is not valid UTF-8. Throws only std::bad_alloc.
std::optional<std::string> write(const Value& value, Layout layout);

}  // namespace tarnby::json
