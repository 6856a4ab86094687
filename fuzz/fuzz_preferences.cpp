// The preferences file: whatever it holds, loading gives the stored values or the defaults,
// never throws, and what was loaded saves and loads back unchanged.
#include <sys/stat.h>

#include <cstdint>

#include "core/preferences/saved_preferences.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string home = [] {
        const std::string folder = quillet::fuzz::scratchFolder() + "/home";
        for (const char* part :
             {"", "/Library", "/Library/Application Support", "/Library/Application Support/Tarnby"}) {
            ::mkdir((folder + part).c_str(), 0700);
        }
        return folder;
    }();
    const std::string file = tarnby::preferencesPath(home);
    quillet::fuzz::writeWhole(file, quillet::fuzz::text(data, size));

    const tarnby::SavedPreferences loaded = tarnby::loadPreferences(home);
    if (const auto note = tarnby::savePreferences(home, loaded)) quillet::fuzz::violated(note->c_str());
    const tarnby::SavedPreferences again = tarnby::loadPreferences(home);
    if (again.roots != loaded.roots || again.kept != loaded.kept) {
        quillet::fuzz::violated("saved preferences do not load back the same");
    }
    return 0;
}
