#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A private folder for the whole run, made on first use and removed at exit.
const std::string& scratchFolder();

// Replaces the file at `path` (below the scratch folder) with `contents`; aborts if it cannot,
// since a fuzzer that silently tests nothing is worse than one that stops.
void writeWhole(const std::string& path, std::string_view contents);

// Aborts with `what` on standard error: a broken invariant is a finding like a crash.
[[noreturn]] void violated(const char* what);

}  // namespace quillet::fuzz
