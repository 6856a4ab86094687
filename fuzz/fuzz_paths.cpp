// Path standardizing: idempotent, no "." or ".." left in an absolute result, absolute stays
// absolute, and the helpers built on it agree with it.
#include <cstdint>

#include "core/platform/paths.h"
#include "fuzz/fuzz_support.h"

using quillet::fuzz::violated;
namespace paths = tarnby::paths;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = quillet::fuzz::text(data, size);
    const std::string once = paths::standardized(input);
    if (paths::standardized(once) != once) violated("standardizing twice changes the path");
    if (once.empty()) violated("a standardized path is empty");
    if (once.find("//") != std::string::npos) violated("a standardized path has an empty component");
    if (once.size() > 1 && once.back() == '/') violated("a standardized path ends with a separator");

    const bool absolute = !input.empty() && input.front() == '/';
    if (absolute) {
        if (once.front() != '/') violated("an absolute path became relative");
        if (paths::hasDotComponent(once)) violated("an absolute standardized path keeps \".\" or \"..\"");
        const std::string up = paths::parent(once);
        if (once != "/" && !paths::liesInside(once, up)) violated("a path does not lie inside its parent");
        if (once != "/" && paths::appending(up, paths::lastComponent(once)) != once) {
            violated("parent and last component do not make the path again");
        }
        if (paths::liesInside(once, once)) violated("a folder lies inside itself");
    } else if (once.front() == '/') {
        violated("a relative path became absolute");
    }
    // Splitting the input at its first byte 0x00 gives a "home" to shorten with.
    const std::size_t split = input.find('\0');
    if (split != std::string_view::npos) {
        const std::string_view home = input.substr(0, split);
        const std::string_view rest = input.substr(split + 1);
        const std::string shown = paths::abbreviatingHome(rest, home);
        if (shown != rest && shown.rfind("~/", 0) != 0) violated("home shortening changed more than the start");
    }
    return 0;
}
