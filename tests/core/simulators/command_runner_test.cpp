#include "core/simulators/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "core/records/storage_error.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;
using Clock = std::chrono::steady_clock;

const std::string kTimedOut = "The Xcode command timed out. Nothing else was scheduled; try scanning again.";

std::string writeScript(const TempTree& tree, const std::string& name, const std::string& body) {
    const std::string path = tree.writeFile(name, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The description of the StorageError::command that `call` throws; fails the test otherwise.
std::string commandError(const std::function<void()>& call) {
    try {
        call();
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), StorageError::Code::command);
        return error.errorDescription();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return {};
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

std::string failingOutput(const TempTree& tree, const std::string& payload) {
    tree.writeFile("payload", payload);
    const std::string tool = writeScript(tree, "tool", "cat \"" + tree.path("payload") + "\"\nexit 1\n");
    return commandError([&] { CommandRunner::run(tool, {}, 5.0, std::nullopt); });
}

bool processIsGone(pid_t pid) { return ::kill(pid, 0) == -1 && errno == ESRCH; }

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) { ::setenv(name, value, 1); }
    ~ScopedVariable() { ::unsetenv(m_name); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
};

TEST(CommandRunner, ReturnsStandardOutputAndErrorInTheOrderWritten) {
    TempTree tree;
    const std::string tool = writeScript(tree, "tool",
                                         "printf 'one\\n'\nprintf 'two\\n' >&2\nprintf 'three'\n"
                                         "printf ' four' >&2\n");
    EXPECT_EQ(CommandRunner::run(tool, {}, 5.0, std::nullopt), "one\ntwo\nthree four");
}

TEST(CommandRunner, PassesArgumentsUnchanged) {
    const std::string output =
        CommandRunner::run("/usr/bin/printf", {"[%s]", "simctl", "two words", "", "--json"}, 5.0, std::nullopt);
    EXPECT_EQ(output, "[simctl][two words][][--json]");
}

TEST(CommandRunner, DeliversOutputFarLargerThanAPipeWhole) {
    TempTree tree;
    std::string payload;
    for (unsigned i = 0; payload.size() < 700 * 1024; ++i) payload += static_cast<char>((i * 7919u) % 256u);
    tree.writeFile("payload", payload);
    const std::string tool = writeScript(tree, "tool", "cat \"" + tree.path("payload") + "\"\necho end >&2\n");

    const auto start = Clock::now();
    const std::string output = CommandRunner::run(tool, {}, 10.0, std::nullopt);
    EXPECT_LT(secondsSince(start), 5.0);
    ASSERT_EQ(output.size(), payload.size() + 4);
    EXPECT_TRUE(output == payload + "end\n");
}

TEST(CommandRunner, FailureTurnsOutputIntoTrimmedErrorText) {
    TempTree tree;
    EXPECT_EQ(failingOutput(tree, "   message\n"), "message");
    EXPECT_EQ(failingOutput(tree, ""), "");
    EXPECT_EQ(failingOutput(tree, " \n\t\n"), "");
    EXPECT_EQ(failingOutput(tree, "\n" + std::string(1000, 'a') + "\n"), std::string(400, 'a'));

    // Characters, not bytes: "é" takes two bytes and "🦫" four.
    std::string wide;
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string character = i % 2 == 0 ? "\xC3\xA9" : "\xF0\x9F\xA6\xAB";
        wide += character;
        if (i < 400) expected += character;
    }
    EXPECT_EQ(failingOutput(tree, "  " + wide), expected);

    EXPECT_EQ(failingOutput(tree, "bad \xFF\xFE bytes\n"), "The Xcode command failed.");
}

TEST(CommandRunner, AnyNonZeroEndIsAFailure) {
    TempTree tree;
    const std::string status = writeScript(tree, "status", "echo 'simctl: no such device'\nexit 3\n");
    EXPECT_EQ(commandError([&] { CommandRunner::run(status, {}, 5.0, std::nullopt); }), "simctl: no such device");

    const std::string killed = writeScript(tree, "killed", "echo dying\nkill -KILL $$\n");
    EXPECT_EQ(commandError([&] { CommandRunner::run(killed, {}, 5.0, std::nullopt); }), "dying");
}

TEST(CommandRunner, KillsAToolThatIgnoresTheTerminationRequestAfterTheGracePeriod) {
    TempTree tree;
    const std::string pidFile = tree.path("pid");
    const std::string logFile = tree.path("log");
    // The trap proves the polite request came first; the short sleeps keep any grandchild
    // from holding the pipe long after the shell is killed.
    const std::string tool =
        writeScript(tree, "tool",
                    "trap 'echo term >> \"" + logFile + "\"' TERM\necho $$ > \"" + pidFile +
                        "\"\nwhile :; do sleep 0.05; done\n");
    constexpr double kLimit = 0.3;

    const auto start = Clock::now();
    EXPECT_EQ(commandError([&] { CommandRunner::run(tool, {}, kLimit, std::nullopt); }), kTimedOut);
    const double elapsed = secondsSince(start);

    EXPECT_GE(elapsed, kLimit + CommandRunner::kGraceSeconds);
    EXPECT_LT(elapsed, kLimit + CommandRunner::kGraceSeconds + 1.5);
    EXPECT_NE(readText(logFile).find("term"), std::string::npos);
    const pid_t pid = std::atoi(readText(pidFile).c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(processIsGone(pid)) << "the killed tool was left running or as a zombie";
}

TEST(CommandRunner, TimesOutAToolThatHonoursTheTerminationRequestWithoutTheGracePeriod) {
    TempTree tree;
    const std::string pidFile = tree.path("pid");
    const std::string tool = writeScript(tree, "tool", "echo $$ > \"" + pidFile + "\"\nexec sleep 30\n");
    constexpr double kLimit = 0.3;

    const auto start = Clock::now();
    EXPECT_EQ(commandError([&] { CommandRunner::run(tool, {}, kLimit, std::nullopt); }), kTimedOut);
    const double elapsed = secondsSince(start);

    EXPECT_GE(elapsed, kLimit);
    EXPECT_LT(elapsed, kLimit + CommandRunner::kGraceSeconds);
    const pid_t pid = std::atoi(readText(pidFile).c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(processIsGone(pid)) << "the stopped tool was left as a zombie";
}

TEST(CommandRunner, GivesUpOnOutputHeldOpenByAToolsOwnChild) {
    TempTree tree;
    // The background sleep keeps the pipe's write end after the tool itself has exited.
    const std::string tool = writeScript(tree, "tool", "echo early\nsleep 5 &\nexit 0\n");

    const auto start = Clock::now();
    EXPECT_EQ(CommandRunner::run(tool, {}, 10.0, std::nullopt), "");
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, CommandRunner::kReaderWaitSeconds);
    EXPECT_LT(elapsed, CommandRunner::kReaderWaitSeconds + 1.5);
}

TEST(CommandRunner, ProgramsThatCannotStartRaiseALaunchErrorNamingThem) {
    TempTree tree;
    const std::string missing = tree.path("no-such-tool");
    const std::string notExecutable = tree.writeFile("plain", "#!/bin/sh\necho hi\n");
    ::chmod(notExecutable.c_str(), 0644);

    for (const auto& [path, reason] : {std::pair{missing, std::string("No such file or directory")},
                                       std::pair{notExecutable, std::string("Permission denied")}}) {
        try {
            CommandRunner::run(path, {}, 5.0, std::nullopt);
            ADD_FAILURE() << path << " started";
        } catch (const LaunchError& error) {
            EXPECT_EQ(std::string(error.what()), "Could not start " + path + ": " + reason);
        } catch (const StorageError& error) {
            ADD_FAILURE() << "a launch failure became a StorageError: " << error.what();
        }
    }
}

TEST(CommandRunner, GivenEnvironmentReplacesTheCallersAndAbsentOneInheritsIt) {
    const ScopedVariable marker("QUILLET_RUNNER_MARKER", "inherited value");

    const std::string inherited = CommandRunner::run("/usr/bin/env", {}, 5.0, std::nullopt);
    EXPECT_NE(("\n" + inherited).find("\nQUILLET_RUNNER_MARKER=inherited value\n"), std::string::npos)
        << inherited;

    const CommandRunner::Environment given{{"ONLY", "this"}, {"EMPTY", ""}};
    EXPECT_EQ(CommandRunner::run("/usr/bin/env", {}, 5.0, given), "EMPTY=\nONLY=this\n");
    EXPECT_EQ(CommandRunner::run("/usr/bin/env", {}, 5.0, CommandRunner::Environment{}), "");
}

TEST(CommandRunner, CurrentEnvironmentMirrorsTheProcessEnvironment) {
    const ScopedVariable marker("QUILLET_RUNNER_MARKER", "a=b=c");
    const CommandRunner::Environment environment = CommandRunner::currentEnvironment();
    ASSERT_TRUE(environment.contains("QUILLET_RUNNER_MARKER"));
    EXPECT_EQ(environment.at("QUILLET_RUNNER_MARKER"), "a=b=c");
    ASSERT_TRUE(environment.contains("PATH"));
    EXPECT_EQ(environment.at("PATH"), std::getenv("PATH"));
}

}  // namespace
}  // namespace tarnby
