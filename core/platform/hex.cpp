#include "core/platform/hex.h"

namespace tarnby::hex {

namespace {

constexpr std::string_view kLower = "0123456789abcdef";
constexpr std::string_view kUpper = "0123456789ABCDEF";

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void appendByte(std::string& out, unsigned char byte, Letters letters) {
    const std::string_view digits = letters == Letters::upper ? kUpper : kLower;
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 0x0F]);
}

std::string encoded(std::string_view bytes, Letters letters) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) appendByte(text, static_cast<unsigned char>(c), letters);
    return text;
}

std::optional<std::string> decoded(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digitValue(text[i]);
        const int low = digitValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

}  // namespace tarnby::hex
