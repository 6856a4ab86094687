#pragma once

#include <string_view>

// The window's few texts that name the desktop it runs on. They were written for macOS; other
// desktops get the same sentences in their own words. Kept in the core, beside the other texts
// of the window, so the command line could say the same if it ever needs to.
namespace tarnby::browsing {

enum class Desktop { mac, freedesktop };

struct PlatformTexts {
    std::string_view privacyTitle;     // heads the sidebar's footer
    std::string_view privacyNote;      // the sentence under it
    std::string_view reveal;           // the command that shows an item in the file manager
    std::string_view revealFailed;     // said when the file manager could not be asked
    std::string_view estimateCaution;  // the review sheet's caution about the estimates
    std::string_view sharedThrough;    // how files are shared where cleaning frees less than their size
};

const PlatformTexts& platformTexts(Desktop desktop);
// The texts of the desktop this program was built for.
const PlatformTexts& platformTexts();

}  // namespace tarnby::browsing
