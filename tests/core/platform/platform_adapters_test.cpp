#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>

#include "core/platform/collation.h"
#include "core/platform/collation_keys.h"
#include "core/platform/file_system.h"
#include "core/platform/formatting.h"
#include "core/platform/hex.h"
#include "core/platform/json_text.h"
#include "core/platform/paths.h"
#include "core/platform/plist.h"
#include "core/platform/sha256.h"
#include "core/platform/utf8.h"
#include "core/platform/uuid.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using Texts = std::vector<std::string>;
using json::Layout;
using json::Value;

std::string compact(const Value& value) { return json::write(value, Layout::compact).value_or("<failed>"); }
int sign(int value) { return (value > 0) - (value < 0); }

TEST(Paths, TextOperationsKeepSeparatorBoundariesAndOnlyALeadingHomeBecomesATilde) {
    EXPECT_EQ((Texts{paths::standardized("/Users/a/./x/.."), paths::standardized("/a//b/"), paths::standardized("/.."),
                     paths::appending("/", "Library/Caches"), paths::parent("/a"), paths::parent("/"),
                     paths::lastComponent("/"), paths::standardized("a/./b")}),
              (Texts{"/Users/a", "/a/b", "/", "/Library/Caches", "/", "/", "/", "a/b"}));
    EXPECT_TRUE(paths::liesInside("/p/web", "/p"));
    EXPECT_FALSE(paths::liesInside("/p", "/p") || paths::liesInside("/pweb", "/p"));
    EXPECT_FALSE(paths::hasDotComponent("/a/.hidden/..x"));

    Texts abbreviated;
    for (const char* path :
         {"/home/me/x", "/home/me/x~", "/home/me/x/home/me/y", "/home/me", "/home/meg/x", "/srv/home/me/x"}) {
        abbreviated.push_back(paths::abbreviatingHome(path, "/home/me"));
    }
    EXPECT_EQ(abbreviated, (Texts{"~/x", "~/x~", "~/x/home/me/y", "/home/me", "/home/meg/x", "/srv/home/me/x"}));
    // "//" never starts a standardized path.
    EXPECT_EQ(paths::abbreviatingHome("/x", "") + paths::abbreviatingHome("/x", "/"), "/x/x");
}

TEST(TextAdapters, UuidShaHexAndUtf8) {
    EXPECT_TRUE(uuid::isUUID("5e3c2a51-0B8D-4C9E-9F1A-2D7B6C4E8A10") && uuid::isUUID(uuid::makeRandom()));
    EXPECT_FALSE(uuid::isUUID("5E3C2A510B8D4C9E9F1A2D7B6C4E8A10") ||
                 uuid::isUUID("5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A1G"));

    Sha256 pieces;
    pieces.update("a");
    pieces.update("bc");
    EXPECT_EQ(pieces.finishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    EXPECT_FALSE(utf8::isValid("\xC0\xAF") || utf8::isValid("\xED\xA0\x80"));  // overlong "/", a surrogate
    EXPECT_EQ(utf8::trimmedWhitespace(" \t\n message \r\n\u00A0") + utf8::prefix("ééé", 2), "messageéé");
    EXPECT_TRUE(utf8::isAscii("plain ~/x") && !utf8::isAscii("\x7F\x80"));

    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
    const std::string text = hex::encoded(allBytes);
    EXPECT_EQ(text.substr(0, 6) + text.substr(text.size() - 4), "000102feff");
    EXPECT_EQ(hex::decoded(text), allBytes);
    EXPECT_EQ(hex::decoded("C0aF"), "\xC0\xAF");  // either case
    // An odd length, no digit, and "\x10\x11", which is not "01" with its case bit set.
    for (const char* bad : {"abc", "0g", "0/", "\x10\x11"}) EXPECT_EQ(hex::decoded(bad), std::nullopt) << bad;
}

TEST(Plist, ReadsADateOnlyFromANonEmptyDictionaryAndRefusesAStringHoldingANul) {
    testing::TempTree tree;
    const std::string dated = tree.writeFile("dated.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>lastBootedAt</key><date>2001-01-02T00:00:00Z</date><key>name</key><string>x</string></dict></plist>)");
    // Property-list dates count from 2001.
    EXPECT_EQ(plist::dateValue(dated, "lastBootedAt"), std::chrono::system_clock::from_time_t(978307200 + 86400));
    EXPECT_FALSE(plist::dateValue(dated, "name").has_value());
    EXPECT_FALSE(plist::dateValue(tree.writeFile("junk.plist", "not a plist"), "lastBootedAt").has_value());
    EXPECT_FALSE(plist::dateValue(tree.path("absent.plist"), "lastBootedAt").has_value());

    const std::string head =
        R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>SUPublicEDKey</key><string>)";
    EXPECT_EQ(plist::stringValue(head + "abc=</string></dict></plist>", "SUPublicEDKey"), "abc=");
    // Found by fuzzing: libplist's own reader aborted the process on this.
    EXPECT_EQ(plist::stringValue(head + std::string("abc=\0\0</string></dict></plist>", 30), "SUPublicEDKey"),
              std::nullopt);
    EXPECT_EQ(plist::stringValue(head + "x</string></dict></plist>", "other"), std::nullopt);
}

TEST(FileSystem, ListingAndTypes) {
    testing::TempTree tree;
    tree.writeFile("dir/file", "x");
    tree.makeDir("dir/.hidden");
    tree.symlink("nowhere", "dir/dangling");
    EXPECT_EQ(fs::listDirectory(tree.path("dir"), false)->size(), 3U);
    EXPECT_EQ(fs::listDirectory(tree.path("dir"), true)->size(), 2U);
    EXPECT_EQ(fs::entryType(tree.path("dir/dangling")), fs::EntryType::symlink);
    EXPECT_FALSE(fs::exists(tree.path("dir/dangling")) || fs::isPackageName(".app"));

    // A listing without types whose entry vanished before its lstat: that entry's failure
    // (ENOENT left in errno) is not the listing's, though it comes last.
    std::size_t looked = 0;
    const auto vanishing = [&](int, const char*, unsigned char) {
        ++looked;
        errno = ENOENT;
        return fs::EntryType::unknown;
    };
    EXPECT_EQ(fs::listDirectory(tree.path("dir"), false, vanishing).value_or(std::vector<fs::DirectoryEntry>{}).size(),
              3U);
    EXPECT_EQ(looked, 3U);
    EXPECT_FALSE(fs::listDirectory(tree.path("dir/file"), false, vanishing).has_value());
    // Replacing files and making folders are checked through saving the preferences.
}

TEST(Formatting, ByteCountsInDecimalUnitsWithPerUnitPrecisionAndCarry) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    // Halves round up, and a rounded 1000 moves up a unit.
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "Zero KB"},          {1, "1 byte"},           {999, "999 bytes"},
        {12'499, "12 KB"},       {12'500, "13 KB"},       {2'150'000'000, "2.15 GB"},
        {3'000'000'000, "3 GB"}, {999'500, "1 MB"},       {-1'200'000, "-1.2 MB"},
        {kMax, "9.22 EB"},       {-kMax - 1, "-9.22 EB"}, {2'100'000'000, "2.1 GB"}};
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatting::byteCount(bytes), text) << bytes;
}

// Dates follow ICU's default locale and time zone; pin both, and put them back afterwards.
TEST(Formatting, MediumDateAndShortTimeInTheLocaleAndZoneOfTheMoment) {
    const icu::Locale locale = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en", "US"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/Los_Angeles"));

    // 6 December 2026, 23:04 UTC: already the 7th in UTC, still the 6th in California.
    const TimePoint sample = std::chrono::system_clock::from_time_t(1'796'598'240);
    EXPECT_EQ(formatting::date(sample, false) + formatting::integer(-1'000'000), "Dec 6, 2026-1,000,000");

    // Formatters are kept between calls, yet follow a change of locale or time zone at once.
    icu::Locale::setDefault(icu::Locale("de", "DE"), status);
    EXPECT_EQ(formatting::date(sample, true), "06.12.2026, 15:04");
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Asia/Tokyo"));
    EXPECT_EQ(formatting::date(sample, true), "07.12.2026, 08:04");

    icu::Locale::setDefault(locale, status);
    icu::TimeZone::setDefault(*zone);
}

// Member order, numbers and the pretty layout are checked through the preferences and the plan.
TEST(JsonText, EscapesCompactlyKeepsNonAsciiAndRefusesInvalidUtf8) {
    const std::string text = "a\"b\\c/d\b\f\n\r\t\x01\x1f\x7f Café ✓ 🌲";
    EXPECT_EQ(compact(Value(text)), R"("a\"b\\c\/d\b\f\n\r\t\u0001\u001f)"
                                    "\x7f Café ✓ 🌲\"");
    EXPECT_EQ(nlohmann::json::parse(compact(Value(text))).get<std::string>(), text);
    EXPECT_FALSE(json::write(Value::array().append("ok").append("bad \xC3"), Layout::prettySortedKeys));
    EXPECT_FALSE(json::write(Value::object().set("\xFF", 1), Layout::compact));
}

TEST(Collation, NumbersByValueCaseIgnoredAccentsSecondaryAndKeysOrderEveryPairLikeTheCollator) {
    // Holds under the C locale too, where ICU's default collation would put all capitals first.
    Texts texts{"x100", "delta", "x20", "Charlie", "élan", "elbe", "x3", "elan", "ALPHA", "proj10", "proj2"};
    const FinderCollator collator;
    std::sort(texts.begin(), texts.end(), [&](const auto& a, const auto& b) { return collator(a, b); });
    EXPECT_EQ(texts,
              (Texts{"ALPHA", "Charlie", "delta", "elan", "élan", "elbe", "proj2", "proj10", "x3", "x20", "x100"}));

    // A total order: texts that differ only in case still compare unequal, both ways.
    const FinderSortKeys keys;
    const Texts awkward{"app",  "App", "äpp", "apps",   "app2",    "app10",   "App10", "app 2", "Zeta", "élan",
                        "Elan", "x9",  "x09", ".build", "Σίσυφος", "σίσυφος", "日本",  "",      "a b"};
    for (const auto& a : awkward) {
        for (const auto& b : awkward) {
            int byKeys = keys.key(a).compare(keys.key(b));
            if (byKeys == 0) byKeys = a.compare(b);
            EXPECT_EQ(sign(byKeys), sign(collator.compare(a, b))) << a << " vs " << b;
            EXPECT_EQ(sign(collator.compare(a, b)), -sign(collator.compare(b, a))) << a << " vs " << b;
            EXPECT_EQ(collator.compare(a, b) == 0, a == b) << a << " vs " << b;
        }
    }
}

TEST(Collation, ContainsIgnoresCaseInAsciiAndBeyond) {
    std::vector<bool> found;
    for (const auto& [text, part] :
         std::vector<std::pair<const char*, const char*>>{{"/Users/me/Code/Über/target", "über/TAR"},
                                                          {"ΣΊΣΥΦΟΣ", "σίσυφος"},
                                                          {"Straße", "STRASSE"},
                                                          {"anything", ""},
                                                          {"uber", "über"},
                                                          {"Hello", "Hello World"},
                                                          {"", "a"}})
        found.push_back(localizedCaseInsensitiveContains(text, part));
    EXPECT_EQ(found, (std::vector<bool>{true, true, true, true, false, false, false}));
}

}  // namespace
}  // namespace tarnby
