#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/preferences/saved_preferences.h"
#include "cli/scan_document.h"
#include "core/platform/file_system.h"
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

// Starts the real executable with `input` on standard input; `whileRunning` gets its pid.
// `changes` are made to the child's environment only.
Outcome quillet(const TempTree& scratch, const std::vector<std::string>& arguments, const std::string& input = {},
            const std::function<void(pid_t)>& whileRunning = {}, const Variables& changes = {}) {
    static int counter = 0;
    const std::string base = scratch.path("run" + std::to_string(++counter));
    const std::string in = scratch.writeFile("run" + std::to_string(counter) + ".in", input);
    std::vector<std::string> argv{QUILLET_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = environmentWith(changes);
    std::vector<char*> rawEnvironment;
    for (auto& entry : environment) rawEnvironment.push_back(entry.data());
    rawEnvironment.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int inFd = ::open(in.c_str(), O_RDONLY);
        const int outFd = ::open((base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = ::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(inFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
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
    run.out = tarnby::fs::readFile(base + ".out").value_or("");
    run.err = tarnby::fs::readFile(base + ".err").value_or("");
    return run;
}

// A home with one project holding node_modules and .next, and an npm cache.
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
    }
};

TEST(CommandLine, RefusesBadArgumentsWithOneLineAndStatusTwo) {
    TempTree scratch;
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {"scan", "--bogus"}, {"scan", "--home"}, {"scan", "--simulators", "f", "--no-simulators"},
             {"scan", "--root", "/x", "--no-roots"}, {"plan", "/x"}, {"plan", "--scan", "/absent.json", "/x"}}) {
        SCOPED_TRACE(arguments.front() + " " + (arguments.size() > 1 ? arguments[1] : ""));
        const Outcome run = quillet(scratch, arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty());
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);  // exactly one line
    }
    const Outcome usage = quillet(scratch, {});
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
    EXPECT_EQ(notes[1].get<std::string>().rfind("Simulator inventory unavailable. Simulator cleanup is disabled. ", 0), 0U);

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
    EXPECT_TRUE((*modules)["modified"].is_number_float());
    for (const char* key : {"explanation", "rebuild", "files", "complete", "selectable", "deviceID", "lastBoot",
                            "protection"}) {
        EXPECT_TRUE(modules->contains(key)) << key;
    }
}

TEST(CommandLine, OutputStaysValidWhateverBytesANameHolds) {
    FixtureHome fixture;
    const std::string odd = "home/Code/bad\xff\nname";
    fixture.tree.writeFile(odd + "/package.json", "{}");
    fixture.tree.writeFile(odd + "/node_modules/x", "x");
    const Outcome run = quillet(fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home, "--root",
                                           fixture.home + "/Code"});
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

    const Outcome table = quillet(fixture.tree, {"scan", "--no-simulators", "--home", fixture.home, "--root",
                                             fixture.home + "/Code"});
    EXPECT_NE(table.out.find("bad\xEF\xBF\xBD\\nname / node_modules"), std::string::npos) << table.out;
}

TEST(CommandLine, TableShowsHomeAsTildeTotalsAndHidesKeptItems) {
    FixtureHome fixture;
    SavedPreferences saved;
    saved.roots = {fixture.home + "/Code"};
    saved.kept = {fixture.project + "/.next"};
    ASSERT_FALSE(savePreferences(fixture.home, saved).has_value());

    const Outcome run = quillet(fixture.tree, {"scan", "--no-simulators", "--home", fixture.home});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("~/Code/site/node_modules"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("~/Code/site/.next"), std::string::npos);  // kept, so hidden
    EXPECT_NE(run.out.find("2 items (1 kept item hidden"), std::string::npos) << run.out;
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
    const Outcome scan = quillet(fixture.tree, {"scan", "--json", "--no-simulators", "--home", fixture.home, "--root",
                                            fixture.home + "/Code"});
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
    const Outcome run = quillet(fixture.tree, {"scan", "--json", "--simulators", fifo, "--home", fixture.home, "--root",
                                           fixture.home + "/Code"},
                            {}, [&](pid_t child) {
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

#ifdef __linux__
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
    const Variables caller{{"HOME", tree.makeDir("caller")}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", "relative"}};
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
    const Variables own{{"HOME", home}, {"XDG_CACHE_HOME", xdg}, {"XDG_DATA_HOME", ""}};
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
    EXPECT_EQ(planned[0]["title"], "yarn");
    const Outcome refused = quillet(tree, {"plan", "--scan", "-", xdg + "/yarn"}, scan.out, {}, caller);
    EXPECT_EQ(Json::parse(refused.out), Json::array());
    EXPECT_EQ(refused.err, "yarn: This path is no longer a recognized cleanup target. Scan again.\n");

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
