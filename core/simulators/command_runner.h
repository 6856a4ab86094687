#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/records/scan_cancellation.h"

namespace tarnby::CommandRunner {

using Environment = std::map<std::string, std::string>;

inline constexpr double kGraceSeconds = 2.0;       // after SIGTERM, before SIGKILL
inline constexpr double kReaderWaitSeconds = 3.0;  // for the output after the tool ended
inline constexpr std::size_t kErrorTextLimit = 400;
// More output than any device list takes; past it the rest is drained and dropped, and the
// run fails, so a tool that never stops printing cannot fill the memory.
inline constexpr std::size_t kOutputLimit = std::size_t{64} * 1024 * 1024;
inline constexpr double kCancelGraceSeconds = 0.5;  // after SIGTERM for a stopped run
inline constexpr int kCancelPollMilliseconds = 50;  // how soon a stop is noticed

// Runs `executable` (an absolute path) with `arguments` and returns what it wrote to standard
// output and standard error together, in the order written, when it exits with status 0.
// A given `environment` replaces the caller's completely; without one the tool inherits it.
// Throws LaunchError when the program cannot be started, StorageError::command otherwise
// (time-out, non-zero status). Blocks the caller. The tool runs in a process group of its
// own; when it ends, or its time is up, the whole group is killed and reaped, so nothing it
// started outlives the run. Output that reaches the pipe within kReaderWaitSeconds after the
// tool ended is returned, even if a process that left the group still holds the pipe.
// A given `cancellation` is polled while the tool runs: once it is cancelled the group is
// asked to end, killed kCancelGraceSeconds later, and StorageError::command says so. (The
// tool's own group does not get the terminal's Ctrl-C; this is how a stop reaches it.)
std::string run(const std::string& executable, const std::vector<std::string>& arguments, double timeout,
                const std::optional<Environment>& environment, const ScanCancellation* cancellation = nullptr);

// The calling process's environment as a map.
Environment currentEnvironment();

}  // namespace tarnby::CommandRunner
