#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli {

// Exit statuses.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;
inline constexpr int kInterrupted = 130;

struct Input {
    std::optional<std::string> text;
    std::string problem;  // when there is no text: why, to follow the source's name
};

// Everything `fd` holds from where it stands, up to `limit` bytes.
Input readAll(int fd, std::size_t limit);

// Runs `quillet` with argv[1…], writing to `out` and `err`. Returns the exit status.
// A failed write to `out` turns any status into a failure.
int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

// The whole command line as a process runs it: locale, descriptor limit, stdout and stderr.
int run(int argc, char** argv);

}  // namespace quillet::cli
