// Property lists, binary or XML: a simulator device's "lastBootedAt" date from its file, and the
// update check's "SUPublicEDKey" text from memory. A value or nothing, never a crash.
#include <cstdint>

#include "core/platform/plist.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = quillet::fuzz::scratchFolder() + "/device.plist";
    quillet::fuzz::writeWhole(file, quillet::fuzz::text(data, size));
    (void)tarnby::plist::dateValue(file, "lastBootedAt");
    (void)tarnby::plist::stringValue(quillet::fuzz::text(data, size), "SUPublicEDKey");
    return 0;
}
