#pragma once

#include <string>

namespace quillet::cli {

// What a scan recognises, from the target catalogue, as plain text of at most 79 columns: the
// folders found in projects, the caches in the home folder, Xcode's folders. `quillet help scan`
// prints it and README.md holds it (a test compares them).
std::string recognisedText();

}  // namespace quillet::cli
