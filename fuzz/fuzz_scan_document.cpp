// The document `quillet plan --scan` reads: a document or a DecodingError, and a decoded
// document writes out as text that decodes to the same text again.
#include <cstdint>

#include "cli/scan_document.h"
#include "core/records/storage_error.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::cli::ScanDocument document;
    try {
        document = quillet::cli::decodeScanDocument(quillet::fuzz::text(data, size));
    } catch (const tarnby::DecodingError&) {
        return 0;
    }
    const std::string written = quillet::cli::encodeScanDocument(document);
    std::string rewritten;
    try {
        rewritten = quillet::cli::encodeScanDocument(quillet::cli::decodeScanDocument(written));
    } catch (const tarnby::DecodingError& error) {
        quillet::fuzz::violated(error.what());
    }
    if (rewritten != written) quillet::fuzz::violated("a scan document does not read back the same");
    return 0;
}
