#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillet::cli {

// A command line that cannot be run as given; the text is one line for standard error.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class InventorySource { system, file, none };

// What every command that scans needs to know.
struct ScanSetup {
    std::optional<std::string> home;                // absolute; none means the current user's
    std::optional<std::vector<std::string>> roots;  // given with --root/--no-roots; none means saved or suggested
    InventorySource inventory = InventorySource::system;
    std::string inventoryFile;
};

enum class ScanOutput { table, json, jsonStream };

struct ScanOptions {
    ScanSetup setup;
    ScanOutput output = ScanOutput::table;
    bool all = false;
    std::optional<bool> progress;  // none: when standard error is a terminal
};

struct SuggestOptions {
    std::optional<std::string> home;
};

struct PlanOptions {
    ScanSetup setup;
    std::string scanFile;  // "-" for standard input
    bool acknowledgeSimulatorRisk = false;
    std::vector<std::string> paths;
};

enum class Command { usage, help, version, scan, suggest, plan };

struct Invocation {
    Command command = Command::usage;
    std::string helpTopic;  // with Command::help: a subcommand, or empty for the whole
    ScanOptions scan;
    SuggestOptions suggest;
    PlanOptions plan;
};

// Parses argv[1…]. Relative folder arguments are made absolute against the working folder.
// Throws UsageError for an unknown command or option, a missing value or a conflict.
Invocation parseArguments(const std::vector<std::string>& arguments);

// The whole help (for an empty `command`) or one subcommand's.
std::string helpText(const std::string& command = {});
std::string usageText();
std::string versionText();

// `path` made absolute against the working folder and standardized (links are kept).
std::string absolutePath(const std::string& path);

}  // namespace quillet::cli
