// The command-line-only `quillet`, built when the window is not (QUILLET_BUILD_APP=OFF).
#include "cli/commands.h"

int main(int argc, char** argv) { return quillet::cli::run(argc, argv); }
