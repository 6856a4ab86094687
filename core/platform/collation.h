#pragma once

#include <memory>
#include <string_view>

namespace tarnby {

// Finder-like ordering of UTF-8 text in the user's locale: letter case ignored, runs of
// digits compared by value ("proj2" before "proj10"). Not thread-safe: one per thread.
class FinderCollator {
public:
    FinderCollator();
    ~FinderCollator();
    FinderCollator(const FinderCollator&) = delete;
    FinderCollator& operator=(const FinderCollator&) = delete;

    // Negative, zero or positive like strcmp. Texts equal to the collator fall back to byte
    // order, so the order is total and stable across runs.
    int compare(std::string_view a, std::string_view b) const;
    bool operator()(std::string_view a, std::string_view b) const { return compare(a, b) < 0; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Whether `text` contains `query` ignoring letter case (full Unicode case folding).
// An empty query is contained in everything.
bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query);

}  // namespace tarnby
