#include "core/simulators/command_runner.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/platform/file_system.h"
#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using CommandRunner::run;
using namespace std::chrono_literals;

const std::string kTimedOut = "The Xcode command timed out. Nothing else was scheduled; try scanning again.";

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The description of the StorageError::command that running `tool` throws; other errors escape.
std::string failure(const std::string& tool, double limit = 5.0, const ScanCancellation* cancellation = nullptr,
                    const std::vector<std::string>& arguments = {}) {
    try {
        run(tool, arguments, limit, std::nullopt, cancellation);
    } catch (const StorageError& error) {
        return error.errorDescription();
    }
    return "<no error>";
}

// Stand-in tools that write their process id, the id of the group the runner made, to "pid".
struct Tools {
    testing::TempTree tree;
    std::string pidFile = tree.path("pid");

    std::string script(const std::string& name, const std::string& body) const {
        const std::string path = tree.writeFile(name, "#!/bin/sh\necho $$ > '" + pidFile + "'\n" + body);
        ::chmod(path.c_str(), 0755);
        return path;
    }

    // Processes still alive (not zombies) in the last tool's group, after a moment for killed
    // processes that are not our children to die. Linux only: reads /proc.
    std::vector<pid_t> leftInGroup() const {
        const pid_t group = std::atoi(fs::readFile(pidFile).value_or("0").c_str());
        std::vector<pid_t> members;
        for (int attempt = 0; group > 0 && attempt < 200; ++attempt, std::this_thread::sleep_for(10ms)) {
            members.clear();
            for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
                const std::string line = fs::readFile(entry.path() / "stat").value_or("");
                std::istringstream fields(line.substr(std::min(line.size(), line.rfind(')') + 1)));
                char state = 0;
                pid_t parent = 0, processGroup = 0;
                if (fields >> state >> parent >> processGroup && processGroup == group && state != 'Z')
                    members.push_back(std::atoi(entry.path().filename().c_str()));
            }
            if (members.empty()) break;
        }
        return members;
    }
};

TEST(CommandRunner, ReturnsOutputAndErrorInTheOrderWrittenHoweverLongOrOnFailureTrimmedErrorText) {
    Tools tools;
    const std::string tool =
        tools.script("tool", "printf 'one\\n'\nprintf 'two\\n' >&2\nprintf '[%s]' \"$@\"\nprintf ' four' >&2\n");
    EXPECT_EQ(run(tool, {"simctl", "two words", "", "--json"}, 5.0, std::nullopt),
              "one\ntwo\n[simctl][two words][][--json] four");
    // Far more than a pipe holds: drained while the tool runs, so it never blocks.
    std::string bytes;
    for (unsigned i = 0; bytes.size() < 700 * 1024; ++i) bytes += static_cast<char>((i * 7919u) % 256u);
    const std::string big = tools.script("big", "cat '" + tools.tree.writeFile("bytes", bytes) + "'\necho end >&2\n");
    const std::string all = run(big, {}, 10.0, std::nullopt);
    EXPECT_TRUE(all == bytes + "end\n") << all.size() << " bytes";

    // Any other end turns the output into trimmed error text of at most 400 characters.
    std::string wide;  // 1000 characters: "é" takes two bytes and "🦫" four
    for (int i = 0; i < 500; ++i) wide += "\xC3\xA9\xF0\x9F\xA6\xAB";
    for (const auto& [output, ending, expected] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"   simctl: no such device\n", "exit 3", "simctl: no such device"},
             {"dying\n", "kill -KILL $$", "dying"},
             {" \n\t\n", "exit 1", ""},
             {"\n" + std::string(1000, 'a') + "\n", "exit 1", std::string(400, 'a')},
             {"  " + wide, "exit 1", wide.substr(0, 200 * 6)},
             {"bad \xFF\xFE bytes\n", "exit 1", "The Xcode command failed."},
         }) {
        const std::string payload = tools.tree.writeFile("payload", output);
        EXPECT_EQ(failure(tools.script("tool", "cat '" + payload + "'\n" + ending + "\n")), expected) << output;
    }
}

// A time-out or a stop ends the tool's whole group, after the grace when it ignores SIGTERM.
TEST(CommandRunner, ATimedOutOrStoppedRunEndsTheToolsWholeGroupInTime) {
    Tools tools;
    const double grace = CommandRunner::kGraceSeconds, cancelGrace = CommandRunner::kCancelGraceSeconds;
    const std::string stopped = "The Xcode command was stopped.";
    // The trap proves the termination request came before the kill.
    const std::string ignoring = "trap 'echo term >> \"" + tools.tree.path("log") + "\"' TERM\n";
    const struct {
        std::string body;
        double limit, stopAfter;  // a stop after that many seconds; none when negative
        std::string expected;
        double least, most;
    } cases[] = {
        {ignoring + "while :; do sleep 0.05; done\n", 0.3, -1, kTimedOut, 0.3 + grace, 0.3 + grace + 1.5},
        {"sleep 40 &\nwait\necho\n", 0.5, -1, kTimedOut, 0.5, 0.5 + grace},  // the child holds the pipe
        {"trap '' TERM\nsleep 30 &\nwhile :; do sleep 0.05; done\n", 30, 0.3, stopped, 0.3, 0.3 + cancelGrace + 0.5},
        {"exec sleep 30\n", 30, 0, stopped, 0, cancelGrace + 0.5},  // stopped before it began
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        ScanCancellation cancellation;
        if (c.stopAfter == 0) cancellation.cancel();
        std::thread stopper([&] {
            if (c.stopAfter <= 0) return;
            std::this_thread::sleep_for(std::chrono::duration<double>(c.stopAfter));
            cancellation.cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(failure(tools.script("tool", c.body), c.limit, &cancellation), c.expected);
        const double elapsed = secondsSince(start);
        stopper.join();
        EXPECT_TRUE(elapsed >= c.least && elapsed < c.most) << elapsed << " s";
        EXPECT_EQ(tools.leftInGroup(), std::vector<pid_t>{});
    }
    EXPECT_EQ(fs::readFile(tools.tree.path("log")), "term\n");
    // A tool that ends before any stop is not affected.
    ScanCancellation idle;
    EXPECT_EQ(run(tools.script("quick", "echo ok\n"), {}, 5.0, std::nullopt, &idle), "ok\n");
}

TEST(CommandRunner, HelpersTheToolLeavesRunningCannotHoldItsOutputBack) {
    Tools tools;
    // A helper in the background keeps the pipe open; the output written before the tool exited
    // comes back at once, and the helper does not outlive the run.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(tools.script("tool", "echo before\nsleep 40 &\necho after\n"), {}, 5.0, std::nullopt),
              "before\nafter\n");
    EXPECT_LT(secondsSince(start), CommandRunner::kReaderWaitSeconds);
    EXPECT_EQ(tools.leftInGroup(), std::vector<pid_t>{});
}

TEST(CommandRunner, FloodsOfOutputAreDrainedButNeverHeldBeyondTheLimit) {
    const auto peakKilobytes = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    // Twice the cap (a string grows by doubling) and some room. The sanitizers keep freed buffers
    // in quarantine or shadow every byte, so there the bound only guards against holding everything.
    const long cap = static_cast<long>(CommandRunner::kOutputLimit / 1024);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const long bound = 10 * cap;
#else
    const long bound = 2 * cap + 32 * 1024;
#endif
    Tools tools;
    const long before = peakKilobytes();
    // 100 MB then success: drained to the end, refused as too much, memory bounded by the limit.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failure(tools.script("flood", "head -c 100000000 /dev/zero\n"), 60.0),
              "The Xcode command printed more than 64 MiB of output.");
    EXPECT_LT(secondsSince(start), 30.0);
    EXPECT_LT(peakKilobytes() - before, bound);
    EXPECT_EQ(tools.leftInGroup(), std::vector<pid_t>{});
}

TEST(CommandRunner, AMissingProgramRaisesALaunchErrorNamingItAndTheEnvironmentIsGivenOrInherited) {
    try {
        run("/nonexistent/xcrun", {}, 5.0, std::nullopt);
        ADD_FAILURE() << "started";
    } catch (const LaunchError& error) {
        EXPECT_STREQ(error.what(), "Could not start /nonexistent/xcrun: No such file or directory");
    }

    ::setenv("QUILLET_RUNNER_MARKER", "a=b=c", 1);
    EXPECT_EQ(CommandRunner::currentEnvironment()["QUILLET_RUNNER_MARKER"], "a=b=c");
    const std::string inherited = "\n" + run("/usr/bin/env", {}, 5.0, std::nullopt);
    EXPECT_NE(inherited.find("\nQUILLET_RUNNER_MARKER=a=b=c\n"), std::string::npos) << inherited;
    EXPECT_EQ(run("/usr/bin/env", {}, 5.0, CommandRunner::Environment{{"ONLY", "this"}, {"EMPTY", ""}}),
              "EMPTY=\nONLY=this\n");
    ::unsetenv("QUILLET_RUNNER_MARKER");
}

}  // namespace
}  // namespace tarnby
