#include "cli/arguments.h"

#include <unistd.h>

#include <climits>
#include <string_view>

#include "cli/recognised_text.h"
#include "core/platform/paths.h"

namespace quillet::cli {

namespace {

// Walks the arguments of one subcommand, accepting "--name value" and "--name=value".
class Reader {
public:
    Reader(const std::vector<std::string>& arguments, std::string command)
        : m_arguments(arguments), m_command(std::move(command)) {}

    // Moves to the next argument; a first "--" is consumed and makes everything after it an operand.
    bool next() {
        if (++m_index >= m_arguments.size()) return false;
        if (m_arguments[m_index] == "--" && !m_afterSeparator) {
            m_afterSeparator = true;
            if (++m_index >= m_arguments.size()) return false;
        }
        const std::string& current = m_arguments[m_index];
        m_inlineValue.reset();
        m_name = current;
        if (current.rfind("--", 0) == 0 && !m_afterSeparator) {
            if (const auto equals = current.find('='); equals != std::string::npos) {
                m_name = current.substr(0, equals);
                m_inlineValue = current.substr(equals + 1);
            }
        }
        return true;
    }

    const std::string& name() const { return m_name; }
    bool isOption() const { return m_name.size() > 1 && m_name.front() == '-' && !m_afterSeparator; }

    // An empty value is refused: an unset variable in a script would otherwise name the
    // working folder.
    std::string value() {
        if (!m_inlineValue && m_index + 1 >= m_arguments.size()) {
            throw UsageError("quillet " + m_command + ": " + m_name + " needs a value");
        }
        std::string value = m_inlineValue ? *m_inlineValue : m_arguments[++m_index];
        if (value.empty())
            throw UsageError("quillet " + m_command + ": " + m_name + " needs a value, not an empty one");
        return value;
    }

    void refuseValue() const {
        if (m_inlineValue) throw UsageError("quillet " + m_command + ": " + m_name + " takes no value");
    }

    [[noreturn]] void unknown() const {
        throw UsageError("quillet " + m_command + ": unknown option " + m_name + " (see quillet " + m_command +
                         " --help)");
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
        if (name == "--json" || name == "--json-stream") {
            reader.refuseValue();
            const ScanOutput output = name == "--json" ? ScanOutput::json : ScanOutput::jsonStream;
            if (options.output != ScanOutput::table && options.output != output) {
                throw UsageError("quillet scan: choose one of --json and --json-stream");
            }
            options.output = output;
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
        if (!reader.isOption() || reader.name() == "-") {
            if (reader.name().empty()) throw UsageError("quillet plan: an item PATH cannot be empty");
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

namespace {

bool isSubcommand(const std::string& name) { return name == "scan" || name == "plan" || name == "suggest"; }

// "--help" or "-h" anywhere before a "--" asks for the subcommand's help, whatever else is given.
bool asksForHelp(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--") return false;
        if (arguments[i] == "--help" || arguments[i] == "-h") return true;
    }
    return false;
}

constexpr const char* kExitStatus =
    "exit status:\n"
    "  0    success\n"
    "  1    a runtime failure (e.g. the output could not be written)\n"
    "  2    bad input: an unknown option, a missing or unusable folder or file\n"
    "  130  interrupted with Ctrl-C (a scan prints what it found so far)\n";

constexpr const char* kScanHelp =
    "usage: quillet scan [--home DIR] [--root DIR]... [--no-roots]\n"
    "                    [--simulators FILE | --no-simulators] [--json | --json-stream] [--all]\n"
    "                    [--progress]\n"
    "\n"
    "List what can be reclaimed, largest first, with notes. Items you keep in the window are\n"
    "hidden unless --all is given.\n"
    "\n"
    "  --home DIR         the home folder (default: yours), not a symbolic link\n"
    "  --root DIR         a project folder to walk (repeatable); replaces the saved ones.\n"
    "                     Give the folder itself: roots are not followed through links\n"
    "  --no-roots         walk no project folders\n"
    "  --simulators FILE  read the device list from FILE (simctl list devices --json)\n"
    "  --no-simulators    do not ask for simulators; their cleanup stays disabled\n"
    "  --json             print one JSON document (the input of quillet plan) instead of a table\n"
    "  --json-stream      print each item as one line of JSON as soon as it is measured (the\n"
    "                     object --json lists), in the order found, then one last line with\n"
    "                     home, roots, kept, cancelled and notes; a stop still ends with it\n"
    "  --all              also list kept items\n"
    "  --progress         report progress on standard error (default on a terminal)\n"
    "  --no-progress      do not report progress\n";

constexpr const char* kPlanHelp =
    "usage: quillet plan --scan FILE [--home DIR] [--root DIR]... [--no-roots]\n"
    "                    [--simulators FILE | --no-simulators]\n"
    "                    [--acknowledge-simulator-risk] [--] PATH...\n"
    "\n"
    "Re-check items of a `quillet scan --json` document and print a preview cleanup plan as\n"
    "JSON. Nothing is moved or deleted. An item that changed since the scan is left out, with the\n"
    "reason on standard error.\n"
    "\n"
    "  --scan FILE        the scan document; - reads standard input\n"
    "  --home DIR         the home folder (default: the scan's)\n"
    "  --root DIR         a project folder (repeatable; default: the scan's)\n"
    "  --no-roots         no project folders\n"
    "  --simulators FILE  read the device list from FILE (simctl list devices --json)\n"
    "  --no-simulators    do not ask for simulators; their items stay out of the plan\n"
    "  --acknowledge-simulator-risk\n"
    "                     plan simulator devices too\n"
    "  PATH               an item's path as the scan lists it; ~/ means the scan's home,\n"
    "                     and a path through a symbolic link names the item it resolves to\n";

constexpr const char* kSuggestHelp =
    "usage: quillet suggest [--home DIR]\n"
    "\n"
    "Print the project folders Quillet would look through when none are saved.\n"
    "\n"
    "  --home DIR         the home folder (default: yours), not a symbolic link\n";

}  // namespace

Invocation parseArguments(const std::vector<std::string>& arguments) {
    Invocation invocation;
    if (arguments.empty()) return invocation;
    const std::string& command = arguments.front();
    const std::vector<std::string> rest(arguments.begin(), arguments.end());
    if (command == "-h" || command == "--help" || command == "help") {
        invocation.command = Command::help;
        if (command == "help" && arguments.size() > 1) {
            if (arguments.size() > 2 || !isSubcommand(arguments[1])) {
                throw UsageError("quillet help: no help for " + arguments[1] + " (try scan, plan or suggest)");
            }
            invocation.helpTopic = arguments[1];
        }
    } else if (command == "--version") {
        invocation.command = Command::version;
    } else if (isSubcommand(command) && asksForHelp(arguments)) {
        invocation.command = Command::help;
        invocation.helpTopic = command;
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
        throw UsageError("quillet: unknown command " + command + " (try quillet help)");
    }
    return invocation;
}

std::string usageText() {
    return "usage:\n"
           "  quillet scan [--home DIR] [--root DIR]... [--no-roots]\n"
           "               [--simulators FILE | --no-simulators] [--json | --json-stream] [--all]\n"
           "               [--progress]\n"
           "  quillet plan --scan FILE [--home DIR] [--root DIR]... [--no-roots]\n"
           "               [--simulators FILE | --no-simulators]\n"
           "               [--acknowledge-simulator-risk] [--] PATH...\n"
           "  quillet suggest [--home DIR]\n"
           "  quillet help [SUBCOMMAND] | SUBCOMMAND --help | --version\n";
}

std::string helpText(const std::string& command) {
    if (command == "scan") return std::string(kScanHelp) + "\n" + recognisedText() + "\n" + kExitStatus;
    if (command == "plan") return std::string(kPlanHelp) + "\n" + kExitStatus;
    if (command == "suggest") return std::string(kSuggestHelp) + "\n" + kExitStatus;
    return "Quillet finds reclaimable developer storage under your home folder.\n"
           "It reads metadata only: nothing is moved, deleted or sent anywhere.\n"
           "\n" +
           usageText() +
           "\n"
           "  scan      list what can be reclaimed, largest first, with notes\n"
           "  plan      re-check items of a `quillet scan --json` document and print a preview\n"
           "            cleanup plan as JSON\n"
           "  suggest   print the project folders Quillet would look through\n"
           "  help      this text, or a subcommand's options (also quillet SUBCOMMAND --help)\n"
           "\n" +
           kExitStatus + "\nSee also quillet(1).\n";
}

std::string versionText() { return std::string("quillet ") + QUILLET_VERSION + "\n"; }

}  // namespace quillet::cli
