#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tarnby {

// Category of a finding. The raw values are stored and exchanged as text.
enum class StorageKind { dependencies, builds, caches, simulators };

inline constexpr std::array<StorageKind, 4> kAllStorageKinds{StorageKind::dependencies, StorageKind::builds,
                                                             StorageKind::caches, StorageKind::simulators};

std::string_view rawValue(StorageKind kind);
// Plural, sentence-case display name ("Build outputs").
std::string_view title(StorageKind kind);
// Name of the symbol image the window shows for the category.
std::string_view symbol(StorageKind kind);
// Exact, case-sensitive match of a raw value; anything else gives nothing.
std::optional<StorageKind> storageKindFromRawValue(std::string_view raw);

}  // namespace tarnby
