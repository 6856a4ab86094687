#include "core/browsing/result_browsing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/browsing/platform_texts.h"
#include "core/platform/collation.h"
#include "core/platform/collation_keys.h"

namespace tarnby::browsing {
namespace {

using namespace std::chrono_literals;
using tarnby::StorageItem;
using tarnby::StorageKind;
using tarnby::TimePoint;

StorageItem makeItem(const std::string& title, std::int64_t bytes = 0, std::optional<TimePoint> modified = {},
                     StorageKind kind = StorageKind::builds, const std::string& path = {}) {
    StorageItem item;
    item.url = path.empty() ? "/h/" + title : path;
    item.kind = kind;
    item.title = title;
    item.measurement.bytes = bytes;
    item.measurement.modified = modified;
    return item;
}

// Choices are {category, query, order, age}.
using Cases = std::vector<std::pair<Choices, std::vector<std::string>>>;

void expectListed(const std::vector<StorageItem>& visible, const Cases& cases, TimePoint now) {
    for (std::size_t row = 0; row < cases.size(); ++row) {
        std::vector<std::string> titles;
        for (const auto& item : filtered(visible, cases[row].first, now)) titles.push_back(item.title);
        EXPECT_EQ(titles, cases[row].second) << "row " << row;
    }
}

class ResultBrowsing : public testing::Test {
protected:
    // Calendar arithmetic reads the zone; in this one summer time began on 10 March 2024.
    static void SetUpTestSuite() {
        ::setenv("TZ", "America/New_York", 1);
        ::tzset();
    }
};

TEST_F(ResultBrowsing, CategorySearchAndAgeChooseTheListedItems) {
    // Noon on 12 March 2024: 30 calendar days back is noon on 11 February, 30 times 24 hours
    // minus one hour earlier, so "npm" is old enough by the calendar but not by 24-hour days.
    const TimePoint now = std::chrono::system_clock::from_time_t(1'710'259'200);
    const std::vector<StorageItem> visible{
        makeItem("shop", 4, now - 31 * 24h, StorageKind::dependencies, "/h/Code/shop/node_modules"),
        makeItem("Yarn cache", 3, now - 29 * 24h, StorageKind::caches, "/h/Library/Caches/Yarn"),
        makeItem("über", 2, std::nullopt, StorageKind::builds, "/h/Code/Über/target"),
        makeItem("npm", 1, now - 30 * 24h + 30min, StorageKind::caches, "/h/.npm/_cacache"),
    };
    expectListed(visible,
                 {{{"all", "", "size", 0}, {"shop", "Yarn cache", "über", "npm"}},
                  {{"caches", "", "size", 0}, {"Yarn cache", "npm"}},
                  {{std::nullopt, "", "size", 0}, {}},
                  {{"Caches", "", "size", 0}, {}},  // raw values match exactly
                  {{"all", "CODE/SHOP", "size", 0}, {"shop"}},
                  {{"all", "cache/h/lib", "size", 0}, {"Yarn cache"}},  // the title, then the path at once
                  {{"all", "shop /h", "size", 0}, {}},
                  {{"all", "ÜBER/TARGET", "size", 0}, {"über"}},
                  {{"all", "", "size", 30}, {"shop", "npm"}},  // 29 days is too young, undated never old enough
                  {{"caches", "NPM", "size", 30}, {"npm"}}},
                 now);
}

TEST_F(ResultBrowsing, SortsAreStableWithUndatedLastAndNamesNumericIgnoringCase) {
    const TimePoint base = std::chrono::system_clock::from_time_t(1'700'000'000);
    const std::vector<StorageItem> visible{makeItem("proj10", 5), makeItem("Zeta", 9, base + 2h),
                                           makeItem("beta", 5, base), makeItem("proj2", 9), makeItem("alpha", 5, base)};
    expectListed(visible,
                 {{{"all", "", "size", 0}, {"Zeta", "proj2", "proj10", "beta", "alpha"}},
                  {{"all", "", "age", 0}, {"beta", "alpha", "Zeta", "proj10", "proj2"}},
                  {{"all", "", "name", 0}, {"alpha", "beta", "proj2", "proj10", "Zeta"}}},
                 base + 24h);
    // Titles equal but for case keep their scan order, whatever their bytes.
    const std::vector<StorageItem> twins{makeItem("apple", 1), makeItem("Apple", 2), makeItem("APPLE", 3),
                                         makeItem("apple", 4), makeItem("Apple", 5)};
    EXPECT_EQ(listedIndices(twins, {"all", "", "name", 0}, base), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST_F(ResultBrowsing, KeyedAndNarrowedListsAgreeWithAPlainFilterAndStableSort) {
    const TimePoint now = std::chrono::system_clock::from_time_t(1'710'259'200);
    // Case-only twins, numbers, accents, and characters whose case folding gives ASCII
    // ("ß" to "ss", the Kelvin sign to "k", the "fi" ligature).
    const char* const words[] = {"app",    "App",    "x9",  "x10", "über",     "Uber",        "éclair",
                                 "Eclair", "Straße", "web", "Web", "\uFB01le", "\u212Aelvin", "İstanbul"};
    constexpr std::size_t kWords = std::size(words);
    std::vector<StorageItem> visible;
    for (std::size_t i = 0; i < 3 * kWords; ++i) {
        const std::optional<TimePoint> changed = i % 5 == 0 ? std::nullopt : std::optional(now - (i % 60) * 24h);
        visible.push_back(makeItem(std::string(words[i % kWords]) + " " + words[i * 5 % kWords],
                                   static_cast<std::int64_t>(i % 7), changed, tarnby::kAllStorageKinds[i % 4],
                                   "/h/Code/p" + std::to_string(i % 11) + "/target"));
    }
    const auto keys = nameKeys(visible);
    const auto texts = searchTexts(visible);
    const std::vector<std::string> staleKeys(visible.size() + 1);  // made for another list, so not used
    const std::vector<SearchText> staleTexts(visible.size() - 1);
    const tarnby::FinderSortKeys sortKeys;
    const auto byName = listedIndices(visible, {"all", "", "name", 0}, now, &keys);
    const auto bySize = listedIndices(visible, {"all", "", "size", 0}, now);
    for (const std::string query : {"WE", "sse", "p10", "kel", "ÜB", "FIL", "İst", "\xC3"}) {
        SCOPED_TRACE(query);
        // Titles the collator calls equal keep their scan order.
        std::vector<std::size_t> plain;
        for (std::size_t i = 0; i < visible.size(); ++i) {
            if (tarnby::localizedCaseInsensitiveContains(visible[i].title + visible[i].url, query)) plain.push_back(i);
        }
        std::ranges::stable_sort(plain, {}, [&](std::size_t i) { return sortKeys.key(visible[i].title); });
        EXPECT_TRUE(query != "kel" || !plain.empty());
        const Choices choices{"all", query, "name", 0};
        EXPECT_EQ(listedIndices(visible, choices, now, &keys), plain);
        EXPECT_EQ(listedIndices(visible, choices, now, &staleKeys), plain);
        EXPECT_EQ(passingIndices(visible, choices, now, byName, &texts), plain);
        EXPECT_EQ(passingIndices(visible, choices, now, byName, &staleTexts), plain);
        const Choices narrow{"builds", query, "size", 30};
        EXPECT_EQ(passingIndices(visible, narrow, now, bySize, &texts), listedIndices(visible, narrow, now));
    }
    // Positions from another, longer list are skipped.
    EXPECT_EQ(passingIndices(visible, {"all", "", "size", 0}, now, {0, 500, 1}), (std::vector<std::size_t>{0, 1}));
}

TEST_F(ResultBrowsing, TotalsCountsAndTheTextsThatDependOnThem) {
    const std::vector<StorageItem> items{
        makeItem("a", 1'000'000, {}, StorageKind::dependencies), makeItem("b", 200'000, {}, StorageKind::caches),
        makeItem("c", 5'000'000'000, {}, StorageKind::caches), makeItem("d", 7, {}, StorageKind::simulators)};
    // Kept items leave the totals; a kept path hides its own item only, not those below it.
    const auto visible = visibleItems(items, {"/h/c", "/h"});
    EXPECT_EQ(totalBytes(visible), std::int64_t(1'200'007));
    EXPECT_EQ(kindCounts(visible), (std::array<std::size_t, 4>{1, 0, 1, 1}));
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(totalBytes({makeItem("x", kMax - 5), makeItem("y", 10)}), kMax);  // held, not wrapped
    EXPECT_EQ(headerLine(1) + " | " + itemCount(0) + " | " + selectionLine(2, 1'200'000),
              "estimated on disk · 1 item | 0 items | 2 selected · 1.2 MB estimated");
    EXPECT_FALSE(emptyState(true, 0).keptButton);
    EXPECT_NE(emptyState(true, 0).title, emptyState(false, 0).title);
    const auto nothing = emptyState(false, 1);
    EXPECT_EQ(nothing.title + " " + nothing.message + " " + nothing.keptButton.value_or(""),
              "A little breathing room. No recognized items found. Add another project folder or review scan notes. "
              "Show kept items (1)");

    // A row that cannot be selected says why: its protection first, else the partial inspection.
    StorageItem item = makeItem("e");
    EXPECT_FALSE(unselectableReason(item));
    item.measurement.complete = false;
    EXPECT_EQ(unselectableReason(item).value_or(""),
              "This item could not be fully inspected, so it cannot be selected.");
    item.protection = "This simulator is booted.";
    EXPECT_EQ(unselectableReason(item).value_or(""), "This simulator is booted.");
}

TEST(WindowTexts, SharedAndFreedLinesOnlyWhereCleaningFreesLessInTheHostDesktopsWords) {
    EXPECT_EQ(platformTexts(Desktop::mac).reveal, "Reveal in Finder");
#ifdef __APPLE__
    EXPECT_EQ(&platformTexts(), &platformTexts(Desktop::mac));
#else
    EXPECT_EQ(&platformTexts(), &platformTexts(Desktop::freedesktop));
#endif
    Measurement measurement;
    measurement.bytes = measurement.freedBytes = 90'900'000;
    EXPECT_FALSE(sharedLine(measurement));
    measurement.freedBytes = 1'600'000;
    const std::string through(platformTexts().sharedThrough);
    EXPECT_EQ(sharedLine(measurement).value_or(""), "89.3 MB of it is shared with other folders " + through + ".");

    EXPECT_FALSE(freedLine({90'900'000, false}, 90'900'000, "selected"));
    EXPECT_FALSE(freedLine({90'900'000, true}, 90'900'000, "selected"));  // an estimate never overshoots
    EXPECT_EQ(freedLine({1'500'000, false}, 90'900'000, "selected").value_or(""),
              "Frees 1.5 MB of the 90.9 MB selected; the rest is shared " + through + ".");
    EXPECT_EQ(freedLine({1'500'000, true}, 90'900'000, "in this plan").value_or(""),
              "Frees about 1.5 MB of the 90.9 MB in this plan; the rest is shared " + through + ".");
}

}  // namespace
}  // namespace tarnby::browsing
