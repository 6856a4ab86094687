// The command line: every argument list (split at byte 0x00) is an invocation or one usage
// message, and the commands that read no disk run to a status.
#include <cstdint>
#include <cstdio>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = quillet::fuzz::text(data, size);
    std::vector<std::string> arguments;
    std::size_t start = 0;
    while (start <= input.size() && !input.empty()) {
        std::size_t end = input.find('\0', start);
        if (end == std::string_view::npos) end = input.size();
        arguments.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    quillet::cli::Invocation invocation;
    try {
        invocation = quillet::cli::parseArguments(arguments);
    } catch (const quillet::cli::UsageError& error) {
        if (std::string_view(error.what()).empty()) quillet::fuzz::violated("a usage error without a message");
        return 0;
    }
    using quillet::cli::Command;
    // Scans and plans would read this machine's home; the rest only print.
    if (invocation.command == Command::scan || invocation.command == Command::suggest ||
        invocation.command == Command::plan) {
        return 0;
    }
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const int status = quillet::cli::runCommandLine(arguments, sink, sink);
    if (status != quillet::cli::kSuccess && status != quillet::cli::kUsage) {
        quillet::fuzz::violated("a printing command ended with an unexpected status");
    }
    return 0;
}
