#pragma once

#include <unicode/coll.h>

#include <memory>

// Internal to the core: the one place the Finder-like ICU collator is configured, shared by
// FinderCollator and FinderSortKeys so their orders cannot drift apart.
namespace tarnby::detail {

// The user's locale (the root collation under C/POSIX), digit runs by value, letter case
// ignored. Null only when ICU cannot make any collator.
std::unique_ptr<icu::Collator> makeFinderCollator();

}  // namespace tarnby::detail
