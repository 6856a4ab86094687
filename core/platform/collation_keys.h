#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tarnby {

// Binary sort keys that order text exactly as FinderCollator::compare does before its
// byte-order tie-break: order two texts by their keys (plain unsigned byte comparison, as
// std::string's operator< does). Equal keys mean texts the collator calls equal ("apple",
// "Apple"); a list sorted by name keeps those in their given order, while
// FinderCollator::compare goes on to their bytes.
// Sorting many texts this way pays the collator once per text instead of once per
// comparison. Keys contain no zero byte. Not thread-safe: one per thread.
class FinderSortKeys {
public:
    FinderSortKeys();
    ~FinderSortKeys();
    FinderSortKeys(const FinderSortKeys&) = delete;
    FinderSortKeys& operator=(const FinderSortKeys&) = delete;

    // Appends the key of UTF-8 text to `out`, so many keys can share one buffer.
    // Without a collator the key is the text itself: the order degrades to byte order.
    void appendKey(std::string_view text, std::string& out) const;

    std::string key(std::string_view text) const {
        std::string out;
        appendKey(text, out);
        return out;
    }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarnby
