#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnby::utf8 {

// One character read from UTF-8 text.
struct Decoded {
    std::int32_t scalar;  // the Unicode scalar value, or negative for an ill-formed sequence
    std::size_t length;   // its bytes, at least 1 (an ill-formed sequence: its maximal subpart, as ICU reads)
};
// The character starting at byte `offset` (< text.size()) of `text`.
Decoded decodeAt(std::string_view text, std::size_t offset);

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates or values past U+10FFFF.
bool isValid(std::string_view text);

// Valid UTF-8 with White_Space characters (blanks, tabs, line breaks, no-break spaces…)
// removed from both ends.
std::string trimmedWhitespace(std::string_view text);

// `text` as UTF-16 in `out`, ill-formed sequences as U+FFFD (as ICU's own UTF-8 comparisons
// treat them). `out` is reused, so converting many texts in a row does not allocate each time.
// False when the text cannot be converted (too long for ICU); `out` is then empty.
bool toUtf16(std::string_view text, std::u16string& out);

// Only bytes below 0x80.
bool isAscii(std::string_view text);

// The first `count` Unicode scalar values of valid UTF-8 text.
std::string prefix(std::string_view text, std::size_t count);

}  // namespace tarnby::utf8
