#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/freed_space.h"
#include "core/records/measurement.h"
#include "core/records/storage_item.h"
#include "core/records/storage_kind.h"

// How the window turns the model's items into the listed items, and the counts and texts
// it shows beside the list. Plain functions over values: no Qt, no state, no disk, and no
// threads of their own; any thread may call them while nothing changes their arguments.
namespace tarnby::browsing {

inline constexpr std::string_view kAllCategories = "all";
inline constexpr std::string_view kOrderSize = "size";
inline constexpr std::string_view kOrderAge = "age";
inline constexpr std::string_view kOrderName = "name";

// The user's browsing choices; a fresh window starts with these values.
struct Choices {
    // "all", a StorageKind raw value, or none when the sidebar has no selection.
    std::optional<std::string> category = std::string(kAllCategories);
    std::string query;
    std::string order = std::string(kOrderSize);  // "size", "age" or "name"; anything else sorts as "size"
    int age = 0;                                  // days unchanged: 0, 30 or 90
};

template <typename Value>
struct Option {
    Value value;
    std::string_view label;
};

inline constexpr std::array<Option<std::string_view>, 3> kOrderOptions{{
    {kOrderSize, "Largest first"},
    {kOrderAge, "Oldest change"},
    {kOrderName, "Name"},
}};
inline constexpr std::array<Option<int>, 3> kAgeOptions{{
    {0, "Any age"},
    {30, "Unchanged 30+ days"},
    {90, "Unchanged 90+ days"},
}};
inline constexpr std::string_view kAllCategoriesLabel = "All developer storage";

// `now` moved back `days` days of the local calendar, keeping the clock time, so a day
// with a daylight-saving change still counts as one day.
tarnby::TimePoint ageCutoff(tarnby::TimePoint now, int days);

// The collation key (tarnby::FinderSortKeys) of each item's title, parallel to `items`: what
// the name order compares. Making them is most of the cost of sorting by name, so the window
// makes them once per list it derives from, again whenever that list changes (a new scan
// result, a change to the kept set), not per keystroke.
std::vector<std::string> nameKeys(const std::vector<tarnby::StorageItem>& items);

// Positions in `visible` of the listed items, in display order: category, search and age
// tests, then a stable sort by the chosen order. `visible` is the model's visibleItems.
// `keys`, when given, must be nameKeys(visible); keys of another length are ignored. Without
// them a sort by name makes the listed titles' keys itself, which costs far more than the
// rest on long lists (bench/browsing_bench measures 100,000 items).
std::vector<std::size_t> listedIndices(const std::vector<tarnby::StorageItem>& visible, const Choices& choices,
                                       tarnby::TimePoint now, const std::vector<std::string>* keys = nullptr);

// What the search looks in for one item, prepared once per list as the name keys are: the title
// followed by the path with ASCII capitals made small, whether that is all ASCII, and whether a
// character in it case-folds to ASCII ("ß", the Kelvin sign), which only full folding finds.
// Lowering the texts again for every keystroke costs about as much as the rest of the search.
struct SearchText {
    std::string lowered;
    bool ascii = true;
    bool foldsToAscii = false;
};
std::vector<SearchText> searchTexts(const std::vector<tarnby::StorageItem>& items);

// The positions among `candidates` (positions in `visible`) that pass the category, search and
// age tests, in the order of `candidates`. The order does not depend on those tests, so a view
// can sort the whole list once (listedIndices with no category, search or age) and filter that
// on every keystroke without sorting again; or, when the search text only grew, filter the rows
// it lists already. Positions past the end of `visible` are skipped. `texts`, when given, must
// be searchTexts(visible); texts of another length are ignored.
std::vector<std::size_t> passingIndices(const std::vector<tarnby::StorageItem>& visible, const Choices& choices,
                                        tarnby::TimePoint now, const std::vector<std::size_t>& candidates,
                                        const std::vector<SearchText>* texts = nullptr);

// The listed items themselves. Copying whole items costs several times the derivation on
// long lists; a view that can work with positions should use listedIndices.
std::vector<tarnby::StorageItem> filtered(const std::vector<tarnby::StorageItem>& visible, const Choices& choices,
                                          tarnby::TimePoint now, const std::vector<std::string>* keys = nullptr);

// Positions in `items` of those whose path is not kept, in their order.
std::vector<std::size_t> visiblePositions(const std::vector<tarnby::StorageItem>& items,
                                          const std::set<std::string>& kept);
// `items` whose path is not kept, in their order.
std::vector<tarnby::StorageItem> visibleItems(const std::vector<tarnby::StorageItem>& items,
                                              const std::set<std::string>& kept);

// `items` whose path is selected, in their order.
std::vector<tarnby::StorageItem> selectedItems(const std::vector<tarnby::StorageItem>& items,
                                               const std::set<std::string>& selected);

// Sum of the items' byte counts, held at the int64 limits instead of overflowing.
std::int64_t totalBytes(const std::vector<tarnby::StorageItem>& items);
// The same for the items at `positions`.
std::int64_t totalBytes(const std::vector<tarnby::StorageItem>& items, const std::vector<std::size_t>& positions);

// "1 item" or "N items": every count of items the window shows.
std::string itemCount(std::size_t count);

// "estimated on disk · N items", the line beside the header total.
std::string headerLine(std::size_t visibleCount);

// Number of items of each kind, indexed like tarnby::kAllStorageKinds.
std::array<std::size_t, tarnby::kAllStorageKinds.size()> kindCounts(const std::vector<tarnby::StorageItem>& visible);
// The same for the items at `positions`.
std::array<std::size_t, tarnby::kAllStorageKinds.size()> kindCounts(const std::vector<tarnby::StorageItem>& items,
                                                                    const std::vector<std::size_t>& positions);

// "N selected · <size> estimated".
std::string selectionLine(std::size_t selectedCount, std::int64_t selectedBytes);

// "89.3 MB of it is shared with other folders through hard links.": the part of an item that
// removing it alone would not free. None when removing it alone frees all of it.
std::optional<std::string> sharedLine(const tarnby::Measurement& measurement);

// "Frees 1.5 MB of the 90.9 MB selected; the rest is shared through hard links.", with "about"
// when `freed` is an estimate: what removing a set together frees of its `onDisk` bytes, `what`
// naming the set ("selected"). None when it frees all of them.
std::optional<std::string> freedLine(const tarnby::FreedSpace& freed, std::int64_t onDisk, std::string_view what);

// What an empty list says. `keptButton` is the "Show kept items (N)" text, present only
// when something is kept.
struct EmptyState {
    std::string title;
    std::string message;
    std::optional<std::string> keptButton;
};
EmptyState emptyState(bool hasVisibleItems, std::size_t keptCount);

// The path as a row shows it (tarnby::paths::abbreviatingHome).
std::string displayPath(std::string_view path, std::string_view home);

// "Changed <date>" or "Change date unknown", the line under a row's size.
std::string changedLine(const tarnby::Measurement& measurement);

// Why an item cannot be selected: its protection, or that it was not fully inspected; none when
// it can be.
std::optional<std::string> unselectableReason(const tarnby::StorageItem& item);

}  // namespace tarnby::browsing
