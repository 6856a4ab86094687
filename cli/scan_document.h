#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/scan_result.h"
#include "core/scanning/scan_configuration.h"

namespace quillet::cli {

// What `quillet scan --json` prints and `quillet plan --scan` reads back.
struct ScanDocument {
    std::string home;
    std::vector<std::string> roots;
    std::set<std::string> kept;
    tarnby::ScanResult result;
};

// One compact JSON object: "home", "roots", "kept", "cancelled", "notes", "items". Text that is
// not UTF-8 (file names may hold any bytes) is written with U+FFFD in its place, so the output
// stays valid JSON; an item whose path was affected also carries "pathBytes", the exact path
// in hexadecimal, so it can still be named and planned.
std::string encodeScanDocument(const ScanDocument& document);

// The lines of `quillet scan --json-stream`, each one compact JSON object without a line
// break: an item, as in the document's "items"; and the last line, the document without
// "items" ("home", "roots", "kept", "cancelled", "notes").
std::string encodeStreamedItem(const tarnby::StorageItem& item);
std::string encodeStreamEnd(const ScanDocument& document);

// Reads a document printed by encodeScanDocument, rebuilding every item field it holds
// ("freedBytes" and "largest" may be missing, as in documents from earlier versions).
// Throws tarnby::DecodingError with a one-line reason when it does not have that shape.
ScanDocument decodeScanDocument(std::string_view json);

// Invalid UTF-8 sequences replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace quillet::cli
