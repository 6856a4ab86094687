#include "core/platform/formatting.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>

namespace tarnby::formatting {

namespace {

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Scaled value rounded half up to `decimals` places, written without trailing zeros.
std::string decimal(long double value, int decimals) {
    const long double scale = std::pow(10.0L, decimals);
    const long long scaled = std::llround(value * scale);
    std::string text = std::to_string(scaled / static_cast<long long>(scale));
    long long fraction = scaled % static_cast<long long>(scale);
    if (decimals > 0 && fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, static_cast<std::size_t>(decimals) - digits.size(), '0');
        while (!digits.empty() && digits.back() == '0') digits.pop_back();
        text += "." + digits;
    }
    return text;
}

// Making a formatter costs tens of microseconds, far more than formatting, so each thread
// keeps one per style for the locale it was made for. ICU formatters are not thread-safe,
// hence one per thread. The time zone is checked on each call, as a fresh formatter would.
icu::DateFormat* dateFormat(bool withTime) {
    struct Cached {
        std::string locale;
        std::unique_ptr<icu::DateFormat> format;
    };
    thread_local std::array<Cached, 2> cache;
    Cached& slot = cache[withTime ? 1 : 0];
    const std::string locale = icu::Locale::getDefault().getName();
    if (!slot.format || slot.locale != locale) {
        slot.format.reset(
            withTime ? icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort)
                     : icu::DateFormat::createDateInstance(icu::DateFormat::kMedium));
        slot.locale = slot.format ? locale : std::string();
        if (!slot.format) return nullptr;
    }
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    if (zone && *zone != slot.format->getTimeZone()) slot.format->adoptTimeZone(zone.release());
    return slot.format.get();
}

}  // namespace

std::string byteCount(std::int64_t bytes) {
    if (bytes == 0) return "Zero KB";
    const bool negative = bytes < 0;
    // Negate in unsigned space so the most negative value does not overflow.
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(bytes) : static_cast<unsigned long long>(bytes);
    const std::string sign = negative ? "-" : "";
    if (magnitude == 1) return sign + "1 byte";
    if (magnitude < 1000) return sign + std::to_string(magnitude) + " bytes";

    static constexpr std::array<const char*, 6> kUnits{"KB", "MB", "GB", "TB", "PB", "EB"};
    static constexpr std::array<int, 6> kDecimals{0, 1, 2, 2, 2, 2};
    std::size_t unit = 0;
    long double value = static_cast<long double>(magnitude) / 1000.0L;
    while (unit + 1 < kUnits.size()) {
        const long double scale = std::pow(10.0L, kDecimals[unit]);
        if (std::llround(value * scale) < 1000 * static_cast<long long>(scale)) break;
        value /= 1000.0L;
        ++unit;
    }
    return sign + decimal(value, kDecimals[unit]) + " " + kUnits[unit];
}

std::string date(TimePoint when, bool withTime) {
    icu::DateFormat* format = dateFormat(withTime);
    if (format == nullptr) return {};
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis), text);
    return toUtf8(text);
}

std::string integer(std::int64_t value) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> format(icu::NumberFormat::createInstance(status));
    if (U_FAILURE(status) || !format) return std::to_string(value);
    icu::UnicodeString text;
    format->format(static_cast<int64_t>(value), text);
    return toUtf8(text);
}

}  // namespace tarnby::formatting
