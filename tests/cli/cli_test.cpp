// The real `quillet` executable, run in a child process as a user would run it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/scan_document.h"
#include "core/platform/file_system.h"
#include "core/preferences/saved_preferences.h"
#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace quillet::cli {
namespace {

using tarnby::testing::TempTree;
using Json = nlohmann::json;
using Arguments = std::vector<std::string>;
constexpr auto npos = std::string::npos;

struct Outcome {
    int status = -1;  // or 128 and the signal that ended it
    std::string out, err;
};

struct Wiring {
    int inputFd = -1;          // instead of a file holding the input text
    std::string outPath = {};  // instead of a file that is read back
    uid_t user = static_cast<uid_t>(-1);
    std::map<std::string, std::string> environment = {};  // changes to the child's environment only
    std::string workingFolder = {};
    rlim_t openFiles = RLIM_INFINITY;  // soft and hard limits, so it cannot raise them again
    rlim_t addressSpace = RLIM_INFINITY;
    std::function<void(pid_t)> whileRunning = {};  // given the child's pid
};

// Runs quillet with `arguments` and `input` on standard input; its streams go through files in `scratch`.
Outcome quillet(const TempTree& scratch, Arguments arguments, const std::string& input = {},
                const Wiring& wiring = {}) {
    static int counter = 0;
    const std::string base = scratch.path("run" + std::to_string(++counter));
    const std::string in = scratch.writeFile("run" + std::to_string(counter) + ".in", input);
    const std::string outPath = wiring.outPath.empty() ? base + ".out" : wiring.outPath;
    arguments.insert(arguments.begin(), QUILLET_EXECUTABLE);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {  // the test process runs no other thread, so the environment may be changed here
        for (const auto& [name, value] : wiring.environment) ::setenv(name.c_str(), value.c_str(), 1);
        ::dup2(wiring.inputFd >= 0 ? wiring.inputFd : ::open(in.c_str(), O_RDONLY), 0);
        ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
        const rlimit files{wiring.openFiles, wiring.openFiles}, memory{wiring.addressSpace, wiring.addressSpace};
        if ((!wiring.workingFolder.empty() && ::chdir(wiring.workingFolder.c_str()) != 0) ||
            (wiring.user != static_cast<uid_t>(-1) && (::setgid(wiring.user) != 0 || ::setuid(wiring.user) != 0)) ||
            (wiring.openFiles != RLIM_INFINITY && ::setrlimit(RLIMIT_NOFILE, &files) != 0) ||
            (wiring.addressSpace != RLIM_INFINITY && ::setrlimit(RLIMIT_AS, &memory) != 0)) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (wiring.whileRunning) wiring.whileRunning(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            wiring.outPath.empty() ? tarnby::fs::readFile(base + ".out").value_or("") : "",
            tarnby::fs::readFile(base + ".err").value_or("")};
}

// A project with node_modules and .next, and an npm cache sharing a file with node_modules through
// a hard link. Runs start in an empty working and temporary folder; their streams stay outside the home.
struct FixtureHome {
    TempTree tree;
    std::string home = tree.makeDir("home");
    std::string project = home + "/Code/site";
    std::string modules = project + "/node_modules";
    Wiring wiring{.environment = {{"TMPDIR", tree.makeDir("tmp")}}, .workingFolder = tree.makeDir("work")};

    FixtureHome() {
        tree.writeFile("home/Code/site/package.json", "{}");
        tree.writeFile("home/Code/site/node_modules/left-pad/index.js", std::string(9000, 'x'));
        tree.writeFile("home/Code/site/.next/cache/a", "x");
        tree.writeFile("home/.npm/_cacache/index", std::string(20000, 'y'));
        tree.hardLink("home/Code/site/node_modules/left-pad/index.js", "home/.npm/_cacache/content/left-pad");
    }

    Outcome run(const Arguments& arguments, const std::string& input = {}) const {
        return quillet(tree, arguments, input, wiring);
    }
    Outcome scan(Arguments more = {"--json"}) const {
        more.insert(more.begin(), {"scan", "--no-simulators", "--home", home, "--root", home + "/Code"});
        return run(more);
    }
};

// Every invocation answers with its text and status 0, or status 2 with one line on standard error
// and nothing on standard output. Each that prints fails with 1 if the output cannot be written.
TEST(CommandLine, AnswersEachInvocationWithItsTextOrOneLineAndStatusTwo) {
    FixtureHome fixture;
    TempTree& tree = fixture.tree;
    const std::string home = fixture.home, code = home + "/Code", missing = tree.path("missing");
    const std::string file = tree.writeFile("file"), corrupt = tree.writeFile("bad", "{\"home\":3}");
    const std::string link = tree.symlink(code, "code-link"), homeLink = tree.symlink(home, "h-link");
    const std::string linked = ", and roots are not followed through links; give the folder it points to: " + code;
    const std::string unknown = "quillet plan: no item of the scan has the path ";
    struct Row {
        Arguments arguments;
        std::string err, out = {};
    };
    const std::vector<Row> rows{
        // Without arguments `quillet` is the window; a subcommand's help wins over the rest of the line.
        {{"help"}, "", helpText()},
        {{"-h"}, "", helpText()},
        {{"plan", "--bogus", "--help"}, "", helpText("plan")},
        {{"help", "plan"}, "", helpText("plan")},
        {{"suggest", "-h"}, "", helpText("suggest")},
        {{"--version"}, "", "quillet " QUILLET_VERSION "\n"},
        {{"scan", "--json", "--no-simulators", "--home", home}, "", "?"},  // "?…": any text holding "…"
        {{"help", "scan"}, "", "?\n  Yarn cache              Linux: ~/.cache/yarn\n"},
        {{"scan", "--no-simulators", "--home", home}, "", "?"},
        {{"plan", "--scan", "-", "--no-simulators", fixture.modules}, "", "?"},
        {{"suggest", "--home", home}, "", code + "\n"},
        {{"frobnicate"}, "quillet: unknown command frobnicate (try quillet help)"},
        {{"scan", "--bogus"}, "quillet scan: unknown option --bogus (see quillet scan --help)"},
        {{"scan", "--home"}, "quillet scan: --home needs a value"},
        {{"scan", "--home="}, "quillet scan: --home needs a value, not an empty one"},
        {{"scan", "--json=yes"}, "quillet scan: --json takes no value"},
        {{"scan", "--json", "--json-stream"}, "quillet scan: choose one of --json and --json-stream"},
        {{"scan", "--simulators", "f", "--no-simulators"},
         "quillet: choose one of --simulators FILE and --no-simulators"},
        {{"scan", "--root", "/x", "--no-roots"}, "quillet: --no-roots cannot be combined with --root"},
        {{"scan", "--", "--json"}, "quillet scan: unexpected argument --json (folders go after --root)"},
        {{"suggest", "x"}, "quillet suggest: unexpected argument x"},
        {{"help", "frob"}, "quillet help: no help for frob (try scan, plan or suggest)"},
        {{"plan", "/x"}, "quillet plan: --scan FILE is required (\"-\" reads standard input)"},
        {{"plan", "--scan", "-"}, "quillet plan: name at least one item PATH to plan"},
        {{"plan", "--scan", "-", ""}, "quillet plan: an item PATH cannot be empty"},
        {{"plan", "--scan", missing, "/x"},
         "quillet plan: " + missing + " could not be read: No such file or directory"},
        {{"plan", "--scan", corrupt, "/x"},
         "quillet plan: " + corrupt + " is not a document from `quillet scan --json`: \"home\" is not a string"},
        // "~" is the scan's home, not a folder of that name in the working folder; after "--" all are paths.
        {{"plan", "--scan", "-", home + "/nothing"}, unknown + home + "/nothing"},
        {{"plan", "--scan", "-", "~x/Code/site/node_modules"}, unknown + "~x/Code/site/node_modules"},
        {{"plan", "--scan", "-", "--", "--x=y", "--no-simulators"}, unknown + "--x=y"},
        // Refused before scanning: a missing root is a mistake, not an empty result, and a linked home would find
        // nothing.
        {{"scan", "--home", missing}, "quillet scan: the home folder " + missing + " does not exist"},
        {{"suggest", "--home", file}, "quillet suggest: the home folder " + file + " is not a folder"},
        {{"plan", "--scan", "-", "--home", homeLink, "~/x"},
         "quillet plan: the home folder " + homeLink +
             " is a symbolic link, and home folders are not followed through links; give the folder it points to: " +
             home},
        {{"scan", "--home", home, "--root", code, "--root", missing},
         "quillet scan: the project folder " + missing + " does not exist"},
        {{"scan", "--home", home, "--root", link},
         "quillet scan: the project folder " + link + " is a symbolic link" + linked},
        {{"scan", "--home", home, "--root", homeLink + "/Code"},
         "quillet scan: the project folder " + homeLink + "/Code lies behind a symbolic link" + linked}};
    const std::string document = fixture.scan().out;
    Wiring full = fixture.wiring;
    full.outPath = "/dev/full";
    for (const auto& [arguments, err, out] : rows) {
        SCOPED_TRACE(arguments.back());
        const Outcome run = fixture.run(arguments, document);
        EXPECT_EQ(run.status, err.empty() ? 0 : 2);
        EXPECT_EQ(run.out, out.starts_with("?") && run.out.find(out.substr(1)) != npos ? run.out : out);
        EXPECT_EQ(run.err, err.empty() ? "" : err + "\n");
        if (!err.empty()) continue;
        const Outcome unwritten = quillet(tree, arguments, document, full);
        EXPECT_EQ(unwritten.status, 1);
        EXPECT_EQ(unwritten.err, "quillet: the output could not be written: No space left on device\n");
    }
    const std::string locked = tree.makeDir("locked");
    ::chmod(locked.c_str(), 0);
    const Wiring asNobody{.user = static_cast<uid_t>(::geteuid() == 0 ? 65534 : -1)};  // root could read it anyway
    const Outcome run = quillet(tree, {"suggest", "--home", locked}, {}, asNobody);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "quillet suggest: the home folder " + locked + " cannot be read: Permission denied\n");
}

// `scan --json` lists every item the core found with all it measured, and reads back the same.
TEST(CommandLine, ScanJsonIsTheWholeScanAndReadsBackTheSame) {
    FixtureHome fixture;
    const Outcome run = fixture.scan({"--json", "--root", "/"});
    ASSERT_EQ(run.status, 0) << run.err;
    Json document = Json::parse(run.out), again = Json::parse(encodeScanDocument(decodeScanDocument(run.out)));
    for (std::size_t i = 0; i < document["items"].size(); ++i) {  // read back, the same to the microsecond
        Json &was = document["items"][i], &is = again["items"][i];
        EXPECT_NEAR(is["modified"].get<double>(), was["modified"].get<double>(), 1e-6);
        is["modified"] = was["modified"];
    }
    EXPECT_EQ(again, document);
    const Json modules = document["items"][1];  // every key; the link to the cache's file frees nothing
    EXPECT_TRUE(modules.size() == 16 && modules["files"] == 1 && modules["freedBytes"] < modules["bytes"]) << modules;
    for (Json& item : document["items"]) item = Json::array({item["path"], item["kind"], item["title"]});
    EXPECT_EQ(document, Json({{"home", fixture.home},
                              {"roots", Json::array({fixture.home + "/Code", "/"})},
                              {"kept", Json::array()},
                              {"cancelled", false},
                              {"notes", Json::array({"Choose a project folder instead of a system location: /",
                                                     "Simulator inventory unavailable. Simulator cleanup is disabled. "
                                                     "The simulator tool was not asked (--no-simulators)."})},
                              {"items", Json::array({{fixture.home + "/.npm/_cacache", "caches", "_cacache"},
                                                     {fixture.modules, "dependencies", "site / node_modules"},
                                                     {fixture.project + "/.next", "builds", "site / .next"}})}}));
}

// The table shows the home as "~", hides kept items but counts them, says what cleaning frees and
// escapes names that could restyle the terminal; the JSON stays valid and still names them exactly.
TEST(CommandLine, TableAndJsonShowNamesOfAnyBytesSafelyAndKeptItemsAsKept) {
    FixtureHome fixture;
    ASSERT_FALSE(tarnby::savePreferences(fixture.home, {{fixture.home + "/Code"}, {fixture.project + "/.next"}}));
    // CSI as one C1 character, right-to-left override, left-to-right isolate and its pop, a
    // right-to-left mark, the Arabic letter mark, a line separator and a lone invalid byte.
    const std::vector<std::string> raw{"\xC2\x9B",     "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA9",
                                       "\xE2\x80\x8F", "\xD8\x9C",     "\xE2\x80\xA8", "\xFF"};
    std::string name = "a\n";
    for (const std::string& character : raw) name += character;
    const std::string project = "home/Code/" + name + "é", longName(255, 'n');
    fixture.tree.writeFile(project + "/package.json", "{}");
    for (const std::string child : {"line\nbreak", "\xff\xfe invalid", longName.c_str()}) {
        fixture.tree.writeFile(project + "/node_modules/" + child, child);
    }
    Arguments scan{"scan", "--no-simulators", "--home", fixture.home};
    const Outcome table = fixture.run(scan);
    ASSERT_EQ(table.status, 0) << table.err;
    // The listed items hold the shared file; cleaning them all frees it once.
    for (const std::string part :
         {"  site / node_modules  ", "  ~/.npm/_cacache\n", "in 3 items (1 kept item hidden",
          "  ~/Code/a\\n\\u009b\\u202e\\u2066\\u2069\\u200f\\u061c\\u2028\\xffé/node_modules\n",
          "\nCleaning them all would free ", "\n  Simulator inventory unavailable."}) {
        EXPECT_NE(table.out.find(part), npos) << part << " in\n" << table.out;
    }
    EXPECT_EQ(table.out.find("~/Code/site/.next"), npos);  // kept, so hidden
    for (const std::string& character : raw) EXPECT_EQ(table.out.find(character), npos);
    scan.push_back("--all");
    EXPECT_NE(fixture.run(scan).out.find("  ~/Code/site/.next  [kept]\n"), npos);

    scan.back() = "--json";
    const Outcome json = fixture.run(scan);
    const Json document = Json::parse(json.out);  // valid UTF-8 throughout; saved roots replace suggestions
    EXPECT_EQ(Json({document["roots"], document["kept"]}),
              Json({{fixture.home + "/Code"}, {fixture.project + "/.next"}}));
    // Planning finds the item by its exact path, but a plan's JSON cannot hold it: a failure, not "[]".
    const std::string exact = fixture.tree.path(project + "/node_modules");
    const Outcome plan = fixture.run({"plan", "--scan", "-", "--no-simulators", exact}, json.out);
    EXPECT_EQ(plan.status, 1);
    EXPECT_NE(plan.err.find("could not be written as JSON text"), npos) << plan.err;
}

TEST(CommandLine, PlanFromAScanOnStandardInputGivesTheExactPlanText) {
    FixtureHome fixture;
    const std::string scan = fixture.scan().out, &modules = fixture.modules;
    const Json document = Json::parse(scan);
    // The same item twice: as the scan lists it, and as the table shows it.
    const Arguments plan{"plan", "--scan", "-", "--no-simulators", modules, "~/Code/site/node_modules"};
    const Outcome run = fixture.run(plan, scan);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json element = {{"estimatedBytes", document["items"][1]["bytes"]},
                          {"operation", "moveFolderToTrash"},
                          {"path", modules},
                          {"title", "site / node_modules"}};  // its text is the planner's
    EXPECT_EQ(Json::parse(run.out), Json::array({element, element}));
    EXPECT_TRUE(run.out.starts_with("[\n  {\n") && run.out.ends_with("\n]\n") && run.err.empty()) << run.out << run.err;
    Json older = document;  // from before items said what they free and hold
    for (auto& item : older["items"]) item.erase("freedBytes"), item.erase("largest");
    EXPECT_EQ(fixture.run(plan, older.dump()).out, run.out);
    // Standard input as given, not reopened by name: a socket cannot be (nor can another user's pipe, as into sudo -u).
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ASSERT_EQ(::write(fds[1], scan.data(), scan.size()), static_cast<ssize_t>(scan.size()));
    ::close(fds[1]);
    EXPECT_EQ(quillet(fixture.tree, plan, {}, {.inputFd = fds[0]}).out, run.out);
    ::close(fds[0]);
    // More than the cap is refused as such, whatever errno held before.
    const int fd = ::open(fixture.tree.writeFile("big", std::string(1024 * 1024 + 1, ' ')).c_str(), O_RDONLY);
    errno = ENOENT;
    const Input input = readAll(fd, 1024 * 1024);
    ::close(fd);
    EXPECT_TRUE(!input.text && input.problem.starts_with("is larger than 1 MiB")) << input.problem;
    const std::string link = fixture.tree.symlink(fixture.home + "/Code", "code-link") + "/site/.next";
    EXPECT_EQ(Json::parse(fixture.run({"plan", "--scan", "-", "--no-simulators", link}, scan).out)[0]["path"],
              fixture.project + "/.next");  // the item the link resolves to
}

TEST(CommandLine, JsonStreamIsTheDocumentItemByItemAndACtrlCKeepsWhatWasMeasured) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    for (int file = 0; file < 60 * 100; ++file) {
        const std::string project = "home/Code/p" + std::to_string(file / 100);
        if (file % 100 == 0) tree.writeFile(project + "/package.json", "{}");
        tree.writeFile(project + "/node_modules/f" + std::to_string(file % 100), "m");
    }
    const auto scan = [&](const std::string& output, const Wiring& wiring = {}) {
        return quillet(tree, {"scan", "--no-simulators", "--home", home, "--root", home + "/Code", output}, {}, wiring);
    };
    Json document = Json::parse(scan("--json").out);
    std::map<std::string, Json> whole;
    for (const Json& item : document["items"]) whole[item["path"].get<std::string>()] = item;
    document.erase("items");
    // A line per item as measured, each as the whole scan lists it unless a stop caught it measuring
    // (and noted it); then the rest of the document. Gives the items and the incomplete.
    const auto check = [&](const std::string& text, bool stopped) {
        std::vector<Json> lines;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);) lines.push_back(Json::parse(line));
        const Json rest = lines.back();
        std::size_t incomplete = 0;
        for (auto line = lines.begin(); line + 1 < lines.end(); ++line) {
            const std::string path = (*line)["path"];
            const bool complete = (*line)["complete"],
                       noted = std::ranges::count(rest["notes"], Json("Could not fully inspect " + path +
                                                                      ". Cleanup disabled for this item."));
            EXPECT_TRUE(complete ? *line == whole.at(path) && !noted : noted) << *line;
            incomplete += !complete;
        }
        EXPECT_TRUE(stopped ? rest["cancelled"] == true : rest == document) << rest;
        return std::pair{lines.size() - 1, incomplete};
    };
    EXPECT_EQ(check(scan("--json-stream").out, false), std::pair(whole.size(), std::size_t{0}));

    // Through a one-page pipe a Ctrl-C after the tenth line mostly comes with items still to measure;
    // on a loaded machine the measuring (beside the blocked output) may finish first, so try again.
    Wiring wiring{.outPath = tree.path("stream.fifo")};
    ASSERT_EQ(::mkfifo(wiring.outPath.c_str(), 0644), 0);
    std::string streamed;
    wiring.whileRunning = [&](pid_t child) {
        const int fd = ::open(wiring.outPath.c_str(), O_RDONLY | O_CLOEXEC);
        ::fcntl(fd, F_SETPIPE_SZ, 4096);
        char chunk[512];
        for (ssize_t count; (count = ::read(fd, chunk, sizeof chunk)) > 0;) {
            const bool stop = std::ranges::count(streamed, '\n') < 10;
            streamed.append(chunk, static_cast<std::size_t>(count));
            if (stop && std::ranges::count(streamed, '\n') >= 10) ::kill(child, SIGINT);
        }
        ::close(fd);
    };
    auto [items, incomplete] = std::pair(whole.size(), std::size_t{0});
    for (int attempt = 0; attempt < 5 && items == whole.size(); ++attempt, streamed.clear()) {
        EXPECT_EQ(scan("--json-stream", wiring).status, 130);
        std::tie(items, incomplete) = check(streamed, true);
    }
    EXPECT_TRUE(items >= 10 && items < whole.size()) << items;
    EXPECT_LE(incomplete, std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8));

    // Asked while the scan still waits for its device list (a FIFO), the stop leaves no items.
    const std::string devices = tree.path("devices.fifo");
    ASSERT_EQ(::mkfifo(devices.c_str(), 0644), 0);
    const Wiring stopEarly{.whileRunning = [&](pid_t child) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(child, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = ::open(devices.c_str(), O_WRONLY);
        [[maybe_unused]] auto written = ::write(fd, R"({"devices": {}})", 15);
        ::close(fd);
    }};
    const Outcome early = quillet(tree, {"scan", "--json", "--simulators", devices, "--home", home}, {}, stopEarly);
    EXPECT_EQ(early.status, 130) << early.err;
    EXPECT_EQ(Json::parse(early.out).value("items", Json()), Json::array()) << early.out;
    EXPECT_EQ(Json::parse(early.out)["cancelled"], true);
}

#ifdef __linux__
// The caller's environment reaches the core: its home and cache folders, and for another user's
// home the caller's XDG folders are no target, with the reason on standard error.
TEST(CommandLine, ScanAndPlanFindCachesWhereTheCallersEnvironmentPutsThem) {
    TempTree tree;
    const std::string home = tree.makeDir("home"), xdg = tree.makeDir("xdg-cache");
    tree.writeFile("home/.cache/yarn/v1/entry", "where Yarn 1 would be without XDG_CACHE_HOME");
    tree.writeFile("xdg-cache/yarn/v6/entry", "the caller's own yarn cache");
    const Wiring own{.environment = {{"HOME", home}, {"XDG_CACHE_HOME", xdg}}},
        caller{.environment = {{"HOME", tree.makeDir("caller")}, {"XDG_CACHE_HOME", xdg}}};
    const Outcome scan = quillet(tree, {"scan", "--json", "--no-roots"}, {}, own);
    ASSERT_EQ(Json::parse(scan.out)["items"].size(), 1U) << scan.out;
    EXPECT_EQ(Json::parse(scan.out)["items"][0]["path"], xdg + "/yarn");
    const Outcome refused = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, caller);
    EXPECT_EQ(Json::parse(refused.out), Json::array());
    EXPECT_EQ(refused.err, "Yarn cache: This path is no longer a recognized cleanup target. Scan again.\n");
}
#endif

// Every item's path and fingerprint in a `scan --json` document.
std::map<std::string, std::string> fingerprints(const std::string& document) {
    std::map<std::string, std::string> result;
    const Json parsed = Json::parse(document);
    for (const Json& item : parsed["items"]) result[item["path"].get<std::string>()] = item["fingerprint"];
    return result;
}

// ext4 keeps dates up to the year 2446; a time point ends in 2262.
TEST(Robustness, FilesDatedPastWhatATimePointHoldsAreScannedAndPlanned) {
    FixtureHome fixture;
    const std::string future = fixture.tree.writeFile("home/Code/site/node_modules/left-pad/future.js", "f");
    const std::string cached = fixture.tree.writeFile("home/.npm/_cacache/cached", "c");
    const timespec times[2] = {{0, UTIME_OMIT}, {13'569'465'600, 0}},
                   fraction[2] = {{0, UTIME_OMIT}, {7'258'118'400, 50'000'000}};
    if (::utimensat(AT_FDCWD, future.c_str(), times, 0) != 0 || ::utimensat(AT_FDCWD, cached.c_str(), fraction, 0) != 0)
        GTEST_SKIP() << "cannot hold the dates";  // 2400-01-01; 2200-01-01 and 50 ms
    const Outcome scan = fixture.scan();
    EXPECT_GT(decodeScanDocument(scan.out).result.items.at(1).measurement.modified.value(),
              std::chrono::system_clock::now() + std::chrono::years(200))
        << "the newest change must stay the far future, not wrap into the past";
    EXPECT_NE(scan.out.find("\"modified\":7258118400.05,"), npos) << scan.out;
    const Outcome plan = fixture.run({"plan", "--scan", "-", "--no-simulators", fixture.modules}, scan.out);
    EXPECT_NE(plan.out.find("moveFolderToTrash"), npos) << plan.err;

    // A date before 1970 reads back as itself; past the decoder's bound one is refused.
    std::string text = scan.out;
    const std::size_t at = text.find("\"modified\":"), end = text.find(',', at);
    const std::string early = std::string(text).replace(at, end - at, "\"modified\":-1.25");
    EXPECT_NE(encodeScanDocument(decodeScanDocument(early)).find("\"modified\":-1.25,"), npos);
    EXPECT_THROW(decodeScanDocument(text.replace(at, end - at, "\"modified\":1e12")), tarnby::DecodingError);
}

// Everything below `root` (links not followed) with all its status but the access time.
std::map<std::string, std::string> listing(const std::string& root) {
    std::map<std::string, std::string> result{{root, ""}};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) result[entry.path()] = "";
    for (auto& [path, status] : result) {
        struct stat info {};
        ::lstat(path.c_str(), &info);
        info.st_atim = {};
        status.assign(reinterpret_cast<const char*>(&info), sizeof info);
    }
    return result;
}

// Many folders, a deep chain, a FIFO, a link and saved preferences: starved of descriptors or
// memory, a scan is whole or says why not, never crashes; and no file changes, nothing appears.
TEST(Robustness, UnderFewDescriptorsOrLittleMemoryAScanEndsClearlyAndChangesNothing) {
    FixtureHome fixture;
    for (int file = 0; file < 30 * 40; ++file) {
        const std::string project = "home/Code/p" + std::to_string(file / 40);
        if (file % 40 == 0) fixture.tree.writeFile(project + "/package.json", "{}");
        fixture.tree.writeFile(project + "/node_modules/m" + std::to_string(file % 8) + "/f" + std::to_string(file));
    }
    std::string deep = "home/Code/deep/node_modules";
    for (int level = 0; level < 150; ++level) deep += "/d";
    fixture.tree.writeFile(deep + "/bottom", "b");
    fixture.tree.writeFile("home/Code/deep/package.json", "{}");
    fixture.tree.writeFile("home/Library/Developer/Xcode/DerivedData/App-abc/Build/x", "x");
    fixture.tree.writeFile("home/Library/Application Support/Tarnby/preferences.json",
                           R"({"roots":[],"kept":[")" + fixture.home + R"(/Code/p3/node_modules"]})");
    fixture.tree.symlink(fixture.home + "/Code", "home/Code-link");
    ASSERT_EQ(::mkfifo((fixture.modules + "/fifo").c_str(), 0644), 0);
    const auto before = listing(fixture.home);
    const Outcome free = fixture.scan();
    ASSERT_EQ(free.status, 0) << free.err;
    EXPECT_EQ(fixture.scan({}).status, 0);
    EXPECT_EQ(fixture.run({"suggest", "--home", fixture.home}).status, 0);
    Arguments plan{"plan", "--scan", "-", "--no-simulators", "--acknowledge-simulator-risk"};
    for (const auto& [path, fingerprint] : fingerprints(free.out)) plan.push_back(path);
    const Outcome planned = fixture.run(plan, free.out);
    EXPECT_GE(std::ranges::count(planned.out, '{'), 30) << planned.err.substr(0, 2000);

    // With 64 descriptors the walks keep theirs bounded and the scan is whole; with fewer, or little
    // memory, it is whole or fails with a reason, never by a crash.
    std::vector<Wiring> limits{{.openFiles = 64}, {.openFiles = 8}, {.openFiles = 5}};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they reserve terabytes of address space
    for (const rlim_t megabytes : {8, 16, 24, 32, 48, 64, 96, 128, 256, 512})
        limits.push_back({.addressSpace = megabytes << 20});
#endif
    std::size_t whole = 0;
    for (const Wiring& limit : limits) {
        fixture.wiring.openFiles = limit.openFiles, fixture.wiring.addressSpace = limit.addressSpace;
        const Outcome run = fixture.scan();
        const bool same = run.status == 0 && Json::accept(run.out) && fingerprints(run.out) == fingerprints(free.out);
        EXPECT_TRUE((run.status == 0 || (run.status < 128 && !run.err.empty())) && (same || limit.openFiles != 64))
            << limit.openFiles << " files, " << limit.addressSpace << " bytes: " << run.err;
        whole += same;
    }
    EXPECT_GT(whole, limits.size() > 3 ? 1U : 0U) << "no memory limit was large enough for a whole scan";
    EXPECT_EQ(listing(fixture.home), before);
    EXPECT_TRUE(std::filesystem::is_empty(fixture.wiring.workingFolder) &&
                std::filesystem::is_empty(fixture.wiring.environment.at("TMPDIR")))
        << "the working or the temporary folder got files";
}

}  // namespace
}  // namespace quillet::cli
