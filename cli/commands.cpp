#include "cli/commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <unordered_map>

#include "cli/arguments.h"
#include "cli/interrupt.h"
#include "cli/inventory_sources.h"
#include "cli/process_setup.h"
#include "cli/scan_document.h"
#include "cli/table.h"
#include "core/planning/cleanup_planner.h"
#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/preferences/saved_preferences.h"
#include "core/records/storage_error.h"
#include "core/scanning/file_inspection.h"
#include "core/scanning/platform_locations.h"
#include "core/scanning/project_locations.h"
#include "core/scanning/scanner.h"

namespace quillet::cli {

namespace {

void write(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

// Standard output and the reason its first failed write gave: text larger than the stream's
// buffer is written at once, so the final flush no longer knows why it failed.
struct Output {
    std::FILE* stream;
    int error = 0;
};

void write(Output& out, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out.stream) < text.size() && out.error == 0) out.error = errno;
}

// A generated scan of 1,000,000 node_modules items with 60-character paths prints 530 MiB of JSON;
// the cap leaves room for longer paths and titles.
constexpr std::size_t kScanDocumentLimit = std::size_t{1024} * 1024 * 1024;

}  // namespace

// Standard input may be a pipe, a socket or a file opened past its start by someone else, so
// it is read where it stands: a fresh open() of /dev/stdin reaches none of them the same way.
Input readAll(int fd, std::size_t limit) {
    tarnby::fs::ReadOutcome outcome = tarnby::fs::readAll(fd, limit);
    if (outcome.data) return Input{std::move(outcome.data), {}};
    if (outcome.error != 0)
        return Input{std::nullopt, "could not be read: " + tarnby::fs::describeErrno(outcome.error)};
    return Input{std::nullopt,
                 "is larger than " + std::to_string(limit / (1024 * 1024)) + " MiB, more than any scan document takes"};
}

namespace {

Input readScanInput(const std::string& file) {
    if (file == "-") return readAll(STDIN_FILENO, kScanDocumentLimit);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return Input{std::nullopt, "could not be read: " + tarnby::fs::describeErrno(error)};
    }
    Input input = readAll(fd, kScanDocumentLimit);
    ::close(fd);
    return input;
}

// Why `path` cannot serve as a folder argument, or nothing when it can.
std::optional<std::string> folderProblem(const std::string& path, bool mustList) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return std::string("does not exist");
        return "cannot be read: " + tarnby::fs::describeErrno(error);
    }
    if (!S_ISDIR(info.st_mode)) return std::string("is not a folder");
    if (!mustList) return std::nullopt;
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return "cannot be read: " + tarnby::fs::describeErrno(errno);
    ::closedir(folder);
    return std::nullopt;
}

// A scan does not follow links, so a folder argument that is one, or lies behind one, would
// silently find nothing: refuse it, naming where it leads. `what` names the argument, `rule`
// says what is not followed.
bool refuseLink(const std::string& command, const std::string& what, const std::string& rule, const std::string& path,
                std::FILE* err) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    const bool isLink = S_ISLNK(info.st_mode);
    if (!isLink && tarnby::FileInspection::safePath(path)) return false;
    const auto target = tarnby::paths::resolvingSymlinks(path);
    write(err, "quillet " + command + ": the " + what + " " + terminalSafe(path) +
                   (isLink ? " is a symbolic link" : " lies behind a symbolic link") + ", and " + rule +
                   " are not followed through links; " +
                   (target ? "give the folder it points to: " + terminalSafe(*target)
                           : std::string("it points to nothing")) +
                   "\n");
    return true;
}

// A --home given on the command line must be a folder we can read; one line on `err` when not.
bool acceptHome(const std::string& command, const std::optional<std::string>& home, std::FILE* err) {
    if (!home) return true;
    if (refuseLink(command, "home folder", "home folders", *home, err)) return false;
    const auto problem = folderProblem(*home, true);
    if (!problem) return true;
    write(err, "quillet " + command + ": the home folder " + terminalSafe(*home) + " " + *problem + "\n");
    return false;
}

// Roots given on the command line must be folders, named as themselves.
bool acceptRoots(const std::string& command, const std::optional<std::vector<std::string>>& roots, std::FILE* err) {
    if (!roots) return true;
    for (const std::string& root : *roots) {
        if (refuseLink(command, "project folder", "roots", root, err)) return false;
        if (const auto problem = folderProblem(root, false)) {
            write(err, "quillet " + command + ": the project folder " + terminalSafe(root) + " " + *problem + "\n");
            return false;
        }
    }
    return true;
}

bool acceptSetup(const std::string& command, const ScanSetup& setup, std::FILE* err) {
    return acceptHome(command, setup.home, err) && acceptRoots(command, setup.roots, err);
}

// The item a PATH names: as the scan lists it, as the table shows it ("~/…" is the scan's home),
// relative to the working folder, or through a symbolic link that resolves to an item.
const tarnby::StorageItem* findItem(const std::unordered_map<std::string, const tarnby::StorageItem*>& items,
                                    const std::string& path, const std::string& home) {
    auto lookup = [&items](const std::string& candidate) -> const tarnby::StorageItem* {
        const auto found = items.find(candidate);
        return found == items.end() ? nullptr : found->second;
    };
    if (const auto* item = lookup(path)) return item;
    const std::string absolute =
        path.rfind("~/", 0) == 0 ? tarnby::paths::standardized(home + path.substr(1)) : absolutePath(path);
    if (const auto* item = lookup(absolute)) return item;
    if (const auto resolved = tarnby::paths::resolvingSymlinks(absolute)) return lookup(*resolved);
    return nullptr;
}

// Progress on a terminal rewrites one status line; elsewhere each text is a line of its own.
class ProgressLine {
public:
    ProgressLine(std::FILE* stream, bool enabled)
        : m_stream(stream), m_enabled(enabled), m_terminal(enabled && ::isatty(::fileno(stream))) {}
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void show(const std::string& text) {
        if (!m_enabled) return;
        const std::string safe = terminalSafe(text);
        write(m_stream, m_terminal ? "\r\033[2K" + safe : safe + "\n");
        std::fflush(m_stream);
        m_dirty = m_terminal;
    }

    void clear() {
        if (!m_dirty) return;
        write(m_stream, "\r\033[2K");
        std::fflush(m_stream);
        m_dirty = false;
    }

private:
    std::FILE* m_stream;
    bool m_enabled;
    bool m_terminal;
    bool m_dirty = false;
};

int runScan(const ScanOptions& options, Output& out, std::FILE* err) {
    if (!acceptSetup("scan", options.setup, err)) return kUsage;
    const std::string home = options.setup.home.value_or(tarnby::fs::currentUserHome());
    const tarnby::SavedPreferences preferences = tarnby::loadPreferences(home);
    const tarnby::ScanConfiguration configuration = tarnby::PlatformLocations::configuration(
        home, options.setup.roots.value_or(preferences.roots), tarnby::UserEnvironment::current());
    if (!tarnby::fs::exists(configuration.home())) {
        write(err, "quillet scan: the home folder " + terminalSafe(configuration.home()) + " does not exist\n");
    }
    const auto inventory = makeInventory(options.setup);

    auto cancellation = std::make_shared<tarnby::ScanCancellation>();
    InterruptCancels interrupt(cancellation);
    ProgressLine progress(err, options.progress.value_or(::isatty(::fileno(err)) != 0));

    std::optional<std::string> inventoryNote;
    const auto devices =
        tarnby::inventoryForScan(*inventory, configuration.devicesRoot(), inventoryNote, *cancellation);
    interrupt.settle();
    // Streamed, each item is a line of its own as soon as it is measured; once the output can
    // take no more, there is no one to scan for.
    const bool streaming = options.output == ScanOutput::jsonStream;
    const auto stream = [&](const tarnby::StorageItem& item) {
        write(out, encodeStreamedItem(item) + "\n");
        if (std::fflush(out.stream) != 0 && out.error == 0) out.error = errno;
        if (std::ferror(out.stream) != 0) cancellation->cancel();
    };
    ScanDocument document;
    document.result = tarnby::Scanner::scan(
        configuration, devices, *cancellation, [&progress](const std::string& text) { progress.show(text); },
        streaming ? tarnby::Scanner::Measured(stream) : tarnby::Scanner::Measured());
    progress.clear();
    if (inventoryNote) document.result.notes.push_back(*inventoryNote);
    document.home = configuration.home();
    document.roots = configuration.roots();
    document.kept = preferences.kept;

    switch (options.output) {
        case ScanOutput::table: write(out, renderTable(document, options.all)); break;
        case ScanOutput::json: write(out, encodeScanDocument(document) + "\n"); break;
        case ScanOutput::jsonStream: write(out, encodeStreamEnd(document) + "\n"); break;
    }
    return document.result.cancelled && interrupt.interrupted() ? kInterrupted : kSuccess;
}

int runSuggest(const SuggestOptions& options, Output& out, std::FILE* err) {
    if (!acceptHome("suggest", options.home, err)) return kUsage;
    const std::string home = options.home.value_or(tarnby::fs::currentUserHome());
    for (const auto& folder : tarnby::ProjectLocations::suggested(home)) write(out, folder + "\n");
    return kSuccess;
}

int runPlan(const PlanOptions& options, Output& out, std::FILE* err) {
    if (!acceptSetup("plan", options.setup, err)) return kUsage;
    const std::string source = options.scanFile == "-" ? "standard input" : options.scanFile;
    const Input input = readScanInput(options.scanFile);
    if (!input.text) {
        write(err, "quillet plan: " + terminalSafe(source) + " " + input.problem + "\n");
        return kUsage;
    }
    ScanDocument document;
    try {
        document = decodeScanDocument(*input.text);
    } catch (const std::exception& error) {
        write(err, "quillet plan: " + terminalSafe(source) +
                       " is not a document from `quillet scan --json`: " + terminalSafe(error.what()) + "\n");
        return kUsage;
    }

    std::unordered_map<std::string, const tarnby::StorageItem*> byPath;
    for (const auto& item : document.result.items) byPath.emplace(item.url, &item);
    std::vector<tarnby::StorageItem> selected;
    for (const std::string& path : options.paths) {
        const tarnby::StorageItem* item = findItem(byPath, path, document.home);
        if (item == nullptr) {
            write(err, "quillet plan: no item of the scan has the path " + terminalSafe(path) + "\n");
            return kUsage;
        }
        selected.push_back(*item);
    }

    const tarnby::ScanConfiguration configuration = tarnby::PlatformLocations::configuration(
        options.setup.home.value_or(document.home), options.setup.roots.value_or(document.roots),
        tarnby::UserEnvironment::current());
    const auto inventory = makeInventory(options.setup);
    const tarnby::CleanupPlan plan =
        tarnby::CleanupPlanner::make(selected, configuration, *inventory, options.acknowledgeSimulatorRisk);
    const std::string json = plan.json();
    write(out, json + "\n");
    for (const auto& line : plan.kept) write(err, terminalSafe(line) + "\n");
    if (!plan.items.empty() && json == "[]") {
        // JSON text cannot carry a path that is not UTF-8; an empty plan must not pass for success.
        write(err, "quillet plan: the plan could not be written as JSON text (a path or title is not valid UTF-8)\n");
        return kFailure;
    }
    return kSuccess;
}

// Output that did not reach its destination (a full disk, a closed terminal) is a failure.
bool outputWritten(const Output& out, std::FILE* err) {
    errno = 0;
    const bool flushed = std::fflush(out.stream) == 0;
    const int flushError = flushed ? 0 : errno;
    if (flushed && std::ferror(out.stream) == 0) return true;
    const int error = out.error != 0 ? out.error : flushError;
    write(err, "quillet: the output could not be written" +
                   (error == 0 ? std::string() : ": " + tarnby::fs::describeErrno(error)) + "\n");
    return false;
}

int dispatch(const std::vector<std::string>& arguments, Output& out, std::FILE* err) {
    Invocation invocation;
    try {
        invocation = parseArguments(arguments);
    } catch (const UsageError& error) {
        write(err, terminalSafe(error.what()) + "\n");
        return kUsage;
    }
    switch (invocation.command) {
        case Command::usage: write(err, usageText()); return kUsage;
        case Command::help: write(out, helpText(invocation.helpTopic)); return kSuccess;
        case Command::version: write(out, versionText()); return kSuccess;
        case Command::scan: return runScan(invocation.scan, out, err);
        case Command::suggest: return runSuggest(invocation.suggest, out, err);
        case Command::plan: return runPlan(invocation.plan, out, err);
    }
    return kUsage;
}

}  // namespace

int runCommandLine(const std::vector<std::string>& arguments, std::FILE* stream, std::FILE* err) {
    int status = kFailure;
    Output out{stream};
    try {
        status = dispatch(arguments, out, err);
    } catch (const std::bad_alloc&) {
        write(err, "quillet: there was not enough memory to finish. Nothing was changed.\n");
    } catch (const std::exception& error) {
        // A thread or a descriptor the system would not give; the core itself does not throw.
        write(err, "quillet: could not finish: " + terminalSafe(error.what()) + ". Nothing was changed.\n");
    }
    return outputWritten(out, err) ? status : kFailure;
}

int run(int argc, char** argv) {
    prepareProcess();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return runCommandLine(arguments, stdout, stderr);
}

}  // namespace quillet::cli
