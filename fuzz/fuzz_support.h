#pragma once

// What the fuzz targets share; the one file of a target that includes this gets libFuzzer's entry point.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/records/storage_error.h"

namespace quillet::fuzz {

void fuzzOne(std::string_view input);

// A broken invariant is a finding like a crash.
[[noreturn]] inline void violated(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// What `decode` makes of `input`, or nothing when it refuses it with a DecodingError.
template <class Decode>
auto decoded(Decode decode, std::string_view input) -> std::optional<decltype(decode(input))> try {
    return decode(input);
} catch (const tarnby::DecodingError&) {
    return std::nullopt;
}

// A private folder for the run, removed at exit (after static destructors, so its name is leaked, not destroyed).
inline const std::string& scratchFolder() {
    static const std::string& folder = *[] {
        auto* made = new std::string(std::filesystem::temp_directory_path().string() + "/quillet-fuzz-XXXXXX");
        if (::mkdtemp(made->data()) == nullptr) violated("cannot make a scratch folder");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return made;
    }();
    return folder;
}

// A fuzzer that silently tests nothing is worse than one that stops.
inline void writeWhole(const std::string& path, std::string_view contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (!(std::ofstream(path, std::ios::binary) << contents).flush()) violated("cannot write a scratch file");
}

}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::fuzzOne({reinterpret_cast<const char*>(data), size});
    return 0;
}
