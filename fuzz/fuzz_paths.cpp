// Path standardizing: idempotent, no "." or ".." left in an absolute result, absolute stays
// absolute, and the helpers built on it agree with it.
#include "core/platform/paths.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    namespace paths = tarnby::paths;
    const std::string once = paths::standardized(input);
    if (paths::standardized(once) != once) violated("standardizing twice changes the path");
    if (once.empty() || once.find("//") != once.npos || (once.size() > 1 && once.back() == '/'))
        violated("a standardized path is empty, or has an empty component or a separator at its end");
    if (input.starts_with('/') != once.starts_with('/')) violated("standardizing changed whether a path is absolute");
    if (input.starts_with('/')) {
        if (paths::hasDotComponent(once)) violated("an absolute standardized path keeps \".\" or \"..\"");
        const std::string up = paths::parent(once);
        if (once != "/" && !paths::liesInside(once, up)) violated("a path does not lie inside its parent");
        if (once != "/" && paths::appending(up, paths::lastComponent(once)) != once) {
            violated("parent and last component do not make the path again");
        }
    }
    // Split at its first byte 0x00, the input is a "home" and a path to shorten with it.
    if (const std::size_t split = input.find('\0'); split != std::string_view::npos) {
        const std::string_view rest = input.substr(split + 1);
        const std::string shown = paths::abbreviatingHome(rest, input.substr(0, split));
        if (shown != rest && !shown.starts_with("~/")) violated("home shortening changed more than the start");
    }
}
