#pragma once

// Runs the real `quillet` executable in a child process, wired as a test asks.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/platform/file_system.h"
#include "tests/support/temp_tree.h"

namespace quillet::cli {

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
inline Outcome quillet(const tarnby::testing::TempTree& scratch, const std::vector<std::string>& arguments,
                       const std::string& input = {}, const Wiring& wiring = {}) {
    static int counter = 0;
    const std::string base = scratch.path("run" + std::to_string(++counter));
    const std::string in = scratch.writeFile("run" + std::to_string(counter) + ".in", input);
    const std::string outPath = wiring.outPath.empty() ? base + ".out" : wiring.outPath;
    std::vector<std::string> strings{QUILLET_EXECUTABLE};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    const std::size_t argumentCount = strings.size();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!wiring.environment.contains(text.substr(0, text.find('=')))) strings.push_back(text);
    }
    for (const auto& [name, value] : wiring.environment) strings.push_back(name + "=" + value);
    std::vector<char*> raw;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i == argumentCount) raw.push_back(nullptr);
        raw.push_back(strings[i].data());
    }
    raw.push_back(nullptr);
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
        ::execve(raw[0], raw.data(), raw.data() + argumentCount + 1);
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

}  // namespace quillet::cli
