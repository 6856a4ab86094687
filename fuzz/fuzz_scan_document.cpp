// The document `quillet plan --scan` reads: a document or a DecodingError, and a decoded
// document writes out as text that decodes to the same text again.
#include "cli/scan_document.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    const auto document = decoded(cli::decodeScanDocument, input);
    if (!document) return;
    const std::string written = cli::encodeScanDocument(*document);
    const auto again = decoded(cli::decodeScanDocument, written);
    if (!again) violated("a written scan document does not read back");
    if (cli::encodeScanDocument(*again) != written) violated("a scan document does not read back the same");
}
