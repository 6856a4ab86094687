#include "core/platform/json_text.h"

#include <algorithm>
#include <numeric>

#include "core/platform/hex.h"
#include "core/platform/utf8.h"

namespace tarnby::json {

Value& Value::append(Value element) {
    m_elements.push_back(std::move(element));
    return *this;
}

Value& Value::set(std::string key, Value member) {
    m_keys.push_back(std::move(key));
    m_elements.push_back(std::move(member));
    return *this;
}

// Kept out of the anonymous namespace because Value names it as its friend.
class Writer {
public:
    explicit Writer(Layout layout) : m_pretty(layout == Layout::prettySortedKeys) {}

    // False as soon as a string is not valid UTF-8.
    bool write(const Value& value) {
        switch (value.m_kind) {
            case Value::Kind::null: m_text += "null"; return true;
            case Value::Kind::boolean: m_text += value.m_boolean ? "true" : "false"; return true;
            case Value::Kind::integer: m_text += std::to_string(value.m_integer); return true;
            case Value::Kind::number: m_text += value.m_string; return true;
            case Value::Kind::string: return writeString(value.m_string);
            case Value::Kind::array: return writeArray(value);
            case Value::Kind::object: return writeObject(value);
        }
        return false;
    }

    std::string take() { return std::move(m_text); }

private:
    // The same bracket and line-break pattern for arrays and objects, empty ones included,
    // which is what gives "[\n\n]".
    void open(char bracket) {
        m_text += bracket;
        if (m_pretty) {
            m_text += '\n';
            ++m_depth;
        }
    }
    void separate(bool first) {
        if (!first) m_text += m_pretty ? ",\n" : ",";
        if (m_pretty) indent();
    }
    void close(char bracket) {
        if (m_pretty) {
            m_text += '\n';
            --m_depth;
            indent();
        }
        m_text += bracket;
    }
    void indent() { m_text.append(2 * m_depth, ' '); }

    bool writeArray(const Value& value) {
        open('[');
        bool first = true;
        for (const Value& element : value.m_elements) {
            separate(first);
            first = false;
            if (!write(element)) return false;
        }
        close(']');
        return true;
    }

    bool writeObject(const Value& value) {
        std::vector<std::size_t> order(value.m_keys.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        if (m_pretty) {
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return value.m_keys[a] < value.m_keys[b]; });
        }
        open('{');
        bool first = true;
        for (const std::size_t index : order) {
            separate(first);
            first = false;
            if (!writeString(value.m_keys[index])) return false;
            m_text += m_pretty ? " : " : ":";
            if (!write(value.m_elements[index])) return false;
        }
        close('}');
        return true;
    }

    bool writeString(const std::string& text) {
        if (!utf8::isValid(text)) return false;
        m_text += '"';
        for (const char c : text) {
            switch (c) {
                case '"': m_text += "\\\""; break;
                case '\\': m_text += "\\\\"; break;
                case '/': m_text += "\\/"; break;
                case '\b': m_text += "\\b"; break;
                case '\f': m_text += "\\f"; break;
                case '\n': m_text += "\\n"; break;
                case '\r': m_text += "\\r"; break;
                case '\t': m_text += "\\t"; break;
                default: {
                    const auto byte = static_cast<unsigned char>(c);
                    if (byte < 0x20) {
                        m_text += "\\u00";
                        hex::appendByte(m_text, byte);
                    } else {
                        m_text += c;
                    }
                }
            }
        }
        m_text += '"';
        return true;
    }

    bool m_pretty;
    std::size_t m_depth = 0;
    std::string m_text;
};

std::optional<std::string> write(const Value& value, Layout layout) {
    Writer writer(layout);
    if (!writer.write(value)) return std::nullopt;
    return writer.take();
}

}  // namespace tarnby::json
