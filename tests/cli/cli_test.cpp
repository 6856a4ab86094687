#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/scan_document.h"
#include "core/preferences/saved_preferences.h"
#include "core/scanning/file_inspection.h"
#include "tests/cli/run_quillet.h"

namespace quillet::cli {
namespace {

using tarnby::testing::TempTree;
using Json = nlohmann::json;
constexpr auto npos = std::string::npos;

TEST(CommandLine, RefusesBadInputWithOneLineAndStatusTwo) {
    FixtureHome fixture;
    const std::string home = fixture.home, code = home + "/Code", missing = fixture.tree.path("missing");
    const std::string file = fixture.tree.writeFile("file"),
                      corrupt = fixture.tree.writeFile("corrupt", "{\"home\":3}");
    const std::string link = fixture.tree.symlink(code, "code-link"),
                      homeLink = fixture.tree.symlink(home, "home-link");
    const auto followed = [](const std::string& what, const std::string& how, const std::string& rule,
                             const std::string& target) {
        return "the " + what + " " + how + ", and " + rule +
               " are not followed through links; give the folder it points to: " + target;
    };
    const std::string linkedRoot = followed("project folder", link + " is a symbolic link", "roots", code);
    const std::string unknown = "quillet plan: no item of the scan has the path ";
    std::vector<std::pair<Arguments, std::string>> rows{
        {{"frobnicate"}, "quillet: unknown command frobnicate (try quillet help)"},
        {{"scan", "--bogus"}, "quillet scan: unknown option --bogus (see quillet scan --help)"},
        {{"scan", "--home"}, "quillet scan: --home needs a value"},
        {{"scan", "--home="}, "quillet scan: --home needs a value, not an empty one"},
        {{"scan", "--root", ""}, "quillet scan: --root needs a value, not an empty one"},
        {{"scan", "--json=yes"}, "quillet scan: --json takes no value"},
        {{"scan", "--json", "--json-stream"}, "quillet scan: choose one of --json and --json-stream"},
        {{"scan", "--simulators", "f", "--no-simulators"},
         "quillet: choose one of --simulators FILE and --no-simulators"},
        {{"scan", "--root", "/x", "--no-roots"}, "quillet: --no-roots cannot be combined with --root"},
        {{"scan", "--", "--json"}, "quillet scan: unexpected argument --json (folders go after --root)"},
        {{"suggest", "--home", ""}, "quillet suggest: --home needs a value, not an empty one"},
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
        // Nothing is scanned: a missing root is a mistake, not an empty result.
        {{"scan", "--home", home, "--root", code, "--root", missing},
         "quillet scan: the project folder " + missing + " does not exist"},
        {{"scan", "--home", home, "--root", file}, "quillet scan: the project folder " + file + " is not a folder"},
        {{"scan", "--home", home, "--root", link}, "quillet scan: " + linkedRoot},
        {{"plan", "--scan", "-", "--root", link, "~/x"}, "quillet plan: " + linkedRoot},
        {{"scan", "--home", homeLink + "/Code"},
         "quillet scan: " +
             followed("home folder", homeLink + "/Code lies behind a symbolic link", "home folders", code)},
        {{"scan", "--home", home, "--root", homeLink + "/Code"},
         "quillet scan: " + followed("project folder", homeLink + "/Code lies behind a symbolic link", "roots", code)}};
    for (const std::string command : {"scan", "suggest", "plan"}) {
        const auto withHome = [&](const std::string& folder, const std::string& line) {
            Arguments arguments{command, "--home", folder};
            if (command == "plan") arguments.insert(arguments.end(), {"--scan", "-", "--no-simulators", "~/x"});
            rows.emplace_back(arguments, "quillet " + command + ": " + line);
        };
        withHome(missing, "the home folder " + missing + " does not exist");
        withHome(file, "the home folder " + file + " is not a folder");
        // The core takes a linked home for unsafe and would find nothing in it: refused up front.
        withHome(homeLink, followed("home folder", homeLink + " is a symbolic link", "home folders", home));
    }
    const std::string document = fixture.document();
    for (const auto& [arguments, line] : rows) {
        SCOPED_TRACE(line);
        const Outcome run = fixture.run(arguments, document);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, line + "\n");
    }

    const std::string locked = fixture.tree.makeDir("locked");
    ::chmod(locked.c_str(), 0);
    Wiring asNobody;  // root could read it anyway
    if (::geteuid() == 0) asNobody.user = 65534;
    const Outcome run = quillet(fixture.tree, {"suggest", "--home", locked}, {}, asNobody);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "quillet suggest: the home folder " + locked + " cannot be read: Permission denied\n");
}

// The item at `path` as the core measures it, as `scan --json` should list it; the catalogue's
// texts are taken from `listed`, and so is its date once it matches to the microsecond.
Json measuredItem(const Json& listed, const std::string& path, const std::string& kind, const std::string& title) {
    const auto measured = tarnby::FileInspection::measure(path, tarnby::ScanCancellation());
    Json largest = Json::array();
    for (const auto& child : measured.largest) largest.push_back({{"name", child.name}, {"bytes", child.bytes}});
    EXPECT_NEAR(listed["modified"].get<double>(),
                std::chrono::duration<double>(measured.modified->time_since_epoch()).count(), 1e-6);
    return {{"path", path},
            {"kind", kind},
            {"title", title},
            {"explanation", listed["explanation"]},
            {"rebuild", listed["rebuild"]},
            {"bytes", measured.bytes},
            {"files", measured.files},
            {"modified", listed["modified"]},
            {"fingerprint", measured.fingerprint},
            {"complete", true},
            {"freedBytes", measured.freedBytes},
            {"largest", largest},
            {"selectable", true},
            {"deviceID", nullptr},
            {"lastBoot", nullptr},
            {"protection", nullptr}};
}

TEST(CommandLine, ScanJsonIsTheWholeScanAndReadsBackTheSame) {
    FixtureHome fixture;
    const Outcome run = fixture.scan({"--json", "--root", "/"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json document = Json::parse(run.out);
    const Json& items = document["items"];
    ASSERT_EQ(items.size(), 3U);
    EXPECT_EQ(document,
              Json({{"home", fixture.home},
                    {"roots", Json::array({fixture.home + "/Code", "/"})},
                    {"kept", Json::array()},
                    {"cancelled", false},
                    {"notes", Json::array({"Choose a project folder instead of a system location: /",
                                           "Simulator inventory unavailable. Simulator cleanup is disabled. The "
                                           "simulator tool was not asked (--no-simulators)."})},
                    {"items",
                     {measuredItem(items[0], fixture.home + "/.npm/_cacache", "caches", "_cacache"),
                      measuredItem(items[1], fixture.modules, "dependencies", "site / node_modules"),
                      measuredItem(items[2], fixture.project + "/.next", "builds", "site / .next")}}}));
    EXPECT_LT(items[1]["freedBytes"], items[1]["bytes"]);  // the cache holds a link to its file

    // Read back and written again, it is the same document (its dates to the microsecond).
    Json again = Json::parse(encodeScanDocument(decodeScanDocument(run.out)));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_NEAR(again["items"][i]["modified"].get<double>(), items[i]["modified"].get<double>(), 1e-6);
        again["items"][i]["modified"] = items[i]["modified"];
    }
    EXPECT_EQ(again, document);
}

TEST(CommandLine, NamesOfAnyBytesStayValidJsonAndCannotRestyleTheTerminal) {
    FixtureHome fixture;
    // CSI as one C1 character, right-to-left override, left-to-right isolate and its pop, a
    // right-to-left mark, the Arabic letter mark, a line separator and a lone invalid byte.
    const std::vector<std::string> raw{"\xC2\x9B",     "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA9",
                                       "\xE2\x80\x8F", "\xD8\x9C",     "\xE2\x80\xA8", "\xFF"};
    std::string name = "a\n";
    for (const std::string& character : raw) name += character;
    const std::string project = "home/Code/" + name + "é", longName(255, 'n');
    fixture.tree.writeFile(project + "/package.json", "{}");
    for (const std::string child : {"line\nbreak", "pipe|name", "\xff\xfe invalid", longName.c_str()}) {
        fixture.tree.writeFile(project + "/node_modules/" + child, child);
    }
    const Outcome table = fixture.scan({});
    ASSERT_EQ(table.status, 0) << table.err;
    const std::string shown = "a\\n\\u009b\\u202e\\u2066\\u2069\\u200f\\u061c\\u2028\\xffé";
    EXPECT_NE(table.out.find("~/Code/" + shown + "/node_modules"), npos) << table.out;
    for (const std::string& character : raw) EXPECT_EQ(table.out.find(character), npos);

    const Outcome json = fixture.scan();
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(Json::accept(json.out));  // rejects invalid UTF-8
    // The exact path still round-trips for planning, and its walk saw everything.
    const ScanDocument decoded = decodeScanDocument(json.out);
    const std::string exact = fixture.tree.path(project + "/node_modules");
    const auto item = std::ranges::find(decoded.result.items, exact, &tarnby::StorageItem::url);
    ASSERT_NE(item, decoded.result.items.end());
    EXPECT_TRUE(item->measurement.complete);
    EXPECT_EQ(item->title, name.substr(0, name.size() - 1) + "\xEF\xBF\xBDé / node_modules");
    // Planning it finds the item, but a plan's JSON cannot hold the path: a failure, not "[]".
    const Outcome plan = fixture.run({"plan", "--scan", "-", "--no-simulators", exact}, json.out);
    EXPECT_EQ(plan.status, 1);
    EXPECT_NE(plan.err.find("could not be written as JSON text"), npos) << plan.err;
}

TEST(CommandLine, TableShowsHomeAsTildeTotalsAndHidesKeptItems) {
    FixtureHome fixture;
    ASSERT_FALSE(tarnby::savePreferences(fixture.home, {{fixture.home + "/Code"}, {fixture.project + "/.next"}}));
    const Arguments scan{"scan", "--no-simulators", "--home", fixture.home};
    const Outcome run = fixture.run(scan);
    ASSERT_EQ(run.status, 0) << run.err;
    // Both listed items hold the shared file; cleaning both frees it once.
    for (const char* part : {"  ~/Code/site/node_modules\n", "  ~/.npm/_cacache\n", "in 2 items (1 kept item hidden",
                             "\nCleaning them all would free ", "\n  Simulator inventory unavailable."}) {
        EXPECT_NE(run.out.find(part), npos) << part << " in\n" << run.out;
    }
    EXPECT_EQ(run.out.find("~/Code/site/.next"), npos);  // kept, so hidden
    Arguments all = scan;
    all.push_back("--all");
    EXPECT_NE(fixture.run(all).out.find("~/Code/site/.next  [kept]"), npos);

    all.back() = "--json";
    const Json document = Json::parse(fixture.run(all).out);
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
    const std::string scan = fixture.document(), &modules = fixture.modules;
    const Json document = Json::parse(scan);
    // The same item twice: as the scan lists it, and as the table shows it.
    const Arguments plan{"plan", "--scan", "-", "--no-simulators", modules, "~/Code/site/node_modules"};
    const Outcome run = fixture.run(plan, scan);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string escaped;
    for (const char c : modules) escaped += (c == '/') ? std::string("\\/") : std::string(1, c);
    const std::string element = "  {\n    \"estimatedBytes\" : " + document["items"][1]["bytes"].dump() +
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
    EXPECT_EQ(fixture.run(plan, older.dump()).out, run.out);
    // A path through a link names the item it resolves to.
    const std::string link = fixture.tree.symlink(fixture.home + "/Code", "code-link") + "/site/.next";
    EXPECT_EQ(Json::parse(fixture.run({"plan", "--scan", "-", "--no-simulators", link}, scan).out)[0]["path"],
              fixture.project + "/.next");

    // A change after the scan keeps the item out, with the reason on standard error.
    fixture.tree.writeFile("home/Code/site/node_modules/new-file", "z");
    const Outcome changed = fixture.run({"plan", "--scan", "-", "--no-simulators", modules}, scan);
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(Json::parse(changed.out), Json::array());
    EXPECT_EQ(changed.err, "site / node_modules: This item changed after the scan. Scan again before cleaning it.\n");
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
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != npos; start = end + 1) {
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

TEST(CommandLine, PlanReadsStandardInputAsItIsGivenUpToTheCap) {
    FixtureHome fixture;
    const std::string document = fixture.document();
    const auto planFrom = [&](int fd, uid_t user = static_cast<uid_t>(-1)) {
        Wiring wiring;
        wiring.inputFd = fd;
        wiring.user = user;
        const Outcome run =
            quillet(fixture.tree, {"plan", "--scan", "-", "--no-simulators", fixture.modules}, {}, wiring);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("moveFolderToTrash"), npos) << run.err;
        ::close(fd);
    };
    // A socket, which cannot be opened by name.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(::write(pair[0], document.data(), document.size()), static_cast<ssize_t>(document.size()));
    ::close(pair[0]);
    planFrom(pair[1]);

    // A file opened past a header: reading starts where the descriptor stands, not at the start.
    int fd = ::open(fixture.tree.writeFile("with-header.txt", "header\n" + document).c_str(), O_RDONLY);
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

    fd = ::open(fixture.tree.writeFile("big", std::string(1024 * 1024 + 1, ' ')).c_str(), O_RDONLY);
    errno = ENOENT;  // what a stale errno used to report
    const Input input = readAll(fd, 1024 * 1024);
    ::close(fd);
    EXPECT_FALSE(input.text);
    EXPECT_TRUE(input.problem.starts_with("is larger than 1 MiB")) << input.problem;
}

TEST(CommandLine, AnOutputThatCannotBeWrittenFailsEveryCommand) {
    FixtureHome fixture;
    const std::string document = fixture.document();
    Wiring full = fixture.wiring;
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

// Without arguments `quillet` is the window; the usage is its own subcommand, and a subcommand's
// help is given whatever else is on the line (plan without its required --scan, too).
TEST(CommandLine, HelpAndVersionWhenAskedFor) {
    TempTree scratch;
    for (const auto& [arguments, topic] :
         std::vector<std::pair<Arguments, std::string>>{{{"help"}, ""},
                                                        {{"--help"}, ""},
                                                        {{"-h"}, ""},
                                                        {{"plan", "-h"}, "plan"},
                                                        {{"plan", "--bogus", "--help"}, "plan"},
                                                        {{"help", "plan"}, "plan"},
                                                        {{"scan", "--help"}, "scan"},
                                                        {{"suggest", "--help"}, "suggest"}}) {
        SCOPED_TRACE(arguments.back());
        const Outcome run = quillet(scratch, arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, helpText(topic));
    }
    const Outcome version = quillet(scratch, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillet " QUILLET_VERSION "\n");
}

#ifdef __linux__
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
    const Json document = Json::parse(scan.out);
    std::vector<std::string> paths;
    for (const auto& item : document["items"]) paths.push_back(item["path"]);
    std::ranges::sort(paths);
    EXPECT_EQ(paths, (std::vector<std::string>{home + "/.local/share/pnpm/store", home + "/.npm/_cacache",
                                               home + "/.yarn/berry/cache", xdg + "/yarn"}));
    // No developer tools and no device folder: nothing to inventory, so no note about it.
    if (!tarnby::fs::exists("/usr/bin/xcrun")) {
        EXPECT_EQ(document["notes"], Json::array());
    }

    // The plan re-checks against the same locations. For another user the caller's XDG folders
    // describe the caller's home, not this one: the item is no target.
    caller.environment = {{"HOME", tree.makeDir("caller")}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", "relative"}};
    const Outcome plan = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, own);
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(Json::parse(plan.out)[0]["title"], "Yarn cache");
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
