// The command line: every argument list (split at byte 0x00) is an invocation or one usage
// message, and the commands that read no disk run to a status.
#include "cli/arguments.h"
#include "cli/commands.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    std::vector<std::string> arguments;
    for (std::size_t start = 0, end = 0; !input.empty() && end != input.npos; start = end + 1) {
        end = input.find('\0', start);
        arguments.emplace_back(input.substr(start, end - start));
    }
    cli::Invocation invocation;
    try {
        invocation = cli::parseArguments(arguments);
    } catch (const cli::UsageError& error) {
        if (std::string_view(error.what()).empty()) violated("a usage error without a message");
        return;
    }
    // Scans and plans would read this machine's home; the rest only print.
    using enum cli::Command;
    if (invocation.command == scan || invocation.command == suggest || invocation.command == plan) return;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const int status = cli::runCommandLine(arguments, sink, sink);
    if (status != cli::kSuccess && status != cli::kUsage)
        violated("a printing command ended with an unexpected status");
}
