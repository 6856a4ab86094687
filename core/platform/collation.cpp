#include "core/platform/collation.h"

#include "core/platform/finder_icu_collator.h"
#include "core/platform/utf8.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace tarnby {

namespace {

// The C and POSIX locales map to ICU's "en_US_POSIX", whose collation orders ASCII by code
// point (upper case first); a Finder-like order wants the root collation there instead.
icu::Locale collationLocale() {
    const icu::Locale& locale = icu::Locale::getDefault();
    return std::string_view(locale.getVariant()) == "POSIX" ? icu::Locale::getRoot() : locale;
}

}  // namespace

std::unique_ptr<icu::Collator> detail::makeFinderCollator() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(collationLocale(), status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    if (collator) {
        status = U_ZERO_ERROR;
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        collator->setStrength(icu::Collator::SECONDARY);
    }
    return collator;
}

struct FinderCollator::Impl {
    std::unique_ptr<icu::Collator> collator;
};

FinderCollator::FinderCollator() : m_impl(std::make_unique<Impl>()) { m_impl->collator = detail::makeFinderCollator(); }

FinderCollator::~FinderCollator() = default;

int FinderCollator::compare(std::string_view a, std::string_view b) const {
    if (m_impl->collator) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result =
            m_impl->collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                          icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
        if (U_SUCCESS(status) && result != UCOL_EQUAL) return result == UCOL_LESS ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query) {
    if (query.empty()) return true;
    if (utf8::isAscii(text) && utf8::isAscii(query)) {
        // The common case, kept free of allocation: listing filters call this per item.
        auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
        return std::search(text.begin(), text.end(), query.begin(), query.end(),
                           [&](char x, char y) { return lower(x) == lower(y); }) != text.end();
    }
    icu::UnicodeString haystack =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString needle =
        icu::UnicodeString::fromUTF8(icu::StringPiece(query.data(), static_cast<int32_t>(query.size())));
    haystack.foldCase();
    needle.foldCase();
    return haystack.indexOf(needle) >= 0;
}

}  // namespace tarnby
