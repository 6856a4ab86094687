#include "core/platform/collation_keys.h"

#include "core/platform/finder_icu_collator.h"

#include <unicode/coll.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <vector>

namespace tarnby {

struct FinderSortKeys::Impl {
    std::unique_ptr<icu::Collator> collator;
    std::vector<UChar> text;  // reused: UTF-16 of the current text
};

FinderSortKeys::FinderSortKeys() : m_impl(std::make_unique<Impl>()) {
    m_impl->collator = detail::makeFinderCollator();
    m_impl->text.resize(256);
}

FinderSortKeys::~FinderSortKeys() = default;

void FinderSortKeys::appendKey(std::string_view text, std::string& out) const {
    if (!m_impl->collator) {
        out.append(text);
        return;
    }
    std::vector<UChar>& utf16 = m_impl->text;
    int32_t length = 0;
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        // Most titles are ASCII, which widens byte by byte.
        if (utf16.size() < text.size()) utf16.resize(text.size());
        std::copy(text.begin(), text.end(), utf16.begin());
        length = static_cast<int32_t>(text.size());
    } else {
        // Ill-formed UTF-8 becomes U+FFFD, as the collator's own UTF-8 comparison treats it.
        for (;;) {
            UErrorCode status = U_ZERO_ERROR;
            u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, text.data(),
                                 static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
            if (status == U_BUFFER_OVERFLOW_ERROR) {
                utf16.resize(static_cast<std::size_t>(length) + 1);
                continue;
            }
            if (U_FAILURE(status)) {
                out.append(text);
                return;
            }
            break;
        }
    }

    // The terminating zero byte is left out.
    std::array<uint8_t, 512> scratch;
    const int32_t needed = m_impl->collator->getSortKey(utf16.data(), length, scratch.data(),
                                                        static_cast<int32_t>(scratch.size()));
    if (needed <= 0) {
        out.append(text);
    } else if (static_cast<std::size_t>(needed) <= scratch.size()) {
        out.append(reinterpret_cast<const char*>(scratch.data()), static_cast<std::size_t>(needed) - 1);
    } else {
        std::vector<uint8_t> large(static_cast<std::size_t>(needed));
        m_impl->collator->getSortKey(utf16.data(), length, large.data(), needed);
        out.append(reinterpret_cast<const char*>(large.data()), large.size() - 1);
    }
}

}  // namespace tarnby
