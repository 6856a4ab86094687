#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quillet::cli {

// Exit statuses.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;
inline constexpr int kInterrupted = 130;

// Runs `quillet` with argv[1…], writing to `out` and `err`. Returns the exit status.
int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace quillet::cli
