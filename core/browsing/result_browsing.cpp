#include "core/browsing/result_browsing.h"

#include <unicode/stringpiece.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <utility>

#include "core/browsing/platform_texts.h"
#include "core/platform/collation.h"
#include "core/platform/collation_keys.h"
#include "core/platform/formatting.h"
#include "core/platform/numbers.h"
#include "core/platform/paths.h"
#include "core/platform/utf8.h"

namespace tarnby::browsing {

using tarnby::StorageItem;
using tarnby::TimePoint;

tarnby::TimePoint ageCutoff(TimePoint now, int days) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    const std::time_t whole = static_cast<std::time_t>(seconds.time_since_epoch().count());
    std::tm local{};
    if (days != 0 && ::localtime_r(&whole, &local) != nullptr) {
        local.tm_mday -= days;
        local.tm_isdst = -1;  // let mktime decide whether the earlier day had summer time
        const std::time_t earlier = std::mktime(&local);
        if (earlier != static_cast<std::time_t>(-1)) {
            return std::chrono::system_clock::from_time_t(earlier) + (now - seconds);
        }
    }
    return now - std::chrono::hours(24) * days;
}

namespace {

bool categoryMatches(const std::optional<std::string>& category, tarnby::StorageKind kind) {
    if (!category) return false;
    return *category == kAllCategories || *category == tarnby::rawValue(kind);
}

// Appends `text` with ASCII capitals made small; every other byte stays as it is.
void appendLowered(std::string& out, std::string_view text) {
    const std::size_t at = out.size();
    out.resize(at + text.size());
    char* to = out.data() + at;
    for (char c : text) *to++ = static_cast<char>(c + ((static_cast<unsigned char>(c - 'A') < 26) ? 32 : 0));
}

// Whether any non-ASCII character of `text` case-folds to something with ASCII in it.
bool foldsToAscii(std::string_view text) {
    static const icu::UnicodeSet kFoldingToAscii = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeSet changing(icu::UnicodeString(u"[:Changes_When_Casefolded:]"), status);
        icu::UnicodeSet set;
        if (U_FAILURE(status)) {
            set.add(0x80, 0x10FFFF);  // cannot tell: send every non-ASCII text to the full test
        } else {
            for (int32_t r = 0; r < changing.getRangeCount(); ++r) {
                for (UChar32 c = std::max<UChar32>(changing.getRangeStart(r), 0x80); c <= changing.getRangeEnd(r);
                     ++c) {
                    icu::UnicodeString folded(c);
                    folded.foldCase();
                    for (int32_t i = 0; i < folded.length(); ++i) {
                        if (folded.charAt(i) < 0x80) {
                            set.add(c);
                            break;
                        }
                    }
                }
            }
        }
        set.freeze();
        return set;
    }();
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0 && kFoldingToAscii.contains(c)) return true;
    }
    return false;
}

// Whether a title directly followed by a path contains the query, with the answer of
// tarnby::localizedCaseInsensitiveContains, asked of many items in a row. For an ASCII query
// it searches the bytes with ASCII capitals made small, which is exact unless the text holds
// a character whose case folding produces ASCII ("ß" folds to "ss", the Kelvin sign to "k");
// only such texts, and non-ASCII queries, go through full Unicode case folding.
class QueryMatcher {
public:
    explicit QueryMatcher(std::string_view query)
        : m_query(query),
          m_ascii(tarnby::utf8::isAscii(query)),
          m_folded(icu::UnicodeString::fromUTF8(icu::StringPiece(query.data(), static_cast<int32_t>(query.size())))) {
        m_folded.foldCase();
        if (m_ascii) appendLowered(m_lowered, query);
        for (int32_t i = 0; i < m_folded.length(); ++i) {
            if (m_folded.charAt(i) >= 0x80) m_needsNonAscii = true;
        }
    }

    // The same answer from a text prepared once per list (searchTexts).
    bool matches(const SearchText& prepared, std::string_view title, std::string_view path) {
        if (m_ascii) {
            if (prepared.lowered.find(m_lowered) != std::string::npos) return true;
            if (prepared.ascii || !prepared.foldsToAscii) return false;
        } else if (m_needsNonAscii && prepared.ascii) {
            return false;
        }
        m_text.assign(title).append(path);
        return foldedContains(m_text);
    }

    bool matches(std::string_view title, std::string_view path) {
        if (m_ascii) {
            m_text.clear();
            appendLowered(m_text, title);
            appendLowered(m_text, path);
            if (m_text.find(m_lowered) != std::string::npos) return true;
            if (tarnby::utf8::isAscii(m_text)) return false;
        }
        m_text.assign(title).append(path);
        if (m_ascii && !foldsToAscii(m_text)) return false;
        // ASCII folds to ASCII only, so a folded query with other characters needs them in the text.
        if (m_needsNonAscii && tarnby::utf8::isAscii(m_text)) return false;
        return foldedContains(m_text);
    }

private:
    bool foldedContains(std::string_view text) {
        // Ill-formed UTF-8 becomes U+FFFD, as in the one-off test.
        if (!tarnby::utf8::toUtf16(text, m_utf16)) return tarnby::localizedCaseInsensitiveContains(text, m_query);
        const auto length = static_cast<int32_t>(m_utf16.size());
        m_haystack.setTo(m_utf16.data(), length);
        m_haystack.foldCase();
        return m_haystack.indexOf(m_folded) >= 0;
    }

    std::string_view m_query;
    bool m_ascii;
    bool m_needsNonAscii = false;
    icu::UnicodeString m_folded;  // the query, case-folded
    std::string m_lowered;        // an ASCII query with capitals made small
    std::string m_text;           // reused per item
    std::u16string m_utf16;
    icu::UnicodeString m_haystack;  // reused per item
};

// Positions from `candidates` (all of `visible` in order when null) that pass the category,
// search and age tests, in the order they are given. `texts`, when given, are searchTexts(visible).
std::vector<std::size_t> passing(const std::vector<StorageItem>& visible, const Choices& choices, TimePoint now,
                                 const std::vector<std::size_t>* candidates = nullptr,
                                 const std::vector<SearchText>* texts = nullptr) {
    const bool byAge = choices.age != 0;
    const TimePoint cutoff = byAge ? ageCutoff(now, choices.age) : now;
    std::optional<QueryMatcher> matcher;
    if (!choices.query.empty()) matcher.emplace(choices.query);
    if (texts != nullptr && texts->size() != visible.size()) texts = nullptr;  // prepared for another list
    std::vector<std::size_t> found;
    const std::size_t count = candidates != nullptr ? candidates->size() : visible.size();
    // At once: growing step by step takes a new block at every size, each faulting in fresh
    // pages, which on a long list cost more than the tests themselves.
    found.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = candidates != nullptr ? (*candidates)[k] : k;
        if (i >= visible.size()) continue;
        const StorageItem& item = visible[i];
        if (!categoryMatches(choices.category, item.kind)) continue;
        if (matcher && !(texts != nullptr ? matcher->matches((*texts)[i], item.title, item.url)
                                          : matcher->matches(item.title, item.url))) {
            continue;
        }
        if (byAge && !(item.measurement.modified && *item.measurement.modified < cutoff)) continue;
        found.push_back(i);
    }
    return found;
}

// Sorts copy each item's sort value next to its position: comparing through positions into
// the items would miss the cache on nearly every comparison. The position is the last key,
// which keeps equal items in scan order as a stable sort would.
void sortBySize(std::vector<std::size_t>& order, const std::vector<StorageItem>& items) {
    std::vector<std::pair<std::int64_t, std::size_t>> entries;
    entries.reserve(order.size());
    for (std::size_t i : order) entries.emplace_back(items[i].measurement.bytes, i);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::transform(entries.begin(), entries.end(), order.begin(), [](const auto& e) { return e.second; });
}

void sortByAge(std::vector<std::size_t>& order, const std::vector<StorageItem>& items) {
    // Undated items count as the most distant future.
    std::vector<std::pair<TimePoint, std::size_t>> entries;
    entries.reserve(order.size());
    for (std::size_t i : order) entries.emplace_back(items[i].measurement.modified.value_or(TimePoint::max()), i);
    std::sort(entries.begin(), entries.end());
    std::transform(entries.begin(), entries.end(), order.begin(), [](const auto& e) { return e.second; });
}

// A listed item's place in the name sort. The first sixteen bytes of its collation key ride
// along as two big-endian numbers, zero-padded (keys hold no zero byte): Latin titles take
// about a byte a letter, so eight bytes rarely get past a shared first word, while sixteen
// settle most comparisons without a trip to the key itself.
struct NameEntry {
    std::uint64_t head;
    std::uint64_t next;
    std::uint32_t key;    // which key: a position in the keys compared
    std::uint32_t index;  // position in the visible items
};

std::uint64_t bigEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < 8; ++b)
        value = (value << 8) | (b < bytes.size() ? static_cast<unsigned char>(bytes[b]) : 0U);
    return value;
}

// `keys` parallel to `items`, or null to make the listed titles' keys here. Comparing keys
// is a byte comparison, while asking the collator per comparison walks both titles through
// Unicode every time.
void sortByName(std::vector<std::size_t>& order, const std::vector<StorageItem>& items,
                const std::vector<std::string>* keys) {
    std::vector<std::string> made;
    if (keys == nullptr) {
        const tarnby::FinderSortKeys sortKeys;
        made.reserve(order.size());
        for (std::size_t i : order) made.push_back(sortKeys.key(items[i].title));
    }
    const std::string* const key = keys != nullptr ? keys->data() : made.data();
    std::vector<NameEntry> entries;
    entries.reserve(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t slot = keys != nullptr ? order[k] : k;
        const std::string_view text = key[slot];
        entries.push_back({bigEndian(text), bigEndian(text.substr(std::min<std::size_t>(8, text.size()))),
                           static_cast<std::uint32_t>(slot), static_cast<std::uint32_t>(order[k])});
    }
    std::sort(entries.begin(), entries.end(), [&](const NameEntry& a, const NameEntry& b) {
        if (a.head != b.head) return a.head < b.head;
        if (a.next != b.next) return a.next < b.next;
        if (const int c = key[a.key].compare(key[b.key]); c != 0) return c < 0;
        // Titles the collator calls equal ("apple", "Apple") stay in scan order, as every
        // other order keeps its ties.
        return a.index < b.index;
    });
    std::transform(entries.begin(), entries.end(), order.begin(), [](const NameEntry& e) { return e.index; });
}

}  // namespace

std::vector<std::string> nameKeys(const std::vector<StorageItem>& items) {
    const tarnby::FinderSortKeys sortKeys;
    std::vector<std::string> keys;
    keys.reserve(items.size());
    for (const StorageItem& item : items) keys.push_back(sortKeys.key(item.title));
    return keys;
}

std::vector<std::size_t> listedIndices(const std::vector<StorageItem>& visible, const Choices& choices, TimePoint now,
                                       const std::vector<std::string>* keys) {
    if (!choices.category) return {};
    std::vector<std::size_t> listed = passing(visible, choices, now);
    if (choices.order == kOrderName) {
        // Keys made for another list would sort by the wrong titles.
        if (keys != nullptr && keys->size() != visible.size()) keys = nullptr;
        sortByName(listed, visible, keys);
    } else if (choices.order == kOrderAge) {
        sortByAge(listed, visible);
    } else {
        sortBySize(listed, visible);
    }
    return listed;
}

std::vector<SearchText> searchTexts(const std::vector<StorageItem>& items) {
    std::vector<SearchText> texts(items.size());
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        SearchText& text = texts[i];
        text.lowered.reserve(items[i].title.size() + items[i].url.size());
        appendLowered(text.lowered, items[i].title);
        appendLowered(text.lowered, items[i].url);
        text.ascii = tarnby::utf8::isAscii(text.lowered);
        if (!text.ascii) text.foldsToAscii = foldsToAscii(joined.assign(items[i].title).append(items[i].url));
    }
    return texts;
}

std::vector<std::size_t> passingIndices(const std::vector<StorageItem>& visible, const Choices& choices, TimePoint now,
                                        const std::vector<std::size_t>& candidates,
                                        const std::vector<SearchText>* texts) {
    if (!choices.category) return {};
    return passing(visible, choices, now, &candidates, texts);
}

std::vector<StorageItem> filtered(const std::vector<StorageItem>& visible, const Choices& choices, TimePoint now,
                                  const std::vector<std::string>* keys) {
    std::vector<StorageItem> listed;
    const std::vector<std::size_t> order = listedIndices(visible, choices, now, keys);
    listed.reserve(order.size());
    for (std::size_t i : order) listed.push_back(visible[i]);
    return listed;
}

std::vector<std::size_t> visiblePositions(const std::vector<StorageItem>& items, const std::set<std::string>& kept) {
    std::vector<std::size_t> positions;
    positions.reserve(items.size());
    for (std::size_t position = 0; position < items.size(); ++position) {
        if (!kept.contains(items[position].id())) positions.push_back(position);
    }
    return positions;
}

std::vector<StorageItem> visibleItems(const std::vector<StorageItem>& items, const std::set<std::string>& kept) {
    std::vector<StorageItem> visible;
    const std::vector<std::size_t> positions = visiblePositions(items, kept);
    visible.reserve(positions.size());
    for (std::size_t position : positions) visible.push_back(items[position]);
    return visible;
}

std::vector<StorageItem> selectedItems(const std::vector<StorageItem>& items, const std::set<std::string>& selected) {
    std::vector<StorageItem> chosen;
    if (selected.empty()) return chosen;
    for (const StorageItem& item : items) {
        if (selected.contains(item.id())) chosen.push_back(item);
    }
    return chosen;
}

namespace {

// Calls `use` with each item of `items`, or only those at `positions` when given.
template <typename Use>
void eachItem(const std::vector<StorageItem>& items, const std::vector<std::size_t>* positions, Use use) {
    if (positions == nullptr) {
        for (const StorageItem& item : items) use(item);
    } else {
        for (std::size_t position : *positions) use(items[position]);
    }
}

std::int64_t sumBytes(const std::vector<StorageItem>& items, const std::vector<std::size_t>* positions) {
    std::int64_t total = 0;
    eachItem(items, positions,
             [&](const StorageItem& item) { total = tarnby::saturatingAdd(total, item.measurement.bytes); });
    return total;
}

std::array<std::size_t, tarnby::kAllStorageKinds.size()> countKinds(const std::vector<StorageItem>& items,
                                                                    const std::vector<std::size_t>* positions) {
    std::array<std::size_t, tarnby::kAllStorageKinds.size()> counts{};
    eachItem(items, positions, [&](const StorageItem& item) {
        const auto position = std::find(tarnby::kAllStorageKinds.begin(), tarnby::kAllStorageKinds.end(), item.kind);
        if (position != tarnby::kAllStorageKinds.end()) {
            ++counts[static_cast<std::size_t>(position - tarnby::kAllStorageKinds.begin())];
        }
    });
    return counts;
}

}  // namespace

std::int64_t totalBytes(const std::vector<StorageItem>& items) { return sumBytes(items, nullptr); }

std::int64_t totalBytes(const std::vector<StorageItem>& items, const std::vector<std::size_t>& positions) {
    return sumBytes(items, &positions);
}

std::string itemCount(std::size_t count) { return std::to_string(count) + (count == 1 ? " item" : " items"); }

std::string headerLine(std::size_t visibleCount) { return "estimated on disk · " + itemCount(visibleCount); }

std::array<std::size_t, tarnby::kAllStorageKinds.size()> kindCounts(const std::vector<StorageItem>& visible) {
    return countKinds(visible, nullptr);
}

std::array<std::size_t, tarnby::kAllStorageKinds.size()> kindCounts(const std::vector<StorageItem>& items,
                                                                    const std::vector<std::size_t>& positions) {
    return countKinds(items, &positions);
}

std::string selectionLine(std::size_t selectedCount, std::int64_t selectedBytes) {
    return std::to_string(selectedCount) + " selected · " + tarnby::formatting::byteCount(selectedBytes) + " estimated";
}

std::optional<std::string> sharedLine(const Measurement& measurement) {
    if (measurement.freedBytes >= measurement.bytes) return std::nullopt;
    return tarnby::formatting::byteCount(measurement.bytes - measurement.freedBytes) +
           " of it is shared with other folders " + std::string(platformTexts().sharedThrough) + ".";
}

std::optional<std::string> freedLine(const FreedSpace& freed, std::int64_t onDisk, std::string_view what) {
    // An estimate only ever falls short, so one that reaches the whole is the whole.
    if (freed.bytes >= onDisk) return std::nullopt;
    return "Frees " + std::string(freed.estimate ? "about " : "") + tarnby::formatting::byteCount(freed.bytes) +
           " of the " + tarnby::formatting::byteCount(onDisk) + " " + std::string(what) + "; the rest is shared " +
           std::string(platformTexts().sharedThrough) + ".";
}

EmptyState emptyState(bool hasVisibleItems, std::size_t keptCount) {
    EmptyState state;
    if (hasVisibleItems) {
        state.title = "No matches.";
        state.message = "Try another filter or age range.";
    } else {
        state.title = "A little breathing room.";
        state.message = "No recognized items found. Add another project folder or review scan notes.";
    }
    if (keptCount > 0) state.keptButton = "Show kept items (" + std::to_string(keptCount) + ")";
    return state;
}

std::string displayPath(std::string_view path, std::string_view home) {
    return tarnby::paths::abbreviatingHome(path, home);
}

std::string changedLine(const tarnby::Measurement& measurement) {
    if (!measurement.modified) return "Change date unknown";
    return "Changed " + tarnby::formatting::date(*measurement.modified, false);
}

std::optional<std::string> unselectableReason(const tarnby::StorageItem& item) {
    if (item.protection) return item.protection;
    if (!item.measurement.complete) return "This item could not be fully inspected, so it cannot be selected.";
    return std::nullopt;
}

}  // namespace tarnby::browsing
