#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "app/model/result_browsing.h"
#include "core/platform/collation.h"

using namespace std::chrono_literals;
using quillet::browsing::Choices;
using tarnby::StorageItem;
using tarnby::StorageKind;
using tarnby::TimePoint;

namespace {

StorageItem makeItem(std::string path, StorageKind kind, std::string title, std::int64_t bytes = 0,
                     std::optional<TimePoint> modified = std::nullopt) {
    StorageItem item;
    item.url = std::move(path);
    item.kind = kind;
    item.title = std::move(title);
    item.measurement.bytes = bytes;
    item.measurement.modified = modified;
    return item;
}

std::vector<std::string> titlesOf(const std::vector<StorageItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.title);
    return out;
}

Choices choose(std::string query = {}, std::string order = "size", int age = 0,
               std::optional<std::string> category = std::string("all")) {
    Choices choices;
    choices.query = std::move(query);
    choices.order = std::move(order);
    choices.age = age;
    choices.category = std::move(category);
    return choices;
}

// A local wall-clock time in the zone currently set through TZ.
TimePoint localTime(int year, int month, int day, int hour, int minute = 0) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&fields));
}

// Sets TZ for the lifetime of the object; the calendar arithmetic reads it through tzset.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (m_old) ::setenv("TZ", m_old->c_str(), 1); else ::unsetenv("TZ");
        ::tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::optional<std::string> m_old;
};

}  // namespace

class ResultBrowsingTest : public QObject {
    Q_OBJECT

private slots:
    void choicesStartAsAFreshWindowShowsThem();
    void categoryKeepsOnlyItsKindAndNoSelectionListsNothing();
    void searchCoversTitleThenPathIgnoringCase();
    void ageFilterUsesCalendarDaysAndDropsUndatedItems();
    void ageCutoffKeepsClockTimeAcrossDaylightSavingChange();
    void sortsAreStableAndPutUndatedLast();
    void nameSortIsNumericCaseBlindAndMatchesTheCollator();
    void searchAgreesWithTheUnicodeContainmentTest();
    void largeListsGiveTheSameOrderAsASimpleSort();
    void visibleAndSelectedFollowScanOrder();
    void totalsCountsAndLinesIgnoreFiltersButNotKeptItems();
    void emptyStateTexts();
    void rowTexts();
};

void ResultBrowsingTest::choicesStartAsAFreshWindowShowsThem() {
    const Choices choices;
    QCOMPARE(choices.category.value_or("none"), std::string("all"));
    QVERIFY(choices.query.empty());
    QCOMPARE(choices.order, std::string("size"));
    QCOMPARE(choices.age, 0);

    using quillet::browsing::kAgeOptions;
    using quillet::browsing::kOrderOptions;
    QCOMPARE(kOrderOptions[0].value, "size");
    QCOMPARE(kOrderOptions[0].label, "Largest first");
    QCOMPARE(kOrderOptions[1].value, "age");
    QCOMPARE(kOrderOptions[1].label, "Oldest change");
    QCOMPARE(kOrderOptions[2].value, "name");
    QCOMPARE(kOrderOptions[2].label, "Name");
    QCOMPARE(kAgeOptions[0].value, 0);
    QCOMPARE(kAgeOptions[0].label, "Any age");
    QCOMPARE(kAgeOptions[1].value, 30);
    QCOMPARE(kAgeOptions[1].label, "Unchanged 30+ days");
    QCOMPARE(kAgeOptions[2].value, 90);
    QCOMPARE(kAgeOptions[2].label, "Unchanged 90+ days");
    QCOMPARE(quillet::browsing::kAllCategoriesLabel, "All developer storage");
}

void ResultBrowsingTest::categoryKeepsOnlyItsKindAndNoSelectionListsNothing() {
    const std::vector<StorageItem> visible{
        makeItem("/h/a/node_modules", StorageKind::dependencies, "a", 4),
        makeItem("/h/.npm/_cacache", StorageKind::caches, "npm", 3),
        makeItem("/h/b/target", StorageKind::builds, "b", 2),
        makeItem("/h/Library/Caches/Yarn", StorageKind::caches, "Yarn", 1),
    };
    const auto now = std::chrono::system_clock::now();

    QCOMPARE(titlesOf(quillet::browsing::filtered(visible, choose({}, "size", 0, "caches"), now)),
             (std::vector<std::string>{"npm", "Yarn"}));
    QCOMPARE(quillet::browsing::filtered(visible, choose(), now).size(), visible.size());
    QVERIFY(quillet::browsing::filtered(visible, choose({}, "size", 0, std::nullopt), now).empty());
    // Raw values match exactly: a title or a different case is no category.
    QVERIFY(quillet::browsing::filtered(visible, choose({}, "size", 0, "Caches"), now).empty());
    QVERIFY(quillet::browsing::filtered(visible, choose({}, "size", 0, "Package caches"), now).empty());
}

void ResultBrowsingTest::searchCoversTitleThenPathIgnoringCase() {
    const std::vector<StorageItem> visible{
        makeItem("/home/me/Code/shop/node_modules", StorageKind::dependencies, "shop", 3),
        makeItem("/home/me/Code/Über/target", StorageKind::builds, "über", 2),
        makeItem("/home/me/Library/Caches/Yarn", StorageKind::caches, "Yarn cache", 1),
    };
    const auto now = std::chrono::system_clock::now();
    auto search = [&](const std::string& query) {
        return titlesOf(quillet::browsing::filtered(visible, choose(query), now));
    };

    QCOMPARE(search("code/shop"), (std::vector<std::string>{"shop"}));
    QCOMPARE(search("CODE/SHOP"), search("code/shop"));
    QCOMPARE(search("yarn"), (std::vector<std::string>{"Yarn cache"}));
    // The searched text is the title followed at once by the path.
    QCOMPARE(search("shop/home"), (std::vector<std::string>{"shop"}));
    QCOMPARE(search("cache/home"), (std::vector<std::string>{"Yarn cache"}));
    QVERIFY(search("shop /home").empty());
    QCOMPARE(search("ÜBER/TARGET"), (std::vector<std::string>{"über"}));
    QVERIFY(search("nothing like it").empty());
    QCOMPARE(search("").size(), visible.size());
}

void ResultBrowsingTest::ageFilterUsesCalendarDaysAndDropsUndatedItems() {
    const ZoneScope zone("Europe/Berlin");
    const TimePoint now = localTime(2026, 12, 6, 15, 4);
    const std::vector<StorageItem> visible{
        makeItem("/h/old", StorageKind::builds, "31 days", 1, now - 31 * 24h),
        makeItem("/h/young", StorageKind::builds, "29 days", 1, now - 29 * 24h),
        makeItem("/h/undated", StorageKind::builds, "undated", 1),
        makeItem("/h/exact", StorageKind::builds, "exactly 30 days", 1, now - 30 * 24h),
        makeItem("/h/ancient", StorageKind::builds, "100 days", 1, now - 100 * 24h),
    };
    auto listed = [&](int age) { return titlesOf(quillet::browsing::filtered(visible, choose({}, "size", age), now)); };

    // "Strictly earlier than the cutoff": an item changed exactly 30 days ago is not yet listed.
    QCOMPARE(listed(30), (std::vector<std::string>{"31 days", "100 days"}));
    QCOMPARE(listed(90), (std::vector<std::string>{"100 days"}));
    QCOMPARE(listed(0).size(), visible.size());
}

void ResultBrowsingTest::ageCutoffKeepsClockTimeAcrossDaylightSavingChange() {
    const ZoneScope zone("America/New_York");
    // Summer time began on 10 March 2024: 30 calendar days before noon on 12 March is
    // noon on 11 February, 30 days minus one hour earlier on the clock.
    const TimePoint now = localTime(2024, 3, 12, 12) + 250ms;
    QCOMPARE(quillet::browsing::ageCutoff(now, 30), localTime(2024, 2, 11, 12) + 250ms);
    QCOMPARE(quillet::browsing::ageCutoff(now, 30), now - 30 * 24h + 1h);
    QCOMPARE(quillet::browsing::ageCutoff(now, 0), now);

    // Changed half an hour after "30 times 24 hours ago": a fixed-length day would hold it
    // back, the calendar lists it.
    const std::vector<StorageItem> visible{makeItem("/h/x", StorageKind::builds, "x", 1, now - 30 * 24h + 30min)};
    QCOMPARE(quillet::browsing::filtered(visible, choose({}, "size", 30), now).size(), std::size_t(1));
}

void ResultBrowsingTest::sortsAreStableAndPutUndatedLast() {
    const TimePoint base = std::chrono::system_clock::from_time_t(1'700'000'000);
    const std::vector<StorageItem> visible{
        makeItem("/h/1", StorageKind::builds, "first 5", 5, std::nullopt),
        makeItem("/h/2", StorageKind::builds, "second 9", 9, base + 2h),
        makeItem("/h/3", StorageKind::builds, "third 5", 5, base),
        makeItem("/h/4", StorageKind::builds, "fourth 9", 9, std::nullopt),
        makeItem("/h/5", StorageKind::builds, "fifth 5", 5, base),
        makeItem("/h/6", StorageKind::builds, "sixth -1", -1, base + 1h),
    };
    const auto now = base + 24h;
    auto sorted = [&](const std::string& order) {
        return titlesOf(quillet::browsing::filtered(visible, choose({}, order), now));
    };

    QCOMPARE(sorted("size"), (std::vector<std::string>{"second 9", "fourth 9", "first 5", "third 5", "fifth 5", "sixth -1"}));
    QCOMPARE(sorted("age"), (std::vector<std::string>{"third 5", "fifth 5", "sixth -1", "second 9", "first 5", "fourth 9"}));
    QCOMPARE(sorted("largest"), sorted("size"));

    // Positions refer to the visible list, so the window can map rows back cheaply.
    QCOMPARE(quillet::browsing::listedIndices(visible, choose({}, "age"), now),
             (std::vector<std::size_t>{2, 4, 5, 1, 0, 3}));
}

void ResultBrowsingTest::nameSortIsNumericCaseBlindAndMatchesTheCollator() {
    const auto now = std::chrono::system_clock::now();
    const std::vector<StorageItem> visible{
        makeItem("/h/a", StorageKind::builds, "proj10"),
        makeItem("/h/b", StorageKind::builds, "Proj2"),
        makeItem("/h/c", StorageKind::builds, "beta"),
        makeItem("/h/d", StorageKind::builds, "Alpha"),
        makeItem("/h/e", StorageKind::builds, "proj2 web"),
    };
    QCOMPARE(titlesOf(quillet::browsing::filtered(visible, choose({}, "name"), now)),
             (std::vector<std::string>{"Alpha", "beta", "Proj2", "proj2 web", "proj10"}));

    // The key-based sort must give exactly the order of sorting with the collator itself,
    // including its byte-order tie-break for texts that differ only in case.
    std::vector<StorageItem> many;
    const char* const words[] = {"app", "App", "APP", "äpp", "apps", "Zeta", "zeta", "élan", "Elan", "x9", "x10",
                                 "x09", "node_modules", ".build", "target", "Σίσυφος", "σίσυφος", "日本", "", "a b"};
    std::size_t n = 0;
    for (const char* first : words) {
        for (const char* second : {"", "2", "10", " web"}) {
            many.push_back(makeItem("/h/" + std::to_string(n++), StorageKind::builds, std::string(first) + second));
        }
    }
    std::vector<StorageItem> expected = many;
    const tarnby::FinderCollator collator;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const StorageItem& a, const StorageItem& b) { return collator(a.title, b.title); });
    QCOMPARE(titlesOf(quillet::browsing::filtered(many, choose({}, "name"), now)), titlesOf(expected));
}

void ResultBrowsingTest::searchAgreesWithTheUnicodeContainmentTest() {
    // Characters whose case folding yields ASCII ("ß" to "ss", the Kelvin sign to "k", the
    // "fi" ligature), dotted capital I, and ill-formed UTF-8.
    const std::vector<std::string> titles{"class", "Straße", "\u212Aelvin", "\uFB01le", "İstanbul", "Über",
                                          "plain", "bad\xC3(", "ǅungla", "ΣΊΣΥΦΟΣ"};
    const std::vector<std::string> queries{"ss", "SS", "k", "KELVIN", "fi", "FILE", "i", "ist", "über", "ÜBER",
                                           "ß", "straße", "STRASSE", "dž", "σίσυφος", "(", "\xC3", "lain", "/p"};
    std::vector<StorageItem> visible;
    for (const auto& title : titles) visible.push_back(makeItem("/p", StorageKind::builds, title));
    const auto now = std::chrono::system_clock::now();
    for (const auto& query : queries) {
        std::vector<std::string> expected;
        for (const auto& item : visible) {
            if (tarnby::localizedCaseInsensitiveContains(item.title + item.url, query)) expected.push_back(item.title);
        }
        QVERIFY2(titlesOf(quillet::browsing::filtered(visible, choose(query), now)) == expected, query.c_str());
    }
}

void ResultBrowsingTest::largeListsGiveTheSameOrderAsASimpleSort() {
    // Enough items that the work is shared out over threads; checked against a plain filter
    // and a stable sort with the collator.
    const char* const words[] = {"alpha", "Beta", "gamma", "Über", "straße", "web", "Web", "api2", "api10"};
    std::vector<StorageItem> visible;
    for (std::size_t i = 0; i < 40'000; ++i) {
        const std::string title = std::string(words[i % 9]) + " " + words[(i / 9) % 9] + std::to_string(i % 37);
        visible.push_back(makeItem("/h/" + std::to_string(i), StorageKind::builds, title, static_cast<std::int64_t>(i % 13)));
    }
    const auto now = std::chrono::system_clock::now();
    for (const std::string query : {"", "WEB", "STRASSE", "über", "1"}) {
        std::vector<StorageItem> expected;
        for (const auto& item : visible) {
            if (tarnby::localizedCaseInsensitiveContains(item.title + item.url, query)) expected.push_back(item);
        }
        const tarnby::FinderCollator collator;
        std::stable_sort(expected.begin(), expected.end(),
                         [&](const StorageItem& a, const StorageItem& b) { return collator(a.title, b.title); });
        std::vector<std::string> expectedPaths;
        for (const auto& item : expected) expectedPaths.push_back(item.url);
        std::vector<std::string> paths;
        for (const auto& item : quillet::browsing::filtered(visible, choose(query, "name"), now)) paths.push_back(item.url);
        QVERIFY2(paths == expectedPaths, query.c_str());
    }
}

void ResultBrowsingTest::visibleAndSelectedFollowScanOrder() {
    const std::vector<StorageItem> items{
        makeItem("/h/z", StorageKind::builds, "z"),
        makeItem("/h/a", StorageKind::builds, "a"),
        makeItem("/h/m", StorageKind::builds, "m"),
    };
    QCOMPARE(titlesOf(quillet::browsing::visibleItems(items, {"/h/a", "/h/gone"})), (std::vector<std::string>{"z", "m"}));
    QCOMPARE(titlesOf(quillet::browsing::selectedItems(items, {"/h/m", "/h/z"})), (std::vector<std::string>{"z", "m"}));
    // A kept or selected path matches an item's whole path, not a prefix of it.
    QCOMPARE(quillet::browsing::visibleItems(items, {"/h"}).size(), items.size());
    QVERIFY(quillet::browsing::selectedItems(items, {"/h/a/"}).empty());
}

void ResultBrowsingTest::totalsCountsAndLinesIgnoreFiltersButNotKeptItems() {
    const std::vector<StorageItem> items{
        makeItem("/h/a", StorageKind::dependencies, "a", 1'000'000),
        makeItem("/h/b", StorageKind::caches, "b", 200'000),
        makeItem("/h/c", StorageKind::caches, "c", 5'000'000'000),
        makeItem("/h/d", StorageKind::simulators, "d", 7),
    };
    const auto visible = quillet::browsing::visibleItems(items, {"/h/c"});
    QCOMPARE(quillet::browsing::totalBytes(visible), std::int64_t(1'200'007));
    QCOMPARE(quillet::browsing::headerLine(visible.size()), std::string("estimated on disk · 3 items"));
    QCOMPARE(quillet::browsing::headerLine(1234), std::string("estimated on disk · 1234 items"));
    const auto counts = quillet::browsing::kindCounts(visible);
    QCOMPARE(counts, (std::array<std::size_t, 4>{1, 0, 1, 1}));
    QCOMPARE(quillet::browsing::selectionLine(2, quillet::browsing::totalBytes(visible)),
             std::string("2 selected · 1.2 MB estimated"));
    QCOMPARE(quillet::browsing::selectionLine(0, 0), std::string("0 selected · Zero KB estimated"));

    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    const std::vector<StorageItem> huge{makeItem("/h/1", StorageKind::builds, "1", kMax - 5),
                                        makeItem("/h/2", StorageKind::builds, "2", 10),
                                        makeItem("/h/3", StorageKind::builds, "3", 10)};
    QCOMPARE(quillet::browsing::totalBytes(huge), kMax);
    const std::vector<StorageItem> negative{makeItem("/h/1", StorageKind::builds, "1", kMin + 5),
                                            makeItem("/h/2", StorageKind::builds, "2", -10)};
    QCOMPARE(quillet::browsing::totalBytes(negative), kMin);
    QCOMPARE(quillet::browsing::totalBytes({}), std::int64_t(0));
}

void ResultBrowsingTest::emptyStateTexts() {
    const auto matches = quillet::browsing::emptyState(true, 0);
    QCOMPARE(matches.title, std::string("No matches."));
    QCOMPARE(matches.message, std::string("Try another filter or age range."));
    QVERIFY(!matches.keptButton);

    const auto nothing = quillet::browsing::emptyState(false, 3);
    QCOMPARE(nothing.title, std::string("A little breathing room."));
    QCOMPARE(nothing.message,
             std::string("No recognized items found. Add another project folder or review scan notes."));
    QCOMPARE(nothing.keptButton.value_or(""), std::string("Show kept items (3)"));
}

void ResultBrowsingTest::rowTexts() {
    QCOMPARE(quillet::browsing::displayPath("/home/me/Code/app", "/home/me"), std::string("~/Code/app"));
    QCOMPARE(quillet::browsing::displayPath("/srv/app", "/home/me"), std::string("/srv/app"));
    QCOMPARE(quillet::browsing::displayPath("/home/me/x/home/me", "/home/me"), std::string("~/x~"));
    QCOMPARE(quillet::browsing::displayPath("/a", ""), std::string("/a"));

    QCOMPARE(quillet::browsing::changedLine({}), std::string("Change date unknown"));
    tarnby::Measurement dated;
    dated.modified = std::chrono::system_clock::from_time_t(1'796'572'800);  // 6 Dec 2026
    const std::string line = quillet::browsing::changedLine(dated);
    QVERIFY2(line.starts_with("Changed ") && line.find("2026") != std::string::npos, line.c_str());
}

QTEST_APPLESS_MAIN(ResultBrowsingTest)
#include "result_browsing_qtest.moc"
