// The preferences file: whatever it holds, loading gives the stored values or the defaults,
// never throws, and what was loaded saves and loads back unchanged.
#include "core/preferences/saved_preferences.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    static const std::string home = scratchFolder() + "/home";
    writeWhole(tarnby::preferencesPath(home), input);
    const tarnby::SavedPreferences loaded = tarnby::loadPreferences(home);
    if (const auto note = tarnby::savePreferences(home, loaded)) violated(note->c_str());
    const tarnby::SavedPreferences again = tarnby::loadPreferences(home);
    if (again.roots != loaded.roots || again.kept != loaded.kept)
        violated("saved preferences do not load back the same");
}
