// Property lists, binary or XML: a simulator device's "lastBootedAt" date from its file, and the
// update check's "SUPublicEDKey" text from memory. A value or nothing, never a crash.
#include "core/platform/plist.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    static const std::string file = scratchFolder() + "/device.plist";
    writeWhole(file, input);
    (void)tarnby::plist::dateValue(file, "lastBootedAt");
    (void)tarnby::plist::stringValue(input, "SUPublicEDKey");
}
