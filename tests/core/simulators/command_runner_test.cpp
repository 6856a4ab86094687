#include "core/simulators/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <dirent.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/platform/file_system.h"
#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using CommandRunner::run;
using testing::TempTree;

std::string writeScript(const TempTree& tree, const std::string& name, const std::string& body) {
    const std::string path = tree.writeFile(name, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

// Processes in group `group` that have not ended (zombies have ended). Linux only: reads /proc.
std::vector<pid_t> livingMembers(pid_t group) {
    std::vector<pid_t> members;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return members;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 1));
        char state = 0;
        pid_t parent = 0, processGroup = 0;
        fields >> state >> parent >> processGroup;
        if (processGroup == group && state != 'Z' && state != 'X') members.push_back(pid);
    }
    ::closedir(proc);
    return members;
}

// Killed processes that are not our children die on their own time; give them a moment.
std::vector<pid_t> livingMembersAfterAMoment(pid_t group) {
    std::vector<pid_t> members;
    for (int attempt = 0; attempt < 200 && !(members = livingMembers(group)).empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return members;
}

// The first process id written to `file`: the tool's, whose group the runner made.
pid_t firstPid(const std::string& file) { return std::atoi(fs::readFile(file).value_or("0").c_str()); }

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The description of the StorageError::command that running `tool` throws; other errors escape.
std::string failure(const std::string& tool, double limit = 5.0, const ScanCancellation* cancellation = nullptr) {
    try {
        run(tool, {}, limit, std::nullopt, cancellation);
    } catch (const StorageError& error) {
        return error.errorDescription();
    }
    return "<no error>";
}

TEST(CommandRunner, ReturnsStandardOutputAndErrorInTheOrderWrittenWithArgumentsUnchangedHoweverLong) {
    TempTree tree;
    const std::string tool =
        writeScript(tree, "tool", "printf 'one\\n'\nprintf 'two\\n' >&2\nprintf '[%s]' \"$@\"\nprintf ' four' >&2\n");
    EXPECT_EQ(run(tool, {"simctl", "two words", "", "--json"}, 5.0, std::nullopt),
              "one\ntwo\n[simctl][two words][][--json] four");
    // Far more than a pipe holds: drained while the tool runs, so it never blocks.
    std::string payload;
    for (unsigned i = 0; payload.size() < 700 * 1024; ++i) payload += static_cast<char>((i * 7919u) % 256u);
    const std::string big =
        writeScript(tree, "big", "cat '" + tree.writeFile("payload", payload) + "'\necho end >&2\n");
    const std::string output = run(big, {}, 10.0, std::nullopt);
    EXPECT_TRUE(output == payload + "end\n") << output.size() << " bytes";
}

TEST(CommandRunner, AnyOtherEndTurnsTheOutputIntoTrimmedErrorTextOfAtMost400Characters) {
    std::string wide;  // 1000 characters: "é" takes two bytes and "🦫" four
    for (int i = 0; i < 500; ++i) wide += "\xC3\xA9\xF0\x9F\xA6\xAB";
    TempTree tree;
    for (const auto& [output, ending, expected] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"   simctl: no such device\n", "exit 3", "simctl: no such device"},
             {"dying\n", "kill -KILL $$", "dying"},
             {"", "exit 1", ""},
             {" \n\t\n", "exit 1", ""},
             {"\n" + std::string(1000, 'a') + "\n", "exit 1", std::string(400, 'a')},
             {"  " + wide, "exit 1", wide.substr(0, 200 * 6)},
             {"bad \xFF\xFE bytes\n", "exit 1", "The Xcode command failed."},
         }) {
        const std::string payload = tree.writeFile("payload", output);
        EXPECT_EQ(failure(writeScript(tree, "tool", "cat '" + payload + "'\n" + ending + "\n")), expected) << output;
    }
}

TEST(CommandRunner, TimesOutAHangingToolAndLeavesNeitherItNorAZombie) {
    constexpr double kLimit = 0.3;
    const double grace = CommandRunner::kGraceSeconds;
    TempTree tree;
    const std::string pidFile = tree.path("pid");
    // The first ignores the termination request (its trap proves the request came first) and must be killed after
    // the grace period; the second honours it. Short sleeps keep no grandchild holding the pipe for long.
    for (const auto& [body, least, most] : std::vector<std::tuple<std::string, double, double>>{
             {"trap 'echo term >> \"" + tree.path("log") + "\"' TERM\nwhile :; do sleep 0.05; done\n", kLimit + grace,
              kLimit + grace + 1.5},
             {"exec sleep 30\n", kLimit, kLimit + grace},
         }) {
        const std::string tool = writeScript(tree, "tool", "echo $$ > '" + pidFile + "'\n" + body);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(failure(tool, kLimit),
                  "The Xcode command timed out. Nothing else was scheduled; try scanning again.");
        const double elapsed = secondsSince(start);
        EXPECT_TRUE(elapsed >= least && elapsed < most) << elapsed << " s for " << body;
        const pid_t pid = firstPid(pidFile);
        EXPECT_TRUE(pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH) << "left running or as a zombie: " << body;
    }
    EXPECT_EQ(fs::readFile(tree.path("log")), "term\n");
}

TEST(CommandRunner, WhatTheToolStartedEndsWithItAndCannotHoldItsOutputBack) {
    TempTree tree;
    const std::string pidFile = tree.path("pid");

    // Time-out: the shell's child holds the pipe, and must go with the shell.
    auto start = std::chrono::steady_clock::now();
    try {
        run("/bin/sh", {"-c", "echo $$ > '" + pidFile + "'; sleep 40 & echo $! >> '" + pidFile + "'; wait; echo"}, 0.5,
            std::nullopt);
        ADD_FAILURE() << "did not time out";
    } catch (const StorageError&) {}
    EXPECT_LT(secondsSince(start), 0.5 + CommandRunner::kGraceSeconds);
    EXPECT_EQ(livingMembersAfterAMoment(firstPid(pidFile)), std::vector<pid_t>{}) << "left behind in the tool's group";

    // Success: a helper started in the background keeps the pipe open; the output written
    // before the tool exited comes back at once, and the helper does not outlive the run.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        run("/bin/sh",
            {"-c", "echo $$ > '" + pidFile + "'; echo before; sleep 40 & echo $! >> '" + pidFile + "'; echo after"},
            5.0, std::nullopt),
        "before\nafter\n");
    EXPECT_LT(secondsSince(start), CommandRunner::kReaderWaitSeconds);
    EXPECT_EQ(livingMembersAfterAMoment(firstPid(pidFile)), std::vector<pid_t>{});

    // A helper that leaves the group cannot be reached; its hold on the pipe delays the
    // answer by the reader's wait, but the tool's output is still returned.
    if (::access("/usr/bin/setsid", X_OK) == 0) {
        start = std::chrono::steady_clock::now();
        const std::string left = tree.path("left");
        EXPECT_EQ(run("/bin/sh",
                      {"-c", "echo out; /usr/bin/setsid /bin/sh -c 'echo > \"" + left +
                                 "\"; exec sleep 5' & while [ ! -e '" + left + "' ]; do sleep 0.01; done; echo done"},
                      10.0, std::nullopt),
                  "out\ndone\n");
        EXPECT_LT(secondsSince(start), CommandRunner::kReaderWaitSeconds + 1.5);
    }
}

long peakResidentKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Twice the cap (a string grows by doubling) and some room. The sanitizers keep freed buffers
// in quarantine or shadow every byte, so there the bound only guards against holding everything.
long outputMemoryBoundKilobytes() {
    const long cap = static_cast<long>(CommandRunner::kOutputLimit / 1024);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 10 * cap;
#else
    return 2 * cap + 32 * 1024;
#endif
}

TEST(CommandRunner, FloodsOfOutputAreDrainedButNeverHeldBeyondTheLimit) {
    TempTree tree;
    const std::string pidFile = tree.path("pid");
    // 100 MB then success: drained to the end, refused as too much, memory bounded by the limit.
    const long before = peakResidentKilobytes();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failure(writeScript(tree, "flood", "echo $$ > '" + pidFile + "'\nhead -c 100000000 /dev/zero\n"), 60.0),
              "The Xcode command printed more than 64 MiB of output.");
    EXPECT_LT(secondsSince(start), 30.0);
    const long grownKilobytes = peakResidentKilobytes() - before;
    EXPECT_LT(grownKilobytes, outputMemoryBoundKilobytes());
    EXPECT_EQ(livingMembersAfterAMoment(firstPid(pidFile)), std::vector<pid_t>{});

    // Printing without end: the time limit still holds, and nothing is left running.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(failure(writeScript(tree, "endless", "echo $$ > '" + pidFile + "'\nexec yes quillet\n"), 0.5),
              "The Xcode command timed out. Nothing else was scheduled; try scanning again.");
    EXPECT_LT(secondsSince(start), 0.5 + CommandRunner::kGraceSeconds + 1.0);
    EXPECT_EQ(livingMembersAfterAMoment(firstPid(pidFile)), std::vector<pid_t>{});
    EXPECT_LT(peakResidentKilobytes() - before, outputMemoryBoundKilobytes());
}

// A stop from another thread ends the tool's whole group within the short grace, whether
// the tool honours the termination request or not, and says the run was stopped.
TEST(CommandRunner, ACancelledRunEndsTheToolsGroupPromptly) {
    TempTree tree;
    const std::string pidFile = tree.path("pid");
    for (const std::string body : {"exec sleep 30\n", "trap '' TERM\nsleep 30 &\nwhile :; do sleep 0.05; done\n"}) {
        ScanCancellation cancellation;
        const std::string tool = writeScript(tree, "tool", "echo $$ > '" + pidFile + "'\n" + body);
        std::thread stopper([&cancellation] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancellation.cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(failure(tool, 30.0, &cancellation), "The Xcode command was stopped.") << body;
        const double elapsed = secondsSince(start);
        stopper.join();
        EXPECT_TRUE(elapsed >= 0.3 && elapsed < 0.3 + CommandRunner::kCancelGraceSeconds + 0.5) << elapsed << " s";
        EXPECT_EQ(livingMembersAfterAMoment(firstPid(pidFile)), std::vector<pid_t>{}) << body;
    }
    // Already stopped: the tool is ended at once; a tool that ends first is not affected.
    ScanCancellation stopped;
    stopped.cancel();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(run(writeScript(tree, "slow", "exec sleep 30\n"), {}, 30.0, std::nullopt, &stopped), StorageError);
    EXPECT_LT(secondsSince(start), CommandRunner::kCancelGraceSeconds + 0.5);
    ScanCancellation idle;
    EXPECT_EQ(run(writeScript(tree, "quick", "echo ok\n"), {}, 5.0, std::nullopt, &idle), "ok\n");
}

TEST(CommandRunner, AMissingProgramRaisesALaunchErrorNamingIt) {
    try {
        run("/nonexistent/xcrun", {}, 5.0, std::nullopt);
        ADD_FAILURE() << "started";
    } catch (const LaunchError& error) {
        EXPECT_STREQ(error.what(), "Could not start /nonexistent/xcrun: No such file or directory");
    }
}

TEST(CommandRunner, GivenEnvironmentReplacesTheCallersAndAbsentOneInheritsIt) {
    ::setenv("QUILLET_RUNNER_MARKER", "a=b=c", 1);
    EXPECT_EQ(CommandRunner::currentEnvironment()["QUILLET_RUNNER_MARKER"], "a=b=c");
    const std::string inherited = "\n" + run("/usr/bin/env", {}, 5.0, std::nullopt);
    EXPECT_NE(inherited.find("\nQUILLET_RUNNER_MARKER=a=b=c\n"), std::string::npos) << inherited;
    EXPECT_EQ(run("/usr/bin/env", {}, 5.0, CommandRunner::Environment{{"ONLY", "this"}, {"EMPTY", ""}}),
              "EMPTY=\nONLY=this\n");
    EXPECT_EQ(run("/usr/bin/env", {}, 5.0, CommandRunner::Environment{}), "");
    ::unsetenv("QUILLET_RUNNER_MARKER");
}

}  // namespace
}  // namespace tarnby
