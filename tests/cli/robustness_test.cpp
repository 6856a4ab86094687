// The real `quillet` binary under pressure: awkward names and dates, few descriptors, little
// memory, and proof that a scan and a plan leave every file as they found it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/scan_document.h"
#include "core/platform/file_system.h"
#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace quillet::cli {
namespace {

using tarnby::testing::TempTree;
using Json = nlohmann::json;

struct Limits {
    rlim_t openFiles = RLIM_INFINITY;
    rlim_t addressSpace = RLIM_INFINITY;
};

struct Finished {
    int exitStatus = -1;  // -1 when a signal ended it
    int signal = 0;
    std::string out;
    std::string err;
};

// Runs the binary in `workingFolder` with its temporary folder pointed at `temporary`, under `limits`
// (soft and hard, so it cannot raise them again), with `input` on standard input.
Finished runQuillet(const TempTree& scratch, const std::vector<std::string>& arguments,
                    const std::string& workingFolder, const std::string& temporary, const Limits& limits = {},
                    const std::string& input = {}) {
    const std::string in = scratch.writeFile("stdin", input);
    const std::string out = scratch.path("stdout");
    const std::string err = scratch.path("stderr");
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(::open(in.c_str(), O_RDONLY), 0);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (::chdir(workingFolder.c_str()) != 0) ::_exit(125);
        ::setenv("TMPDIR", temporary.c_str(), 1);
        const rlimit files{limits.openFiles, limits.openFiles};
        const rlimit memory{limits.addressSpace, limits.addressSpace};
        if ((limits.openFiles != RLIM_INFINITY && ::setrlimit(RLIMIT_NOFILE, &files) != 0) ||
            (limits.addressSpace != RLIM_INFINITY && ::setrlimit(RLIMIT_AS, &memory) != 0)) {
            ::_exit(125);
        }
        std::vector<std::string> argv{QUILLET_EXECUTABLE};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> raw;
        for (auto& argument : argv) raw.push_back(argument.data());
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Finished finished;
    if (WIFEXITED(status)) {
        finished.exitStatus = WEXITSTATUS(status);
    } else {
        finished.signal = WTERMSIG(status);
    }
    finished.out = tarnby::fs::readFile(out).value_or("");
    finished.err = tarnby::fs::readFile(err).value_or("");
    return finished;
}

// A home with two projects, an npm cache and DerivedData, plus whatever a test adds.
struct Home {
    TempTree tree;
    TempTree streams;  // the runs' standard input, output and error, away from the tree
    std::string home = tree.makeDir("home");
    std::string work = tree.makeDir("work");
    std::string temporary = tree.makeDir("tmp");
    std::string modules = home + "/Code/site/node_modules";

    Home() {
        tree.writeFile("home/Code/site/package.json", "{}");
        tree.writeFile("home/Code/site/node_modules/left-pad/index.js", std::string(9000, 'x'));
        tree.writeFile("home/Code/rusty/Cargo.toml", "[package]");
        tree.writeFile("home/Code/rusty/target/debug/app", std::string(5000, 'r'));
        tree.writeFile("home/.npm/_cacache/index", std::string(20000, 'y'));
        tree.writeFile("home/Library/Developer/Xcode/DerivedData/App-abc/Build/x", "x");
    }

    std::vector<std::string> scan(bool json) const {
        std::vector<std::string> arguments{"scan", "--no-simulators", "--home", home, "--root", home + "/Code"};
        if (json) arguments.push_back("--json");
        return arguments;
    }
};

// Every item's path and fingerprint in a `scan --json` document.
std::map<std::string, std::string> fingerprints(const std::string& document) {
    std::map<std::string, std::string> result;
    const Json parsed = Json::parse(document);
    for (const Json& item : parsed["items"]) {
        result[item["path"].get<std::string>()] = item["fingerprint"].get<std::string>();
    }
    return result;
}

TEST(Robustness, AwkwardNamesComeOutAsValidJsonWithTheSameFingerprintTwice) {
    Home fixture;
    const std::string longName(255, 'n');
    for (const std::string name : {"line\nbreak", "pipe|name", "\xff\xfe invalid", "a|0", "a.", "|", "\n",
                                   "x|1:2|33188|5|6:7|8:9", longName.c_str()}) {
        fixture.tree.writeFile("home/Code/site/node_modules/" + name, name);
    }
    fixture.tree.writeFile("home/Code/site/node_modules/a/inner", "i");
    fixture.tree.writeFile("home/Code/odd\xff|\nproject/package.json", "{}");
    fixture.tree.writeFile("home/Code/odd\xff|\nproject/node_modules/" + longName, "x");

    const Finished first = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary);
    const Finished second = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary);
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    ASSERT_TRUE(Json::accept(first.out)) << "not valid JSON (or not UTF-8)";
    const auto seen = fingerprints(first.out);
    EXPECT_EQ(seen, fingerprints(second.out));
    EXPECT_EQ(seen.size(), 5u) << first.out;
    const Json parsed = Json::parse(first.out);
    for (const Json& item : parsed["items"]) {
        EXPECT_TRUE(item["complete"].get<bool>()) << item.dump();
    }
}

// ext4 keeps dates up to the year 2446; a time point ends in 2262.
TEST(Robustness, FilesDatedPastWhatATimePointHoldsAreScannedAndPlanned) {
    Home fixture;
    const std::string future = fixture.tree.writeFile("home/Code/site/node_modules/left-pad/future.js", "f");
    const timespec times[2] = {{0, UTIME_OMIT}, {13'569'465'600, 0}};  // 2400-01-01
    if (::utimensat(AT_FDCWD, future.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        GTEST_SKIP() << "this file system cannot hold the date";
    }
    const Finished scan = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary);
    ASSERT_EQ(scan.exitStatus, 0) << scan.err;
    const ScanDocument document = decodeScanDocument(scan.out);
    const auto item = std::find_if(document.result.items.begin(), document.result.items.end(),
                                   [&](const tarnby::StorageItem& found) { return found.url == fixture.modules; });
    ASSERT_NE(item, document.result.items.end());
    ASSERT_TRUE(item->measurement.modified);
    EXPECT_GT(*item->measurement.modified, std::chrono::system_clock::now() + std::chrono::hours(24 * 365 * 200))
        << "the newest change must stay the far future, not wrap into the past";

    const Finished plan = runQuillet(fixture.streams, {"plan", "--scan", "-", "--no-simulators", fixture.modules},
                                     fixture.work, fixture.temporary, {}, scan.out);
    EXPECT_EQ(plan.exitStatus, 0) << plan.err;
    EXPECT_NE(plan.out.find("moveFolderToTrash"), std::string::npos) << plan.out;

    // Found by fuzzing: a date between 2262 and the decoder's bound overflowed while being read.
    std::string text = scan.out;
    const std::size_t at = text.find("\"modified\":");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, text.find(',', at) - at, "\"modified\":12796610956.5");
    const ScanDocument farOff = decodeScanDocument(text);
    EXPECT_EQ(encodeScanDocument(decodeScanDocument(encodeScanDocument(farOff))), encodeScanDocument(farOff));
    EXPECT_THROW(decodeScanDocument(text.replace(at, text.find(',', at) - at, "\"modified\":1e12")),
                 tarnby::DecodingError);
}

// Many folders and a deep chain, so a scan needs more descriptors and memory than it is given.
void addBulk(const Home& fixture) {
    for (int project = 0; project < 30; ++project) {
        const std::string base = "home/Code/p" + std::to_string(project);
        fixture.tree.writeFile(base + "/package.json", "{}");
        for (int file = 0; file < 40; ++file) {
            fixture.tree.writeFile(base + "/node_modules/m" + std::to_string(file % 8) + "/f" + std::to_string(file),
                                   "x");
        }
    }
    std::string deep = "home/Code/deep/node_modules";
    fixture.tree.writeFile("home/Code/deep/package.json", "{}");
    for (int level = 0; level < 150; ++level) deep += "/d";
    fixture.tree.writeFile(deep + "/bottom", "b");
}

TEST(Robustness, FewDescriptorsGiveAWholeResultAndLittleMemoryAClearEndNeverACrash) {
    Home fixture;
    addBulk(fixture);
    const Finished free = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary);
    ASSERT_EQ(free.exitStatus, 0) << free.err;

    // 64 descriptors: the walks keep theirs bounded, so the result is the same.
    const Finished few = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary, {64});
    EXPECT_EQ(few.exitStatus, 0) << few.err;
    EXPECT_EQ(fingerprints(few.out), fingerprints(free.out));
    // Even fewer: the scan cannot be whole, and says so rather than crashing.
    for (const rlim_t descriptors : {12, 8, 5}) {
        const Finished starved =
            runQuillet(fixture.streams, fixture.scan(false), fixture.work, fixture.temporary, {descriptors});
        EXPECT_EQ(starved.signal, 0) << descriptors << " descriptors: " << starved.err;
        if (starved.exitStatus != 0) {
            EXPECT_FALSE(starved.err.empty()) << descriptors << " descriptors";
        }
    }

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve terabytes of address space; the memory half needs a plain build";
#else
    // Address space from too little to start up to plenty: always an exit status, and a message with a failure.
    int whole = 0;
    for (const rlim_t megabytes : {8, 16, 24, 32, 48, 64, 96, 128, 256, 512}) {
        const Finished tight = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary,
                                          {RLIM_INFINITY, megabytes * 1024 * 1024});
        EXPECT_EQ(tight.signal, 0) << megabytes << " MB: " << tight.err;
        if (tight.exitStatus != 0) {
            EXPECT_FALSE(tight.err.empty()) << megabytes << " MB";
        } else if (Json::accept(tight.out) && fingerprints(tight.out) == fingerprints(free.out)) {
            ++whole;
        }
    }
    EXPECT_GT(whole, 0) << "no limit was large enough for a whole scan";
#endif
}

// Everything below `root` (links not followed) with what a write would change: type and
// permissions, size, identity, modification and status-change times.
std::map<std::string, std::string> listing(const std::string& root) {
    std::map<std::string, std::string> result;
    std::error_code error;
    const auto describe = [&result](const std::string& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            result[path] = "unreadable";
            return;
        }
        std::ostringstream line;
        line << info.st_mode << ' ' << info.st_size << ' ' << info.st_ino << ' ' << info.st_nlink << ' '
             << info.st_mtim.tv_sec << '.' << info.st_mtim.tv_nsec << ' ' << info.st_ctim.tv_sec << '.'
             << info.st_ctim.tv_nsec;
        result[path] = line.str();
    };
    describe(root);
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        describe(it->path().string());
    }
    return result;
}

std::string differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
    std::string text;
    for (const auto& [path, state] : before) {
        const auto found = after.find(path);
        if (found == after.end()) {
            text += "removed " + path + "\n";
        } else if (found->second != state) {
            text += "changed " + path + ": " + state + " -> " + found->second + "\n";
        }
    }
    for (const auto& [path, state] : after) {
        if (!before.contains(path)) text += "created " + path + "\n";
    }
    return text;
}

TEST(Robustness, AScanAndAPlanChangeNothingOnDisk) {
    Home fixture;
    addBulk(fixture);
    fixture.tree.writeFile("home/Library/Application Support/Tarnby/preferences.json",
                           R"({"roots":[],"kept":[")" + fixture.home + R"(/Code/p3/node_modules"]})");
    fixture.tree.symlink(fixture.home + "/Code", "home/Code-link");
    ASSERT_EQ(::mkfifo((fixture.modules + "/fifo").c_str(), 0644), 0);
    const auto before = listing(fixture.tree.root());

    const Finished table = runQuillet(fixture.streams, fixture.scan(false), fixture.work, fixture.temporary);
    EXPECT_EQ(table.exitStatus, 0) << table.err;
    const Finished json = runQuillet(fixture.streams, fixture.scan(true), fixture.work, fixture.temporary);
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    const Finished suggest =
        runQuillet(fixture.streams, {"suggest", "--home", fixture.home}, fixture.work, fixture.temporary);
    EXPECT_EQ(suggest.exitStatus, 0) << suggest.err;
    std::vector<std::string> plan{"plan", "--scan", "-", "--no-simulators", "--acknowledge-simulator-risk"};
    for (const auto& [path, fingerprint] : fingerprints(json.out)) plan.push_back(path);
    const Finished planned = runQuillet(fixture.streams, plan, fixture.work, fixture.temporary, {}, json.out);
    EXPECT_EQ(planned.exitStatus, 0) << planned.err.substr(0, 2000);
    EXPECT_GE(std::count(planned.out.begin(), planned.out.end(), '{'), 30) << planned.out;

    EXPECT_EQ(differences(before, listing(fixture.tree.root())), "");
    EXPECT_TRUE(std::filesystem::is_empty(fixture.work)) << "the working folder got files";
    EXPECT_TRUE(std::filesystem::is_empty(fixture.temporary)) << "the temporary folder got files";
}

}  // namespace
}  // namespace quillet::cli
