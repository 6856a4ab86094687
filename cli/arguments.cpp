#include "cli/arguments.h"

#include <unistd.h>

#include <climits>
#include <string_view>

#include "core/platform/paths.h"

namespace quillet::cli {

namespace {

// Walks the arguments of one subcommand, accepting "--name value" and "--name=value".
class Reader {
public:
    Reader(const std::vector<std::string>& arguments, std::string command)
        : m_arguments(arguments), m_command(std::move(command)) {}

    bool next() {
        if (++m_index >= m_arguments.size()) return false;
        const std::string& current = m_arguments[m_index];
        m_inlineValue.reset();
        m_name = current;
        if (current.rfind("--", 0) == 0) {
            if (const auto equals = current.find('='); equals != std::string::npos) {
                m_name = current.substr(0, equals);
                m_inlineValue = current.substr(equals + 1);
            }
        }
        return true;
    }

    const std::string& name() const { return m_name; }
    bool isOption() const { return m_name.size() > 1 && m_name.front() == '-' && !m_afterSeparator; }
    bool isSeparator() const { return m_name == "--" && !m_afterSeparator; }
    void enterOperands() { m_afterSeparator = true; }

    std::string value() {
        if (m_inlineValue) return *m_inlineValue;
        if (m_index + 1 >= m_arguments.size()) {
            throw UsageError("quillet " + m_command + ": " + m_name + " needs a value");
        }
        return m_arguments[++m_index];
    }

    void refuseValue() const {
        if (m_inlineValue) throw UsageError("quillet " + m_command + ": " + m_name + " takes no value");
    }

    [[noreturn]] void unknown() const {
        throw UsageError("quillet " + m_command + ": unknown option " + m_name + " (see quillet --help)");
    }

private:
    const std::vector<std::string>& m_arguments;
    std::string m_command;
    std::size_t m_index = 0;
    std::string m_name;
    std::optional<std::string> m_inlineValue;
    bool m_afterSeparator = false;
};

// Options shared by scan and plan; false when `reader` holds none of them.
bool readSetupOption(Reader& reader, ScanSetup& setup, bool& noRoots, bool& anyInventoryChoice) {
    const std::string& name = reader.name();
    if (name == "--home") {
        setup.home = absolutePath(reader.value());
    } else if (name == "--root") {
        if (!setup.roots) setup.roots.emplace();
        setup.roots->push_back(absolutePath(reader.value()));
    } else if (name == "--no-roots") {
        reader.refuseValue();
        noRoots = true;
    } else if (name == "--simulators" || name == "--no-simulators") {
        if (anyInventoryChoice) {
            throw UsageError("quillet: choose one of --simulators FILE and --no-simulators");
        }
        anyInventoryChoice = true;
        if (name == "--simulators") {
            setup.inventory = InventorySource::file;
            setup.inventoryFile = reader.value();
        } else {
            reader.refuseValue();
            setup.inventory = InventorySource::none;
        }
    } else {
        return false;
    }
    return true;
}

void finishRoots(ScanSetup& setup, bool noRoots) {
    if (!noRoots) return;
    if (setup.roots && !setup.roots->empty()) {
        throw UsageError("quillet: --no-roots cannot be combined with --root");
    }
    setup.roots.emplace();
}

ScanOptions parseScan(const std::vector<std::string>& arguments) {
    ScanOptions options;
    Reader reader(arguments, "scan");
    bool noRoots = false;
    bool inventoryChosen = false;
    while (reader.next()) {
        if (!reader.isOption()) {
            throw UsageError("quillet scan: unexpected argument " + reader.name() + " (folders go after --root)");
        }
        if (readSetupOption(reader, options.setup, noRoots, inventoryChosen)) continue;
        const std::string& name = reader.name();
        if (name == "--json") {
            reader.refuseValue();
            options.json = true;
        } else if (name == "--all") {
            reader.refuseValue();
            options.all = true;
        } else if (name == "--progress") {
            reader.refuseValue();
            options.progress = true;
        } else if (name == "--no-progress") {
            reader.refuseValue();
            options.progress = false;
        } else {
            reader.unknown();
        }
    }
    finishRoots(options.setup, noRoots);
    return options;
}

SuggestOptions parseSuggest(const std::vector<std::string>& arguments) {
    SuggestOptions options;
    Reader reader(arguments, "suggest");
    while (reader.next()) {
        if (reader.isOption() && reader.name() == "--home") {
            options.home = absolutePath(reader.value());
        } else if (reader.isOption()) {
            reader.unknown();
        } else {
            throw UsageError("quillet suggest: unexpected argument " + reader.name());
        }
    }
    return options;
}

PlanOptions parsePlan(const std::vector<std::string>& arguments) {
    PlanOptions options;
    Reader reader(arguments, "plan");
    bool noRoots = false;
    bool inventoryChosen = false;
    bool scanGiven = false;
    while (reader.next()) {
        if (reader.isSeparator()) {
            reader.enterOperands();
            continue;
        }
        if (!reader.isOption() || reader.name() == "-") {
            options.paths.push_back(reader.name());
            continue;
        }
        if (readSetupOption(reader, options.setup, noRoots, inventoryChosen)) continue;
        const std::string& name = reader.name();
        if (name == "--scan") {
            options.scanFile = reader.value();
            scanGiven = true;
        } else if (name == "--acknowledge-simulator-risk") {
            reader.refuseValue();
            options.acknowledgeSimulatorRisk = true;
        } else {
            reader.unknown();
        }
    }
    finishRoots(options.setup, noRoots);
    if (!scanGiven) throw UsageError("quillet plan: --scan FILE is required (\"-\" reads standard input)");
    if (options.paths.empty()) throw UsageError("quillet plan: name at least one item PATH to plan");
    return options;
}

}  // namespace

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return tarnby::paths::standardized(path);
    std::string base = "/";
    if (char* cwd = ::getcwd(nullptr, 0)) {
        base = cwd;
        ::free(cwd);
    }
    return tarnby::paths::standardized(tarnby::paths::appending(base, path));
}

Invocation parseArguments(const std::vector<std::string>& arguments) {
    Invocation invocation;
    if (arguments.empty()) return invocation;
    const std::string& command = arguments.front();
    const std::vector<std::string> rest(arguments.begin(), arguments.end());
    if (command == "-h" || command == "--help" || command == "help") {
        invocation.command = Command::help;
    } else if (command == "scan") {
        invocation.command = Command::scan;
        invocation.scan = parseScan(rest);
    } else if (command == "suggest") {
        invocation.command = Command::suggest;
        invocation.suggest = parseSuggest(rest);
    } else if (command == "plan") {
        invocation.command = Command::plan;
        invocation.plan = parsePlan(rest);
    } else {
        throw UsageError("quillet: unknown command " + command + " (try scan, plan or suggest)");
    }
    return invocation;
}

std::string usageText() {
    return "Quillet finds reclaimable developer storage under your home folder.\n"
           "It reads metadata only: nothing is moved, deleted or sent anywhere.\n"
           "\n"
           "usage:\n"
           "  quillet scan [--home DIR] [--root DIR]... [--no-roots]\n"
           "               [--simulators FILE | --no-simulators] [--json] [--all] [--progress]\n"
           "  quillet plan --scan FILE [--home DIR] [--root DIR]... [--no-roots]\n"
           "               [--simulators FILE | --no-simulators]\n"
           "               [--acknowledge-simulator-risk] PATH...\n"
           "  quillet suggest [--home DIR]\n"
           "\n"
           "  scan      list what can be reclaimed, largest first, with notes\n"
           "  plan      re-check items of a `quillet scan --json` document (FILE, or - for\n"
           "            standard input) and print a preview cleanup plan as JSON\n"
           "  suggest   print the project folders Quillet would look through\n"
           "\n"
           "  --home DIR         the home folder (default: yours)\n"
           "  --root DIR         a project folder to walk (repeatable); replaces the saved ones\n"
           "  --no-roots         walk no project folders\n"
           "  --simulators FILE  read the device list from FILE (simctl list devices --json)\n"
           "  --no-simulators    do not ask for simulators; their cleanup stays disabled\n"
           "  --json             print one JSON document instead of a table\n"
           "  --all              also list kept items\n"
           "  --progress         report progress on standard error (default on a terminal)\n";
}

}  // namespace quillet::cli
