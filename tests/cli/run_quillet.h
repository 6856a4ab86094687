#pragma once

// Runs the real `quillet` executable in a child process, wired as a test asks, over a fixture home.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform/file_system.h"
#include "tests/support/temp_tree.h"

namespace quillet::cli {

using Arguments = std::vector<std::string>;

struct Outcome {
    int status = -1;  // the exit status, or 128 and the signal that ended it
    int signal = 0;
    std::string out;
    std::string err;
};

struct Wiring {
    int inputFd = -1;     // standard input, instead of a file holding the input text
    std::string outPath;  // standard output, instead of a file that is read back
    uid_t user = static_cast<uid_t>(-1);
    std::map<std::string, std::string> environment;  // changes to the child's environment only
    std::string workingFolder;
    rlim_t openFiles = RLIM_INFINITY;  // soft and hard limits, so it cannot raise them again
    rlim_t addressSpace = RLIM_INFINITY;
    std::function<void(pid_t)> whileRunning;  // given the child's pid
};

// Runs quillet with `arguments` and `input` on standard input; its streams go through files in `scratch`.
inline Outcome quillet(const tarnby::testing::TempTree& scratch, const Arguments& arguments,
                       const std::string& input = {}, const Wiring& wiring = {}) {
    static int counter = 0;
    const std::string base = scratch.path("run" + std::to_string(++counter));
    const std::string in = scratch.writeFile("run" + std::to_string(counter) + ".in", input);
    const std::string outPath = wiring.outPath.empty() ? base + ".out" : wiring.outPath;
    Arguments argv{QUILLET_EXECUTABLE}, environment;
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!wiring.environment.contains(text.substr(0, text.find('=')))) environment.push_back(text);
    }
    for (const auto& [name, value] : wiring.environment) environment.push_back(name + "=" + value);
    const auto pointers = [](Arguments& texts) {
        std::vector<char*> raw;
        for (std::string& text : texts) raw.push_back(text.data());
        raw.push_back(nullptr);
        return raw;
    };
    const std::vector<char*> rawArguments = pointers(argv), rawEnvironment = pointers(environment);
    const pid_t child = ::fork();
    if (child == 0) {
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
        ::execve(rawArguments[0], rawArguments.data(), rawEnvironment.data());
        ::_exit(127);
    }
    if (wiring.whileRunning) wiring.whileRunning(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome run;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + run.signal;
    if (wiring.outPath.empty()) run.out = tarnby::fs::readFile(base + ".out").value_or("");
    run.err = tarnby::fs::readFile(base + ".err").value_or("");
    return run;
}

// A home with one project holding node_modules and .next, and an npm cache sharing a file with
// node_modules through a hard link. Runs start in an empty working folder with an empty
// temporary folder, and keep their streams outside the home.
struct FixtureHome {
    tarnby::testing::TempTree tree;
    std::string home = tree.makeDir("home");
    std::string project = home + "/Code/site";
    std::string modules = project + "/node_modules";
    Wiring wiring;

    FixtureHome() {
        tree.writeFile("home/Code/site/package.json", "{}");
        tree.writeFile("home/Code/site/node_modules/left-pad/index.js", std::string(9000, 'x'));
        tree.writeFile("home/Code/site/.next/cache/a", "x");
        tree.writeFile("home/.npm/_cacache/index", std::string(20000, 'y'));
        tree.hardLink("home/Code/site/node_modules/left-pad/index.js", "home/.npm/_cacache/content/left-pad");
        wiring.workingFolder = tree.makeDir("work");
        wiring.environment["TMPDIR"] = tree.makeDir("tmp");
    }

    Outcome run(const Arguments& arguments, const std::string& input = {}) const {
        return quillet(tree, arguments, input, wiring);
    }
    // `quillet scan` of the home and its Code folder, with `more` arguments.
    Outcome scan(const Arguments& more = {"--json"}) const {
        Arguments arguments{"scan", "--no-simulators", "--home", home, "--root", home + "/Code"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return run(arguments);
    }
    std::string document() const {
        const Outcome run = scan();
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }
};

}  // namespace quillet::cli
