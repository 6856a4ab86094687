#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/scan_document.h"
#include "core/preferences/saved_preferences.h"
#include "core/scanning/file_inspection.h"
#include "tests/cli/run_quillet.h"

namespace quillet::cli {
namespace {

using tarnby::testing::TempTree;
using Json = nlohmann::json;
using Arguments = std::vector<std::string>;

bool isOneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// A home with one project holding node_modules and .next, and an npm cache sharing a file
// with node_modules through a hard link.
struct FixtureHome {
    TempTree tree;
    std::string home = tree.makeDir("home");
    std::string project = tree.makeDir("home/Code/site");
    std::string modules = project + "/node_modules";

    FixtureHome() {
        tree.writeFile("home/Code/site/package.json", "{}");
        tree.writeFile("home/Code/site/package-lock.json", "{}");
        tree.writeFile("home/Code/site/node_modules/left-pad/index.js", std::string(9000, 'x'));
        tree.writeFile("home/Code/site/.next/cache/a", "x");
        tree.writeFile("home/.npm/_cacache/index", std::string(20000, 'y'));
        tree.hardLink("home/Code/site/node_modules/left-pad/index.js", "home/.npm/_cacache/content/left-pad");
    }

    // `quillet scan` of the home and its Code folder, with `more` arguments.
    Outcome scan(const Arguments& more = {"--json"}) const {
        Arguments arguments{"scan", "--no-simulators", "--home", home, "--root", home + "/Code"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return quillet(tree, arguments);
    }
    std::string document() const {
        const Outcome run = scan();
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }
};

TEST(CommandLine, RefusesBadArgumentsWithOneLineAndStatusTwo) {
    TempTree scratch;
    for (const Arguments& arguments : std::vector<Arguments>{{"frobnicate"},
                                                             {"scan", "--bogus"},
                                                             {"scan", "--home"},
                                                             {"scan", "--simulators", "f", "--no-simulators"},
                                                             {"scan", "--root", "/x", "--no-roots"},
                                                             {"plan", "/x"},
                                                             {"plan", "--scan", "/absent.json", "/x"},
                                                             {"scan", "--root", ""},
                                                             {"scan", "--home="},
                                                             {"suggest", "--home", ""},
                                                             {"plan", "--scan", "-", ""},
                                                             {"help", "frob"},
                                                             {"scan", "--", "--json"}}) {
        SCOPED_TRACE(arguments.front() + " " + arguments.back());
        const Outcome run = quillet(scratch, arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(isOneLine(run.err)) << run.err;
    }
}

TEST(CommandLine, ScanJsonDescribesEveryItemAndEndsWithTheInventoryNote) {
    FixtureHome fixture;
    const Outcome run = fixture.scan({"--json", "--root", "/"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json document = Json::parse(run.out);
    EXPECT_EQ(document["home"], fixture.home);
    EXPECT_EQ(document["roots"], Json::array({fixture.home + "/Code", "/"}));
    EXPECT_EQ(document["cancelled"], false);
    const auto& notes = document["notes"];
    ASSERT_EQ(notes.size(), 2U);
    EXPECT_EQ(notes[0], "Choose a project folder instead of a system location: /");
    EXPECT_TRUE(
        notes[1].get<std::string>().starts_with("Simulator inventory unavailable. Simulator cleanup is disabled. "));

    const auto& items = document["items"];
    ASSERT_EQ(items.size(), 3U);
    EXPECT_TRUE(std::ranges::is_sorted(items, std::ranges::greater(), [](const Json& item) { return item["bytes"]; }));
    const auto modules =
        std::ranges::find(items, "site / node_modules", [](const Json& item) { return item["title"]; });
    ASSERT_NE(modules, items.end());
    const auto measured = tarnby::FileInspection::measure(fixture.modules, tarnby::ScanCancellation());
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
    const std::string longName(255, 'n');
    for (const std::string name : {"x", "line\nbreak", "pipe|name", "\xff\xfe invalid", longName.c_str()}) {
        fixture.tree.writeFile(odd + "/node_modules/" + name, name);
    }
    const Outcome run = fixture.scan();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Json::accept(run.out));  // rejects invalid UTF-8
    EXPECT_NE(run.out.find("\"title\":\"bad\xEF\xBF\xBD\\nname \\/ node_modules\""), std::string::npos);
    // The exact path still round-trips for planning, and its walk saw everything.
    const ScanDocument decoded = decodeScanDocument(run.out);
    const std::string exact = fixture.tree.path(odd + "/node_modules");
    const auto item = std::ranges::find(decoded.result.items, exact, &tarnby::StorageItem::url);
    ASSERT_NE(item, decoded.result.items.end());
    EXPECT_TRUE(item->measurement.complete);
    // Planning it finds the item, but a plan's JSON cannot hold the path: a failure, not "[]".
    const Outcome plan = quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", exact}, run.out);
    EXPECT_EQ(plan.status, 1);
    EXPECT_NE(plan.err.find("could not be written as JSON text"), std::string::npos) << plan.err;

    EXPECT_NE(fixture.scan({}).out.find("bad\\xff\\nname / node_modules"), std::string::npos);
}

TEST(CommandLine, TableShowsHomeAsTildeTotalsAndHidesKeptItems) {
    FixtureHome fixture;
    ASSERT_FALSE(tarnby::savePreferences(fixture.home, {{fixture.home + "/Code"}, {fixture.project + "/.next"}}));

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

    const Json document =
        Json::parse(quillet(fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home}).out);
    EXPECT_EQ(document["roots"], Json::array({fixture.home + "/Code"}));  // saved roots replace suggestions
    EXPECT_EQ(document["kept"], Json::array({fixture.project + "/.next"}));
}

TEST(CommandLine, SuggestListsProjectFoldersInOrder) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    for (const char* folder : {"src", "Developer", "projects", "git", "notes"})
        tree.makeDir("home/" + std::string(folder));
    tree.writeFile("home/proj10/Cargo.toml");
    tree.writeFile("home/proj2/package.json");
    const Outcome run = quillet(tree, {"suggest", "--home", home});
    ASSERT_EQ(run.status, 0);
    std::vector<std::string> expected{"Developer", "proj2", "proj10", "src"};
#ifdef __linux__
    expected = {"Developer", "git", "proj2", "proj10", "projects", "src"};  // and Linux's lower-case folders
#endif
    std::string lines;
    for (const std::string& folder : expected) lines += home + "/" + folder + "\n";
    EXPECT_EQ(run.out, lines);
}

TEST(CommandLine, PlanPipedFromScanGivesTheExactPlanText) {
    FixtureHome fixture;
    const std::string scan = fixture.document();
    const std::string& modules = fixture.modules;
    const Json document = Json::parse(scan);
    const std::int64_t bytes = std::find_if(document["items"].begin(), document["items"].end(), [&](const Json& i) {
                                   return i["path"] == modules;
                               })->at("bytes");

    const Arguments plan{"plan", "--scan", "-", "--no-simulators", modules, modules};
    const Outcome run = quillet(fixture.tree, plan, scan);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string escaped;
    for (const char c : modules) escaped += (c == '/') ? std::string("\\/") : std::string(1, c);
    const std::string element = "  {\n    \"estimatedBytes\" : " + std::to_string(bytes) +
                                ",\n    \"operation\" : \"moveFolderToTrash\",\n    \"path\" : \"" + escaped +
                                "\",\n    \"title\" : \"site \\/ node_modules\"\n  }";
    EXPECT_EQ(run.out, "[\n" + element + ",\n" + element + "\n]\n");
    EXPECT_EQ(run.err, "");
    // A document from before items said what they free and hold plans the same.
    Json older = document;
    for (auto& item : older["items"]) {
        item.erase("freedBytes");
        item.erase("largest");
    }
    EXPECT_EQ(quillet(fixture.tree, plan, older.dump()).out, run.out);

    // A change after the scan keeps the item out, with the reason on standard error.
    fixture.tree.writeFile("home/Code/site/node_modules/new-file", "z");
    const Outcome changed = quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", modules}, scan);
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(changed.err, "site / node_modules: This item changed after the scan. Scan again before cleaning it.\n");

    // A path the scan did not find, or a document that is not a scan, plans nothing.
    const Outcome unknown = quillet(fixture.tree, {"plan", "--scan", "-", fixture.home + "/nothing"}, scan);
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
    Wiring wiring;
    wiring.whileRunning = [&](pid_t child) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(child, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        [[maybe_unused]] auto written = ::write(fd, R"({"devices": {}})", 15);
        ::close(fd);
    };
    const Outcome run = quillet(
        fixture.tree,
        {"scan", "--json", "--simulators", fifo, "--home", fixture.home, "--root", fixture.home + "/Code"}, {}, wiring);
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
    const Arguments scan{"scan", "--no-simulators", "--home", home, "--root", home + "/Code"};
    Arguments asJson = scan, asStream = scan;
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
    Wiring wiring;
    wiring.outPath = tree.path("stream.fifo");
    ASSERT_EQ(::mkfifo(wiring.outPath.c_str(), 0644), 0);
    std::string streamed;
    wiring.whileRunning = [&](pid_t child) {
        const int fd = ::open(wiring.outPath.c_str(), O_RDONLY | O_CLOEXEC);
        ::fcntl(fd, F_SETPIPE_SZ, 4096);
        char chunk[512];
        bool stopped = false;
        for (ssize_t count; (count = ::read(fd, chunk, sizeof chunk)) > 0;) {
            streamed.append(chunk, static_cast<std::size_t>(count));
            if (!stopped && std::ranges::count(streamed, '\n') >= 10) stopped = ::kill(child, SIGINT) == 0;
        }
        ::close(fd);
    };
    EXPECT_EQ(quillet(tree, asStream, {}, wiring).status, 130);
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
            EXPECT_EQ(std::ranges::count(last["notes"], note), 1);
        }
    }
    EXPECT_LE(incomplete, std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8));
}

TEST(CommandLine, PlanReadsStandardInputAsItIsGiven) {
    FixtureHome fixture;
    const std::string document = fixture.document();
    const auto planFrom = [&](int fd, uid_t user = static_cast<uid_t>(-1)) {
        Wiring wiring;
        wiring.inputFd = fd;
        wiring.user = user;
        const Outcome run =
            quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", fixture.modules}, {}, wiring);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("moveFolderToTrash"), std::string::npos) << run.err;
        ::close(fd);
    };
    // A socket, which cannot be opened by name.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(::write(pair[0], document.data(), document.size()), static_cast<ssize_t>(document.size()));
    ::close(pair[0]);
    planFrom(pair[1]);

    // A file opened past a header: reading starts where the descriptor stands, not at the start.
    const int fd = ::open(fixture.tree.writeFile("with-header.txt", "header\n" + document).c_str(), O_RDONLY);
    ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
    planFrom(fd);

    // A pipe made by another user (as when piping into sudo -u): the pipe is readable, its name is not.
    if (::geteuid() == 0) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        ASSERT_EQ(::write(pipeFds[1], document.data(), document.size()), static_cast<ssize_t>(document.size()));
        ::close(pipeFds[1]);
        planFrom(pipeFds[0], 65534);
    }
}

TEST(CommandLine, ReadingMoreThanTheCapSaysSo) {
    TempTree tree;
    const int fd = ::open(tree.writeFile("big", std::string(1024 * 1024 + 1, ' ')).c_str(), O_RDONLY);
    errno = ENOENT;  // what a stale errno used to report
    const Input input = readAll(fd, 1024 * 1024);
    ::close(fd);
    EXPECT_FALSE(input.text);
    EXPECT_TRUE(input.problem.starts_with("is larger than 1 MiB")) << input.problem;
}

TEST(CommandLine, AnOutputThatCannotBeWrittenFailsEveryCommand) {
    FixtureHome fixture;
    const std::string document = fixture.document();
    Wiring full;
    full.outPath = "/dev/full";
    for (const Arguments& arguments :
         std::vector<Arguments>{{"scan", "--json", "--no-simulators", "--home", fixture.home},
                                {"scan", "--no-simulators", "--home", fixture.home},
                                {"suggest", "--home", fixture.home},
                                {"plan", "--scan", "-", "--no-simulators", fixture.modules},
                                {"help"},
                                {"scan", "--help"},
                                {"--version"}}) {
        SCOPED_TRACE(arguments.front() + " " + arguments.back());
        const Outcome run = quillet(fixture.tree, arguments, document, full);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "quillet: the output could not be written: No space left on device\n");
    }
}

TEST(CommandLine, TableEscapesWhatWouldRestyleOrReorderTheTerminal) {
    FixtureHome fixture;
    // CSI as one C1 character, right-to-left override, left-to-right isolate and its pop, a
    // right-to-left mark, the Arabic letter mark, a line separator and a lone invalid byte.
    const std::vector<std::string> raw{"\xC2\x9B",     "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA9",
                                       "\xE2\x80\x8F", "\xD8\x9C",     "\xE2\x80\xA8", "\xC0"};
    const std::string name =
        "a" + raw[0] + "31m" + raw[1] + "b" + raw[2] + raw[3] + raw[4] + raw[5] + raw[6] + raw[7] + "é";
    fixture.tree.writeFile("home/Code/" + name + "/package.json", "{}");
    fixture.tree.writeFile("home/Code/" + name + "/node_modules/x", "x");
    const Outcome run = fixture.scan({});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string shown = "a\\u009b31m\\u202eb\\u2066\\u2069\\u200f\\u061c\\u2028\\xc0é";
    EXPECT_NE(run.out.find("~/Code/" + shown + "/node_modules"), std::string::npos) << run.out;
    for (const std::string& character : raw) EXPECT_EQ(run.out.find(character), std::string::npos);
}

TEST(CommandLine, FolderArgumentsMustBeFoldersAsGiven) {
    FixtureHome fixture;
    const std::string missing = fixture.tree.path("missing");
    const std::string file = fixture.tree.writeFile("file");
    const std::string link = fixture.tree.symlink(fixture.home + "/Code", "code-link");
    const std::string homeLink = fixture.tree.symlink(fixture.home, "home-link");
    const std::string document = fixture.document();
    auto refused = [&](const Arguments& arguments, const std::string& line) {
        SCOPED_TRACE(line);
        const Outcome run = quillet(fixture.tree, arguments, document);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, line);
    };
    const auto followed = [](const std::string& what, const std::string& how, const std::string& rule,
                             const std::string& target) {
        return "the " + what + " " + how + ", and " + rule +
               " are not followed through links; give the folder it points to: " + target + "\n";
    };
    for (const std::string command : {"scan", "suggest", "plan"}) {
        const auto withHome = [&](const std::string& home) {
            Arguments arguments{command, "--home", home};
            if (command == "plan") arguments.insert(arguments.end(), {"--scan", "-", "--no-simulators", "~/x"});
            return arguments;
        };
        const std::string prefix = "quillet " + command + ": ";
        refused(withHome(missing), prefix + "the home folder " + missing + " does not exist\n");
        refused(withHome(file), prefix + "the home folder " + file + " is not a folder\n");
        // The core takes a linked home for unsafe and would find nothing in it: refused up front.
        refused(withHome(homeLink),
                prefix + followed("home folder", homeLink + " is a symbolic link", "home folders", fixture.home));
    }
    refused({"plan", "--scan", missing, "/x"},
            "quillet plan: " + missing + " could not be read: No such file or directory\n");
    // Nothing is scanned: a missing root is a mistake, not an empty result.
    refused({"scan", "--home", fixture.home, "--root", fixture.home + "/Code", "--root", missing},
            "quillet scan: the project folder " + missing + " does not exist\n");
    refused({"scan", "--home", fixture.home, "--root", file},
            "quillet scan: the project folder " + file + " is not a folder\n");
    refused(
        {"scan", "--home", fixture.home, "--root", link},
        "quillet scan: " + followed("project folder", link + " is a symbolic link", "roots", fixture.home + "/Code"));
    refused(
        {"plan", "--scan", "-", "--root", link, "~/x"},
        "quillet plan: " + followed("project folder", link + " is a symbolic link", "roots", fixture.home + "/Code"));
    refused({"scan", "--home", homeLink + "/Code"},
            "quillet scan: " + followed("home folder", homeLink + "/Code lies behind a symbolic link", "home folders",
                                        fixture.home + "/Code"));
    refused({"scan", "--home", fixture.home, "--root", homeLink + "/Code"},
            "quillet scan: " + followed("project folder", homeLink + "/Code lies behind a symbolic link", "roots",
                                        fixture.home + "/Code"));

    const std::string locked = fixture.tree.makeDir("locked");
    ::chmod(locked.c_str(), 0);
    Wiring asNobody;  // root could read it anyway
    if (::geteuid() == 0) asNobody.user = 65534;
    const Outcome run = quillet(fixture.tree, {"suggest", "--home", locked}, {}, asNobody);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "quillet suggest: the home folder " + locked + " cannot be read: Permission denied\n");
}

TEST(CommandLine, PlanTakesThePathsTheTableShows) {
    FixtureHome fixture;
    const std::string document = fixture.document();
    const std::string link = fixture.tree.symlink(fixture.home + "/Code", "code-link");
    const Outcome run =
        quillet(fixture.tree,
                {"plan", "--scan", "-", "--no-simulators", "~/Code/site/node_modules", link + "/site/.next"}, document);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json plan = Json::parse(run.out);
    ASSERT_EQ(plan.size(), 2U);
    EXPECT_EQ(plan[0]["path"], fixture.modules);
    EXPECT_EQ(plan[1]["path"], fixture.project + "/.next");
    // "~" is the scan's home, not a folder of that name in the working folder; after "--" all are paths.
    EXPECT_EQ(quillet(fixture.tree, {"plan", "--scan", "-", "~x/Code/site/node_modules"}, document).status, 2);
    for (const std::string path : {"--x=y", "--no-simulators"}) {
        const Outcome named = quillet(fixture.tree, {"plan", "--scan", "-", "--", path}, document);
        EXPECT_EQ(named.status, 2);
        EXPECT_EQ(named.err, "quillet plan: no item of the scan has the path " + path + "\n");
    }
}

TEST(CommandLine, HelpAndVersionWhenAskedFor) {
    TempTree scratch;
    // Without arguments `quillet` is the window; the usage is its own subcommand.
    const Outcome help = quillet(scratch, {"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* part : {"quillet scan", "quillet plan", "quillet suggest", "exit status", "130"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(quillet(scratch, {"--help"}).out, help.out);
    EXPECT_EQ(quillet(scratch, {"-h"}).out, help.out);

    // A subcommand's help, whatever else is on the line (plan without its required --scan, too).
    for (const Arguments& arguments :
         std::vector<Arguments>{{"plan", "-h"}, {"plan", "--bogus", "--help"}, {"help", "plan"}}) {
        const Outcome run = quillet(scratch, arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out.starts_with("usage: quillet plan --scan FILE")) << run.out;
        EXPECT_NE(run.out.find("exit status"), std::string::npos);
    }
    EXPECT_NE(quillet(scratch, {"scan", "--help"}).out.find("--no-progress"), std::string::npos);
    EXPECT_TRUE(quillet(scratch, {"suggest", "--help"}).out.starts_with("usage: quillet suggest"));

    const Outcome version = quillet(scratch, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillet " QUILLET_VERSION "\n");
}

#ifdef __linux__
std::vector<std::string> itemPaths(const std::string& scanJson) {
    std::vector<std::string> paths;
    const Json document = Json::parse(scanJson);
    for (const auto& item : document["items"]) paths.push_back(item["path"]);
    std::ranges::sort(paths);
    return paths;
}

TEST(CommandLine, ScanJsonOnLinuxFindsEachCacheWhereLinuxToolsPutItAndPlansIt) {
    TempTree tree;
    const std::string home = tree.makeDir("home"), xdg = tree.makeDir("xdg-cache");
    for (const char* cache : {".cache/yarn", ".yarn/berry/cache", ".local/share/pnpm/store", ".npm/_cacache"}) {
        tree.writeFile("home/" + std::string(cache) + "/v1/entry", cache);
    }
    tree.writeFile("xdg-cache/yarn/v6/entry", "the caller's own yarn cache");

    // Own home: XDG_CACHE_HOME decides where Yarn 1 is; an empty XDG_DATA_HOME does not count.
    Wiring own, caller;
    own.environment = {{"HOME", home}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", ""}};
    const Outcome scan = quillet(tree, {"scan", "--json", "--no-roots"}, {}, own);
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(itemPaths(scan.out), (std::vector<std::string>{home + "/.local/share/pnpm/store", home + "/.npm/_cacache",
                                                             home + "/.yarn/berry/cache", xdg + "/yarn"}));
    // No developer tools and no device folder: nothing to inventory, so no note about it.
    if (!tarnby::fs::exists("/usr/bin/xcrun")) {
        EXPECT_EQ(Json::parse(scan.out)["notes"], Json::array());
    }

    // The plan re-checks against the same locations. For another user the caller's XDG folders
    // describe the caller's home, not this one: the item is no target.
    caller.environment = {{"HOME", tree.makeDir("caller")}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", "relative"}};
    const Outcome plan = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, own);
    ASSERT_EQ(plan.status, 0) << plan.err;
    const Json planned = Json::parse(plan.out);
    ASSERT_EQ(planned.size(), 1U);
    EXPECT_EQ(planned[0]["title"], "Yarn cache");
    const Outcome refused = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, caller);
    EXPECT_EQ(Json::parse(refused.out), Json::array());
    EXPECT_EQ(refused.err, "Yarn cache: This path is no longer a recognized cleanup target. Scan again.\n");

    // A copied macOS home with a device folder: the inventory is asked, and its failure told.
    tree.makeDir("home/Library/Developer/CoreSimulator/Devices/0F5C9B7E-1D2A-4C3B-9E8F-7A6B5C4D3E2F");
    const Json notes =
        Json::parse(quillet(tree, {"scan", "--json", "--no-roots", "--home", home}, {}, caller).out)["notes"];
    ASSERT_EQ(notes.size(), 1U);
    EXPECT_TRUE(
        notes[0].get<std::string>().starts_with("Simulator inventory unavailable. Simulator cleanup is disabled. "));
}
#endif

}  // namespace
}  // namespace quillet::cli
