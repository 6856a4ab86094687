#pragma once

namespace quillet::cli {

// What every `quillet` process does first, window or command line: take the user's locale
// and raise the open-file limit to what the system allows.
void prepareProcess();

}  // namespace quillet::cli
