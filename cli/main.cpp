// The command-line-only `quillet`, built when the window is not (QUILLET_BUILD_APP=OFF).
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/process_setup.h"

int main(int argc, char** argv) {
    quillet::cli::prepareProcess();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return quillet::cli::runCommandLine(arguments, stdout, stderr);
}
