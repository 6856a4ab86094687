#include "core/platform/formatting.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <chrono>
#include <limits>
#include <memory>

namespace tarnby::formatting {
namespace {

TEST(ByteCount, SmallCountsAreWrittenInBytesAndZeroInKilobytes) {
    EXPECT_EQ(byteCount(0), "Zero KB");
    EXPECT_EQ(byteCount(1), "1 byte");
    EXPECT_EQ(byteCount(2), "2 bytes");
    EXPECT_EQ(byteCount(999), "999 bytes");
    EXPECT_EQ(byteCount(1000), "1 KB");
}

TEST(ByteCount, UnitsAreDecimalWithPerUnitPrecision) {
    EXPECT_EQ(byteCount(12'000), "12 KB");
    EXPECT_EQ(byteCount(12'499), "12 KB");
    EXPECT_EQ(byteCount(12'500), "13 KB");  // halves round up
    EXPECT_EQ(byteCount(1'000'000), "1 MB");
    EXPECT_EQ(byteCount(1'200'000), "1.2 MB");
    EXPECT_EQ(byteCount(1'250'000), "1.3 MB");
    EXPECT_EQ(byteCount(2'150'000'000), "2.15 GB");
    EXPECT_EQ(byteCount(3'000'000'000), "3 GB");
    EXPECT_EQ(byteCount(2'100'000'000), "2.1 GB");  // trailing zero dropped
    EXPECT_EQ(byteCount(1'500'000'000'000), "1.5 TB");
}

TEST(ByteCount, ValuesRoundingUpToAThousandMoveToTheNextUnit) {
    EXPECT_EQ(byteCount(999'499), "999 KB");
    EXPECT_EQ(byteCount(999'500), "1 MB");
    EXPECT_EQ(byteCount(999'999), "1 MB");
    EXPECT_EQ(byteCount(999'960'000), "1 GB");
    EXPECT_EQ(byteCount(999'940'000), "999.9 MB");
}

TEST(ByteCount, NegativeAndExtremeValuesAreWrittenWithoutOverflow) {
    EXPECT_EQ(byteCount(-1), "-1 byte");
    EXPECT_EQ(byteCount(-1'200'000), "-1.2 MB");
    EXPECT_EQ(byteCount(std::numeric_limits<std::int64_t>::max()), "9.22 EB");
    EXPECT_EQ(byteCount(std::numeric_limits<std::int64_t>::min()), "-9.22 EB");
}

// Dates follow ICU's default locale and time zone; pin both, and put them back for the
// other tests in this executable.
class DateFormatting : public ::testing::Test {
protected:
    void SetUp() override {
        m_locale = icu::Locale::getDefault();
        m_zone.reset(icu::TimeZone::createDefault());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en", "US"), status);
        ASSERT_TRUE(U_SUCCESS(status));
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/Los_Angeles"));
    }
    void TearDown() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(m_locale, status);
        icu::TimeZone::setDefault(*m_zone);
    }

    // 6 December 2026, 23:04 UTC: already the 7th in UTC, still the 6th in California.
    static TimePoint sample() { return std::chrono::system_clock::from_time_t(1'796'598'240); }

private:
    icu::Locale m_locale;
    std::unique_ptr<icu::TimeZone> m_zone;
};

TEST_F(DateFormatting, MediumDateInUsEnglishUsesTheLocalZone) {
    EXPECT_EQ(date(sample(), false), "Dec 6, 2026");
}

TEST_F(DateFormatting, WithTimeAddsShortTime) {
    const std::string text = date(sample(), true);
    // CLDR puts a narrow no-break space before "PM"; accept either space.
    EXPECT_TRUE(text == "Dec 6, 2026, 3:04 PM" || text == "Dec 6, 2026, 3:04\u202FPM") << text;
}

TEST_F(DateFormatting, IntegersAreGroupedForTheLocale) {
    EXPECT_EQ(integer(1234), "1,234");
    EXPECT_EQ(integer(-1'000'000), "-1,000,000");
    EXPECT_EQ(integer(7), "7");
}

}  // namespace
}  // namespace tarnby::formatting
