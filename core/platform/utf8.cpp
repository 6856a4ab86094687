#include "core/platform/utf8.h"

#include <algorithm>
#include <climits>

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

namespace tarnby::utf8 {

Decoded decodeAt(std::string_view text, std::size_t offset) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    auto next = static_cast<int32_t>(offset);
    UChar32 c = 0;
    U8_NEXT(bytes, next, length, c);
    return Decoded{c, static_cast<std::size_t>(next) - offset};
}

bool isValid(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t offset = 0;
    while (offset < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, offset, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string trimmedWhitespace(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool toUtf16(std::string_view text, std::u16string& out) {
    out.clear();
    if (isAscii(text)) {
        out.assign(text.begin(), text.end());  // ASCII widens byte by byte
        return true;
    }
    if (text.size() > INT32_MAX / 2) return false;
    out.resize(text.size());  // UTF-16 never needs more units than UTF-8 has bytes
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(length));
    return true;
}

std::string prefix(std::string_view text, std::size_t count) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t offset = 0;
    for (std::size_t taken = 0; taken < count && offset < length; ++taken) {
        U8_FWD_1(bytes, offset, length);
    }
    return std::string(text.substr(0, static_cast<std::size_t>(offset)));
}

}  // namespace tarnby::utf8
