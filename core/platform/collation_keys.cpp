#include "core/platform/collation_keys.h"

#include "core/platform/finder_icu_collator.h"
#include "core/platform/utf8.h"

#include <unicode/coll.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <vector>

namespace tarnby {

struct FinderSortKeys::Impl {
    std::unique_ptr<icu::Collator> collator;
    std::u16string text;  // reused: UTF-16 of the current text
};

FinderSortKeys::FinderSortKeys() : m_impl(std::make_unique<Impl>()) { m_impl->collator = detail::makeFinderCollator(); }

FinderSortKeys::~FinderSortKeys() = default;

void FinderSortKeys::appendKey(std::string_view text, std::string& out) const {
    if (!m_impl->collator) {
        out.append(text);
        return;
    }
    std::u16string& utf16 = m_impl->text;
    if (!utf8::toUtf16(text, utf16)) {
        out.append(text);
        return;
    }
    const auto length = static_cast<int32_t>(utf16.size());

    // The terminating zero byte is left out.
    std::array<uint8_t, 512> scratch;
    const int32_t needed =
        m_impl->collator->getSortKey(utf16.data(), length, scratch.data(), static_cast<int32_t>(scratch.size()));
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
