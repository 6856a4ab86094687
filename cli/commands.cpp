#include "cli/commands.h"

#include <unistd.h>

#include <cerrno>

#include <memory>
#include <optional>
#include <sstream>

#include "core/preferences/saved_preferences.h"
#include "cli/arguments.h"
#include "cli/interrupt.h"
#include "cli/inventory_sources.h"
#include "cli/scan_document.h"
#include "cli/table.h"
#include "core/planning/cleanup_planner.h"
#include "core/platform/file_system.h"
#include "core/records/storage_error.h"
#include "core/scanning/platform_locations.h"
#include "core/scanning/project_locations.h"
#include "core/scanning/scanner.h"

namespace quillet::cli {

namespace {

void write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
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

int runScan(const ScanOptions& options, std::FILE* out, std::FILE* err) {
    const std::string home = options.setup.home.value_or(tarnby::fs::currentUserHome());
    const SavedPreferences preferences = loadPreferences(home);
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
    const auto devices = tarnby::inventoryForScan(*inventory, configuration.devicesRoot(), inventoryNote);
    ScanDocument document;
    document.result = tarnby::Scanner::scan(configuration, devices, *cancellation,
                                            [&progress](const std::string& text) { progress.show(text); });
    progress.clear();
    if (inventoryNote) document.result.notes.push_back(*inventoryNote);
    document.home = configuration.home();
    document.roots = configuration.roots();
    document.kept = preferences.kept;

    write(out, options.json ? encodeScanDocument(document) + "\n" : renderTable(document, options.all));
    std::fflush(out);
    return document.result.cancelled && interrupt.interrupted() ? kInterrupted : kSuccess;
}

int runSuggest(const SuggestOptions& options, std::FILE* out) {
    const std::string home = options.home.value_or(tarnby::fs::currentUserHome());
    for (const auto& folder : tarnby::ProjectLocations::suggested(home)) write(out, folder + "\n");
    return kSuccess;
}

int runPlan(const PlanOptions& options, std::FILE* out, std::FILE* err) {
    const std::string source = options.scanFile == "-" ? "standard input" : options.scanFile;
    const auto text = tarnby::fs::readFile(options.scanFile == "-" ? "/dev/stdin" : options.scanFile);
    if (!text) {
        write(err, "quillet plan: cannot read " + terminalSafe(source) + ": " + tarnby::fs::describeErrno(errno) + "\n");
        return kUsage;
    }
    ScanDocument document;
    try {
        document = decodeScanDocument(*text);
    } catch (const std::exception& error) {
        write(err, "quillet plan: " + terminalSafe(source) + " is not a document from `quillet scan --json`: " +
                       terminalSafe(error.what()) + "\n");
        return kUsage;
    }

    std::vector<tarnby::StorageItem> selected;
    for (const std::string& path : options.paths) {
        auto matches = [&](const std::string& candidate) {
            for (const auto& item : document.result.items) {
                if (item.url == candidate) return &item;
            }
            return static_cast<const tarnby::StorageItem*>(nullptr);
        };
        const tarnby::StorageItem* item = matches(path);
        if (item == nullptr) item = matches(absolutePath(path));
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
    std::fflush(out);
    for (const auto& line : plan.kept) write(err, terminalSafe(line) + "\n");
    if (!plan.items.empty() && json == "[]") {
        // JSON text cannot carry a path that is not UTF-8; an empty plan must not pass for success.
        write(err, "quillet plan: the plan could not be written as JSON text (a path or title is not valid UTF-8)\n");
        return kFailure;
    }
    return kSuccess;
}

}  // namespace

int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
    Invocation invocation;
    try {
        invocation = parseArguments(arguments);
    } catch (const UsageError& error) {
        write(err, terminalSafe(error.what()) + "\n");
        return kUsage;
    }
    switch (invocation.command) {
        case Command::usage:
        case Command::help: write(out, usageText()); return kSuccess;
        case Command::scan: return runScan(invocation.scan, out, err);
        case Command::suggest: return runSuggest(invocation.suggest, out);
        case Command::plan: return runPlan(invocation.plan, out, err);
    }
    return kUsage;
}

}  // namespace quillet::cli
