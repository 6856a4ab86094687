#include "core/platform/formatting.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <chrono>
#include <limits>
#include <memory>

namespace tarnby::formatting {
namespace {

TEST(ByteCount, DecimalUnitsWithPerUnitPrecisionAndCarry) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {12'499, "12 KB"},
        {12'500, "13 KB"},  // halves round up
        {1'200'000, "1.2 MB"},
        {2'150'000'000, "2.15 GB"},
        {2'100'000'000, "2.1 GB"},
        {3'000'000'000, "3 GB"},
        {999'499, "999 KB"},
        {999'500, "1 MB"},
        {999'960'000, "1 GB"},  // a rounded 1000 moves up a unit
        {-1'200'000, "-1.2 MB"},
        {kMax, "9.22 EB"},
        {-kMax - 1, "-9.22 EB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(byteCount(bytes), text) << bytes;
}

// Dates follow ICU's default locale and time zone; pin both, and put them back afterwards.
TEST(DateFormatting, MediumDateAndShortTimeInUsEnglishInTheLocalZone) {
    const icu::Locale locale = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en", "US"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/Los_Angeles"));

    // 6 December 2026, 23:04 UTC: already the 7th in UTC, still the 6th in California.
    const TimePoint sample = std::chrono::system_clock::from_time_t(1'796'598'240);
    EXPECT_EQ(date(sample, false), "Dec 6, 2026");
    const std::string withTime = date(sample, true);
    // CLDR puts a narrow no-break space before "PM"; accept either space.
    EXPECT_TRUE(withTime == "Dec 6, 2026, 3:04 PM" || withTime == "Dec 6, 2026, 3:04\u202FPM") << withTime;
    EXPECT_EQ(integer(-1'000'000), "-1,000,000");

    // Formatters are kept between calls, yet follow a change of locale or time zone at once.
    icu::Locale::setDefault(icu::Locale("de", "DE"), status);
    EXPECT_EQ(date(sample, true), "06.12.2026, 15:04");
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Asia/Tokyo"));
    EXPECT_EQ(date(sample, true), "07.12.2026, 08:04");
    icu::Locale::setDefault(icu::Locale("en", "US"), status);
    EXPECT_EQ(date(sample, false), "Dec 7, 2026");

    icu::Locale::setDefault(locale, status);
    icu::TimeZone::setDefault(*zone);
}

}  // namespace
}  // namespace tarnby::formatting
