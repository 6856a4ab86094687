#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/scan_document.h"
#include "core/platform/file_system.h"
#include "core/preferences/saved_preferences.h"
#include "core/scanning/file_inspection.h"
#include "tests/support/temp_tree.h"

namespace quillet::cli {
namespace {

using tarnby::testing::TempTree;
using Json = nlohmann::json;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

using Variables = std::map<std::string, std::string>;

// This process's environment with `changes` applied, as "NAME=value" texts.
std::vector<std::string> environmentWith(const Variables& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!changes.contains(text.substr(0, text.find('=')))) entries.push_back(text);
    }
    for (const auto& [name, value] : changes) entries.push_back(name + "=" + value);
    return entries;
}

// How a run is wired: standard input from `inputFd` (else a file holding the input text),
// standard output to `outPath` (else a file read back), and the user it runs as.
struct Wiring {
    int inputFd = -1;
    std::string outPath;
    uid_t user = static_cast<uid_t>(-1);
    Variables environment;  // changes to the child's environment only
};

// Starts the real executable with `input` on standard input; `whileRunning` gets its pid.
Outcome quillet(const TempTree& scratch, const std::vector<std::string>& arguments, const std::string& input = {},
                const std::function<void(pid_t)>& whileRunning = {}, const Wiring& wiring = {}) {
    static int counter = 0;
    const std::string base = scratch.path("run" + std::to_string(++counter));
    const std::string in = scratch.writeFile("run" + std::to_string(counter) + ".in", input);
    const std::string outPath = wiring.outPath.empty() ? base + ".out" : wiring.outPath;
    std::vector<std::string> argv{QUILLET_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = environmentWith(wiring.environment);
    std::vector<char*> rawEnvironment;
    for (auto& entry : environment) rawEnvironment.push_back(entry.data());
    rawEnvironment.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int inFd = wiring.inputFd >= 0 ? wiring.inputFd : ::open(in.c_str(), O_RDONLY);
        const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = ::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(inFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        if (wiring.user != static_cast<uid_t>(-1) && (::setgid(wiring.user) != 0 || ::setuid(wiring.user) != 0)) {
            ::_exit(126);
        }
        std::vector<char*> raw;
        for (auto& argument : argv) raw.push_back(argument.data());
        raw.push_back(nullptr);
        ::execve(raw[0], raw.data(), rawEnvironment.data());
        ::_exit(127);
    }
    if (whileRunning) whileRunning(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (wiring.outPath.empty()) run.out = tarnby::fs::readFile(base + ".out").value_or("");
    run.err = tarnby::fs::readFile(base + ".err").value_or("");
    return run;
}

Outcome quilletReading(const TempTree& scratch, const std::vector<std::string>& arguments, int inputFd,
                       uid_t user = static_cast<uid_t>(-1)) {
    Wiring wiring;
    wiring.inputFd = inputFd;
    wiring.user = user;
    return quillet(scratch, arguments, {}, {}, wiring);
}

bool isOneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// A home with one project holding node_modules and .next, and an npm cache sharing a file
// with node_modules through a hard link.
struct FixtureHome {
    TempTree tree;
    std::string home = tree.makeDir("home");
    std::string project = tree.makeDir("home/Code/site");

    FixtureHome() {
        tree.writeFile("home/Code/site/package.json", "{}");
        tree.writeFile("home/Code/site/package-lock.json", "{}");
        tree.writeFile("home/Code/site/node_modules/left-pad/index.js", std::string(9000, 'x'));
        tree.writeFile("home/Code/site/.next/cache/a", "x");
        tree.writeFile("home/.npm/_cacache/index", std::string(20000, 'y'));
        tree.hardLink("home/Code/site/node_modules/left-pad/index.js", "home/.npm/_cacache/content/left-pad");
    }
};

TEST(CommandLine, RefusesBadArgumentsWithOneLineAndStatusTwo) {
    TempTree scratch;
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"frobnicate"},
                                                                       {"scan", "--bogus"},
                                                                       {"scan", "--home"},
                                                                       {"scan", "--simulators", "f", "--no-simulators"},
                                                                       {"scan", "--root", "/x", "--no-roots"},
                                                                       {"plan", "/x"},
                                                                       {"plan", "--scan", "/absent.json", "/x"},
                                                                       {"scan", "--root", ""},
                                                                       {"scan", "--home="},
                                                                       {"suggest", "--home", ""},
                                                                       {"plan", "--scan", "-", ""}}) {
        SCOPED_TRACE(arguments.front() + " " + (arguments.size() > 1 ? arguments[1] : ""));
        const Outcome run = quillet(scratch, arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(isOneLine(run.err)) << run.err;
    }
    // Without arguments `quillet` is the window; the usage is its own subcommand.
    const Outcome usage = quillet(scratch, {"help"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_NE(usage.out.find("quillet scan"), std::string::npos);
}

TEST(CommandLine, ScanJsonDescribesEveryItemAndEndsWithTheInventoryNote) {
    FixtureHome fixture;
    const Outcome run = quillet(fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home, "--root",
                                               fixture.home + "/Code", "--root", "/"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json document = Json::parse(run.out);
    EXPECT_EQ(document["home"], fixture.home);
    EXPECT_EQ(document["roots"], Json::array({fixture.home + "/Code", "/"}));
    EXPECT_EQ(document["cancelled"], false);
    const auto& notes = document["notes"];
    ASSERT_EQ(notes.size(), 2U);
    EXPECT_EQ(notes[0], "Choose a project folder instead of a system location: /");
    EXPECT_EQ(notes[1].get<std::string>().rfind("Simulator inventory unavailable. Simulator cleanup is disabled. ", 0),
              0U);

    const auto& items = document["items"];
    ASSERT_EQ(items.size(), 3U);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), [](const Json& a, const Json& b) {
        return a["bytes"].get<std::int64_t>() > b["bytes"].get<std::int64_t>();
    }));
    const auto modules = std::find_if(items.begin(), items.end(),
                                      [](const Json& item) { return item["title"] == "site / node_modules"; });
    ASSERT_NE(modules, items.end());
    tarnby::ScanCancellation cancellation;
    const auto measured = tarnby::FileInspection::measure(fixture.project + "/node_modules", cancellation);
    EXPECT_EQ((*modules)["fingerprint"], measured.fingerprint);
    EXPECT_EQ((*modules)["bytes"], measured.bytes);
    EXPECT_EQ((*modules)["freedBytes"], measured.freedBytes);
    EXPECT_LT(measured.freedBytes, measured.bytes);  // the cache holds a link to its file
    EXPECT_EQ((*modules)["largest"],
              Json::parse(R"([{"name": "left-pad", "bytes": )" + std::to_string(measured.bytes) + "}]"));
    EXPECT_TRUE((*modules)["modified"].is_number_float());
    for (const char* key :
         {"explanation", "rebuild", "files", "complete", "selectable", "deviceID", "lastBoot", "protection"}) {
        EXPECT_TRUE(modules->contains(key)) << key;
    }
}

TEST(CommandLine, OutputStaysValidWhateverBytesANameHolds) {
    FixtureHome fixture;
    const std::string odd = "home/Code/bad\xff\nname";
    fixture.tree.writeFile(odd + "/package.json", "{}");
    fixture.tree.writeFile(odd + "/node_modules/x", "x");
    const Outcome run = quillet(
        fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home, "--root", fixture.home + "/Code"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Json::accept(run.out));  // rejects invalid UTF-8
    EXPECT_NE(run.out.find("\"title\":\"bad\xEF\xBF\xBD\\nname \\/ node_modules\""), std::string::npos);
    // And the exact path still round-trips for planning.
    const ScanDocument decoded = decodeScanDocument(run.out);
    const std::string exact = fixture.tree.path(odd + "/node_modules");
    EXPECT_TRUE(std::any_of(decoded.result.items.begin(), decoded.result.items.end(),
                            [&](const tarnby::StorageItem& item) { return item.url == exact; }));
    // Planning it finds the item, but a plan's JSON cannot hold the path: a failure, not "[]".
    const Outcome plan = quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", exact}, run.out);
    EXPECT_EQ(plan.status, 1);
    EXPECT_NE(plan.err.find("could not be written as JSON text"), std::string::npos) << plan.err;

    const Outcome table =
        quillet(fixture.tree, {"scan", "--no-simulators", "--home", fixture.home, "--root", fixture.home + "/Code"});
    EXPECT_NE(table.out.find("bad\\xff\\nname / node_modules"), std::string::npos) << table.out;
}

TEST(CommandLine, TableShowsHomeAsTildeTotalsAndHidesKeptItems) {
    FixtureHome fixture;
    tarnby::SavedPreferences saved;
    saved.roots = {fixture.home + "/Code"};
    saved.kept = {fixture.project + "/.next"};
    ASSERT_FALSE(tarnby::savePreferences(fixture.home, saved).has_value());

    const Outcome run = quillet(fixture.tree, {"scan", "--no-simulators", "--home", fixture.home});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("~/Code/site/node_modules"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("~/Code/site/.next"), std::string::npos);  // kept, so hidden
    EXPECT_NE(run.out.find("2 items (1 kept item hidden"), std::string::npos) << run.out;
    // Both listed items hold the shared file; cleaning both frees it once.
    EXPECT_NE(run.out.find("\nCleaning them all would free "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Simulator inventory unavailable."), std::string::npos);

    const Outcome all = quillet(fixture.tree, {"scan", "--all", "--no-simulators", "--home", fixture.home});
    EXPECT_NE(all.out.find("~/Code/site/.next  [kept]"), std::string::npos) << all.out;

    const Outcome json = quillet(fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home});
    const Json document = Json::parse(json.out);
    EXPECT_EQ(document["roots"], Json::array({fixture.home + "/Code"}));  // saved roots replace suggestions
    EXPECT_EQ(document["kept"], Json::array({fixture.project + "/.next"}));
}

TEST(CommandLine, SuggestListsProjectFoldersInOrder) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.makeDir("home/src");
    tree.makeDir("home/Developer");
    tree.writeFile("home/proj10/Cargo.toml");
    tree.writeFile("home/proj2/package.json");
    const Outcome run = quillet(tree, {"suggest", "--home", home});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, home + "/Developer\n" + home + "/proj2\n" + home + "/proj10\n" + home + "/src\n");
}

TEST(CommandLine, PlanPipedFromScanGivesTheExactPlanText) {
    FixtureHome fixture;
    const Outcome scan = quillet(
        fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home, "--root", fixture.home + "/Code"});
    ASSERT_EQ(scan.status, 0);
    const std::string modules = fixture.project + "/node_modules";
    const Json document = Json::parse(scan.out);
    std::int64_t bytes = -1;
    for (const auto& item : document["items"]) {
        if (item["path"] == modules) bytes = item["bytes"];
    }

    const Outcome plan = quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", modules, modules}, scan.out);
    ASSERT_EQ(plan.status, 0) << plan.err;
    std::string escaped;
    for (const char c : modules) escaped += (c == '/') ? std::string("\\/") : std::string(1, c);
    const std::string element = "  {\n    \"estimatedBytes\" : " + std::to_string(bytes) +
                                ",\n    \"operation\" : \"moveFolderToTrash\",\n    \"path\" : \"" + escaped +
                                "\",\n    \"title\" : \"site \\/ node_modules\"\n  }";
    EXPECT_EQ(plan.out, "[\n" + element + ",\n" + element + "\n]\n");
    EXPECT_EQ(plan.err, "");
    // A document from before items said what they free and hold plans the same.
    Json older = document;
    for (auto& item : older["items"]) {
        item.erase("freedBytes");
        item.erase("largest");
    }
    EXPECT_EQ(quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", modules, modules}, older.dump()).out,
              plan.out);

    // A change after the scan keeps the item out, with the reason on standard error.
    fixture.tree.writeFile("home/Code/site/node_modules/new-file", "z");
    const Outcome changed = quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", modules}, scan.out);
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(changed.err, "site / node_modules: This item changed after the scan. Scan again before cleaning it.\n");

    // A path the scan did not find, or a document that is not a scan, plans nothing.
    const Outcome unknown = quillet(fixture.tree, {"plan", "--scan", "-", fixture.home + "/nothing"}, scan.out);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.out.empty());
    const Outcome corrupt = quillet(fixture.tree, {"plan", "--scan", "-", modules}, "{\"home\": 3}");
    EXPECT_EQ(corrupt.status, 2);
    EXPECT_NE(corrupt.err.find("not a document from `quillet scan --json`"), std::string::npos);
}

TEST(CommandLine, CtrlCStopsTheScanAndPrintsThePartialResult) {
    FixtureHome fixture;
    // The inventory file is a FIFO, so the scan waits on it until the test has sent Ctrl-C.
    const std::string fifo = fixture.tree.path("devices.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const Outcome run =
        quillet(fixture.tree,
                {"scan", "--json", "--simulators", fifo, "--home", fixture.home, "--root", fixture.home + "/Code"}, {},
                [&](pid_t child) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    ::kill(child, SIGINT);
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    const int fd = ::open(fifo.c_str(), O_WRONLY);
                    const std::string list = R"({"devices": {}})";
                    [[maybe_unused]] auto written = ::write(fd, list.data(), list.size());
                    ::close(fd);
                });
    EXPECT_EQ(run.status, 130) << run.err;
    const Json document = Json::parse(run.out);
    EXPECT_EQ(document["cancelled"], true);
    EXPECT_TRUE(document["items"].empty());
}

// Each line of `text` as JSON.
std::vector<Json> jsonLines(const std::string& text) {
    std::vector<Json> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(Json::parse(text.substr(start, end - start)));
    }
    return lines;
}

TEST(CommandLine, JsonStreamIsTheDocumentItemByItemAndACtrlCKeepsWhatWasMeasured) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    for (int project = 0; project < 60; ++project) {
        const std::string base = "home/Code/p" + std::to_string(project);
        tree.writeFile(base + "/package.json", "{}");
        for (int file = 0; file < 100; ++file) tree.writeFile(base + "/node_modules/f" + std::to_string(file), "m");
    }
    const std::vector<std::string> scan{"scan", "--no-simulators", "--home", home, "--root", home + "/Code"};
    std::vector<std::string> asJson = scan, asStream = scan;
    asJson.push_back("--json");
    asStream.push_back("--json-stream");
    Json document = Json::parse(quillet(tree, asJson).out);
    std::map<std::string, Json> whole;
    for (const Json& item : document["items"]) whole[item["path"].get<std::string>()] = item;

    // In finding order, then the rest of the document: sorted as the document sorts (largest
    // first, and here every size is equal), the items are the document's.
    std::vector<Json> lines = jsonLines(quillet(tree, asStream).out);
    ASSERT_FALSE(lines.empty());
    Json rest = lines.back();
    lines.pop_back();
    std::ranges::stable_sort(lines, std::ranges::greater(),
                             [](const Json& item) { return item["bytes"].get<std::int64_t>(); });
    EXPECT_EQ(Json(lines), document["items"]);
    document.erase("items");
    EXPECT_EQ(rest, document);

    // Through a pipe of one page, the scan can only be a few lines ahead of what was read: the
    // Ctrl-C after the tenth line comes while most items are still to come.
    const std::string fifo = tree.path("stream.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string streamed;
    Wiring wiring;
    wiring.outPath = fifo;
    const Outcome run = quillet(
        tree, asStream, {},
        [&](pid_t child) {
            const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
            ::fcntl(fd, F_SETPIPE_SZ, 4096);
            char chunk[512];
            bool stopped = false;
            for (ssize_t count; (count = ::read(fd, chunk, sizeof chunk)) > 0;) {
                streamed.append(chunk, static_cast<std::size_t>(count));
                if (!stopped && std::ranges::count(streamed, '\n') >= 10) stopped = ::kill(child, SIGINT) == 0;
            }
            ::close(fd);
        },
        wiring);
    EXPECT_EQ(run.status, 130) << run.err;
    lines = jsonLines(streamed);
    ASSERT_GT(lines.size(), 10u);
    const Json last = lines.back();
    EXPECT_EQ(last["cancelled"], true);
    lines.pop_back();
    std::size_t incomplete = 0;
    for (const Json& item : lines) {
        if (item["complete"]) {
            EXPECT_EQ(item, whole[item["path"].get<std::string>()]);  // as a whole scan measures it
        } else {
            ++incomplete;  // in progress at the stop
            const Json note =
                "Could not fully inspect " + item["path"].get<std::string>() + ". Cleanup disabled for this item.";
            EXPECT_EQ(std::count(last["notes"].begin(), last["notes"].end(), note), 1);
        }
    }
    EXPECT_LE(incomplete, std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8));
}

// The scan of a fixture home, as `quillet scan --json` prints it.
std::string scanDocument(const FixtureHome& fixture) {
    const Outcome scan = quillet(
        fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home, "--root", fixture.home + "/Code"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    return scan.out;
}

TEST(CommandLine, PlanReadsStandardInputAsItIsGiven) {
    FixtureHome fixture;
    const std::string document = scanDocument(fixture);
    const std::string modules = fixture.project + "/node_modules";
    const std::vector<std::string> plan{"plan", "--scan", "-", "--no-simulators", modules};
    auto expectPlanned = [&](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("moveFolderToTrash"), std::string::npos) << run.err;
    };

    // A socket, which cannot be opened by name.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(::write(pair[0], document.data(), document.size()), static_cast<ssize_t>(document.size()));
    ::close(pair[0]);
    expectPlanned(quilletReading(fixture.tree, plan, pair[1]));
    ::close(pair[1]);

    // A file opened past a header: reading starts where the descriptor stands, not at the start.
    const std::string file = fixture.tree.writeFile("with-header.txt", "header\n" + document);
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
    expectPlanned(quilletReading(fixture.tree, plan, fd));
    ::close(fd);

    // A pipe made by another user (as when piping into sudo -u): the pipe is readable, its name is not.
    if (::geteuid() == 0) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        ASSERT_EQ(::write(pipeFds[1], document.data(), document.size()), static_cast<ssize_t>(document.size()));
        ::close(pipeFds[1]);
        const Outcome run = quilletReading(fixture.tree, plan, pipeFds[0], 65534);
        ::close(pipeFds[0]);
        EXPECT_EQ(run.err.find("standard input"), std::string::npos) << run.err;
        EXPECT_EQ(run.status, 0) << run.err;
    }
}

TEST(CommandLine, ReadingMoreThanTheCapSaysSo) {
    TempTree tree;
    const std::string file = tree.writeFile("big", std::string(1024 * 1024 + 1, ' '));
    const int fd = ::open(file.c_str(), O_RDONLY);
    errno = ENOENT;  // what a stale errno used to report
    const Input input = readAll(fd, 1024 * 1024);
    ::close(fd);
    EXPECT_FALSE(input.text);
    EXPECT_EQ(input.problem.rfind("is larger than 1 MiB", 0), 0U) << input.problem;

    const Outcome run = quillet(tree, {"plan", "--scan", tree.path("absent"), "/x"});
    EXPECT_EQ(run.err, "quillet plan: " + tree.path("absent") + " could not be read: No such file or directory\n");
}

TEST(CommandLine, AnOutputThatCannotBeWrittenFailsEveryCommand) {
    FixtureHome fixture;
    const std::string document = scanDocument(fixture);
    const std::string modules = fixture.project + "/node_modules";
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"scan", "--json", "--no-simulators", "--home", fixture.home},
                                               {"scan", "--no-simulators", "--home", fixture.home},
                                               {"suggest", "--home", fixture.home},
                                               {"plan", "--scan", "-", "--no-simulators", modules},
                                               {"help"},
                                               {"scan", "--help"},
                                               {"--version"}}) {
        SCOPED_TRACE(arguments.front() + " " + arguments.back());
        Wiring full;
        full.outPath = "/dev/full";
        const Outcome run = quillet(fixture.tree, arguments, document, {}, full);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "quillet: the output could not be written: No space left on device\n");
    }
}

TEST(CommandLine, EverythingAfterDoubleDashIsAnOperand) {
    FixtureHome fixture;
    const std::string document = scanDocument(fixture);
    const Outcome named = quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", "--", "--x=y"}, document);
    EXPECT_EQ(named.status, 2);
    EXPECT_EQ(named.err, "quillet plan: no item of the scan has the path --x=y\n");
    const Outcome dash = quillet(fixture.tree, {"plan", "--scan", "-", "--", "--no-simulators"}, document);
    EXPECT_EQ(dash.err, "quillet plan: no item of the scan has the path --no-simulators\n");
    const Outcome scan = quillet(fixture.tree, {"scan", "--", "--json"});
    EXPECT_EQ(scan.status, 2);
    EXPECT_TRUE(isOneLine(scan.err)) << scan.err;
}

TEST(CommandLine, TableEscapesWhatWouldRestyleOrReorderTheTerminal) {
    FixtureHome fixture;
    // CSI as one C1 character, right-to-left override, left-to-right isolate and its pop, a
    // right-to-left mark, the Arabic letter mark, a line separator and a lone invalid byte.
    const std::string name =
        "a\xC2\x9B"
        "31m\xE2\x80\xAE"
        "b\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C\xE2\x80\xA8\xC0"
        "é";
    fixture.tree.writeFile("home/Code/" + name + "/package.json", "{}");
    fixture.tree.writeFile("home/Code/" + name + "/node_modules/x", "x");
    const Outcome run =
        quillet(fixture.tree, {"scan", "--no-simulators", "--home", fixture.home, "--root", fixture.home + "/Code"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string shown = "a\\u009b31m\\u202eb\\u2066\\u2069\\u200f\\u061c\\u2028\\xc0é";
    EXPECT_NE(run.out.find("~/Code/" + shown + "/node_modules"), std::string::npos) << run.out;
    for (const std::string raw : {"\xC2\x9B", "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA9", "\xE2\x80\x8F",
                                  "\xD8\x9C", "\xE2\x80\xA8", "\xC0"}) {
        EXPECT_EQ(run.out.find(raw), std::string::npos);
    }
}

TEST(CommandLine, FolderArgumentsMustBeFoldersAsGiven) {
    FixtureHome fixture;
    const std::string missing = fixture.tree.path("missing");
    const std::string file = fixture.tree.writeFile("file");
    const std::string document = scanDocument(fixture);
    auto refused = [&](const std::vector<std::string>& arguments, const std::string& line) {
        SCOPED_TRACE(line);
        const Outcome run = quillet(fixture.tree, arguments, document);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, line);
    };
    for (const std::string command : {"scan", "suggest", "plan"}) {
        std::vector<std::string> arguments{command, "--home", missing};
        if (command == "plan") arguments.insert(arguments.end(), {"--scan", "-", "--no-simulators", "~/x"});
        refused(arguments, "quillet " + command + ": the home folder " + missing + " does not exist\n");
        arguments[2] = file;
        refused(arguments, "quillet " + command + ": the home folder " + file + " is not a folder\n");
    }
    // Nothing is scanned: a missing root is a mistake, not an empty result.
    refused({"scan", "--home", fixture.home, "--root", fixture.home + "/Code", "--root", missing},
            "quillet scan: the project folder " + missing + " does not exist\n");
    refused({"scan", "--home", fixture.home, "--root", file},
            "quillet scan: the project folder " + file + " is not a folder\n");
    const std::string link = fixture.tree.symlink(fixture.home + "/Code", "code-link");
    refused({"scan", "--home", fixture.home, "--root", link},
            "quillet scan: the project folder " + link +
                " is a symbolic link, and roots are not followed through links; give the folder it points to: " +
                fixture.home + "/Code\n");
    refused({"plan", "--scan", "-", "--root", link, "~/x"},
            "quillet plan: the project folder " + link +
                " is a symbolic link, and roots are not followed through links; give the folder it points to: " +
                fixture.home + "/Code\n");
    // The core takes a linked home for unsafe and would find nothing in it: refused up front.
    const std::string homeLink = fixture.tree.symlink(fixture.home, "home-link");
    for (const std::string command : {"scan", "suggest", "plan"}) {
        std::vector<std::string> arguments{command, "--home", homeLink};
        if (command == "plan") arguments.insert(arguments.end(), {"--scan", "-", "--no-simulators", "~/x"});
        refused(arguments, "quillet " + command + ": the home folder " + homeLink +
                               " is a symbolic link, and home folders are not followed through links; "
                               "give the folder it points to: " +
                               fixture.home + "\n");
    }
    refused({"scan", "--home", homeLink + "/Code"},
            "quillet scan: the home folder " + homeLink +
                "/Code lies behind a symbolic link, and home folders "
                "are not followed through links; give the folder it points to: " +
                fixture.home + "/Code\n");
    refused({"scan", "--home", fixture.home, "--root", homeLink + "/Code"},
            "quillet scan: the project folder " + homeLink +
                "/Code lies behind a symbolic link, and roots "
                "are not followed through links; give the folder it points to: " +
                fixture.home + "/Code\n");

    if (::geteuid() != 0) {
        const std::string locked = fixture.tree.makeDir("locked");
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
        refused({"suggest", "--home", locked},
                "quillet suggest: the home folder " + locked + " cannot be read: Permission denied\n");
        ::chmod(locked.c_str(), 0700);
    }
}

TEST(CommandLine, PlanTakesThePathsTheTableShows) {
    FixtureHome fixture;
    const std::string document = scanDocument(fixture);
    const std::string link = fixture.tree.symlink(fixture.home + "/Code", "code-link");
    const Outcome run =
        quillet(fixture.tree,
                {"plan", "--scan", "-", "--no-simulators", "~/Code/site/node_modules", link + "/site/.next"}, document);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json plan = Json::parse(run.out);
    ASSERT_EQ(plan.size(), 2U);
    EXPECT_EQ(plan[0]["path"], fixture.project + "/node_modules");
    EXPECT_EQ(plan[1]["path"], fixture.project + "/.next");
    // "~" is the scan's home, not a folder of that name in the working folder.
    const Outcome notHome = quillet(fixture.tree, {"plan", "--scan", "-", "~x/Code/site/node_modules"}, document);
    EXPECT_EQ(notHome.status, 2);
}

TEST(CommandLine, HelpAndVersionWhenAskedFor) {
    TempTree scratch;
    const Outcome help = quillet(scratch, {"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* part : {"quillet scan", "quillet plan", "quillet suggest", "exit status", "130"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(quillet(scratch, {"--help"}).out, help.out);
    EXPECT_EQ(quillet(scratch, {"-h"}).out, help.out);

    // A subcommand's help, whatever else is on the line (plan without its required --scan, too).
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"plan", "-h"}, {"plan", "--bogus", "--help"}, {"help", "plan"}}) {
        const Outcome run = quillet(scratch, arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind("usage: quillet plan --scan FILE", 0), 0U) << run.out;
        EXPECT_NE(run.out.find("exit status"), std::string::npos);
    }
    EXPECT_NE(quillet(scratch, {"scan", "--help"}).out.find("--no-progress"), std::string::npos);
    EXPECT_EQ(quillet(scratch, {"suggest", "--help"}).out.rfind("usage: quillet suggest", 0), 0U);
    EXPECT_EQ(quillet(scratch, {"help", "frob"}).status, 2);

    const Outcome version = quillet(scratch, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillet " QUILLET_VERSION "\n");
}

#ifdef __linux__
Wiring withEnvironment(Variables changes) {
    Wiring wiring;
    wiring.environment = std::move(changes);
    return wiring;
}

std::vector<std::string> itemPaths(const std::string& scanJson) {
    std::vector<std::string> paths;
    const Json document = Json::parse(scanJson);
    for (const auto& item : document["items"]) paths.push_back(item["path"]);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(CommandLine, ScanJsonOnLinuxFindsEachCacheWhereLinuxToolsPutItAndPlansIt) {
    TempTree tree;
    const std::string home = tree.makeDir("home"), xdg = tree.makeDir("xdg-cache");
    for (const char* cache : {".cache/yarn", ".yarn/berry/cache", ".local/share/pnpm/store", ".cache/org.swift.swiftpm",
                              "Library/Caches/Yarn", ".npm/_cacache"}) {
        tree.writeFile("home/" + std::string(cache) + "/v1/entry", cache);
    }
    tree.writeFile("xdg-cache/yarn/v6/entry", "the caller's own yarn cache");
    const bool noTool = !tarnby::fs::exists("/usr/bin/xcrun");

    // Another home: the caller's XDG folders describe the caller's home, not this one.
    const Wiring caller =
        withEnvironment({{"HOME", tree.makeDir("caller")}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", "relative"}});
    const Outcome other = quillet(tree, {"scan", "--json", "--no-roots", "--home", home}, {}, {}, caller);
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(itemPaths(other.out),
              (std::vector<std::string>{home + "/.cache/org.swift.swiftpm", home + "/.cache/yarn",
                                        home + "/.local/share/pnpm/store", home + "/.npm/_cacache",
                                        home + "/.yarn/berry/cache", home + "/Library/Caches/Yarn"}));
    // No developer tools and no device folder: nothing to inventory, so no note about it.
    if (noTool) {
        EXPECT_EQ(Json::parse(other.out)["notes"], Json::array());
    }

    // Own home: XDG_CACHE_HOME decides where Yarn 1 and SwiftPM caches are; an empty XDG_DATA_HOME does not count.
    const Wiring own = withEnvironment({{"HOME", home}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", ""}});
    const Outcome scan = quillet(tree, {"scan", "--json", "--no-roots"}, {}, {}, own);
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(itemPaths(scan.out),
              (std::vector<std::string>{home + "/.local/share/pnpm/store", home + "/.npm/_cacache",
                                        home + "/.yarn/berry/cache", home + "/Library/Caches/Yarn", xdg + "/yarn"}));

    // The plan re-checks against the same locations; under another environment the item is no target.
    const Outcome plan = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, {}, own);
    ASSERT_EQ(plan.status, 0) << plan.err;
    const Json planned = Json::parse(plan.out);
    ASSERT_EQ(planned.size(), 1U);
    EXPECT_EQ(planned[0]["operation"], "moveFolderToTrash");
    EXPECT_EQ(planned[0]["title"], "Yarn cache");
    const Outcome refused = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, {}, caller);
    EXPECT_EQ(Json::parse(refused.out), Json::array());
    EXPECT_EQ(refused.err, "Yarn cache: This path is no longer a recognized cleanup target. Scan again.\n");

    // A copied macOS home with a device folder: the inventory is asked, and its failure told.
    tree.makeDir("home/Library/Developer/CoreSimulator/Devices/0F5C9B7E-1D2A-4C3B-9E8F-7A6B5C4D3E2F");
    const Outcome copied = quillet(tree, {"scan", "--json", "--no-roots", "--home", home}, {}, {}, caller);
    const Json notes = Json::parse(copied.out)["notes"];
    ASSERT_EQ(notes.size(), 1U);
    const std::string note = notes[0];
    EXPECT_EQ(note.rfind("Simulator inventory unavailable. Simulator cleanup is disabled. ", 0), 0U);
}

TEST(CommandLine, SuggestOnLinuxAddsLowerCaseProjectFoldersAndGit) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.makeDir("home/projects");
    tree.makeDir("home/git");
    tree.makeDir("home/Developer");
    tree.makeDir("home/notes");
    const Outcome run = quillet(tree, {"suggest", "--home", home});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, home + "/Developer\n" + home + "/git\n" + home + "/projects\n");
}
#endif

}  // namespace
}  // namespace quillet::cli
