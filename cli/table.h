#pragma once

#include <string>
#include <string_view>

#include "cli/scan_document.h"

namespace quillet::cli {

// The scan as a table for people: size, kind, title, last change and path (the home folder
// shown as "~"), largest first as scanned, then the total and the notes. Kept items are left
// out unless `showKept`.
std::string renderTable(const ScanDocument& document, bool showKept);

// Text made safe for a terminal: control characters (C0, DEL, C1), line separators and bidi
// controls shown as escapes ("\n", "\x1b", "\u202e"), and the bytes of invalid UTF-8 as "\xff".
std::string terminalSafe(std::string_view text);

// Columns `text` takes on a terminal (wide East Asian characters count two, marks none).
std::size_t displayWidth(std::string_view text);

}  // namespace quillet::cli
