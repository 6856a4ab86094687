#pragma once

#include <optional>
#include <string>
#include <string_view>

// Bytes as hexadecimal text, two digits a byte.
namespace tarnby::hex {

enum class Letters { lower, upper };

void appendByte(std::string& out, unsigned char byte, Letters letters = Letters::lower);

std::string encoded(std::string_view bytes, Letters letters = Letters::lower);

// Digits of either case; nothing when the text is not an even number of hexadecimal digits.
std::optional<std::string> decoded(std::string_view text);

}  // namespace tarnby::hex
