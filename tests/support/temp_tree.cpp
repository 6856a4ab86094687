#include "tests/support/temp_tree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"

namespace tarnby::testing {

TempTree::TempTree(const std::string& base) {
    std::string pattern = base + "/quillet-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_root = pattern;
    // Open to other users, so a test can read the tree with dropped privileges.
    ::chmod(m_root.c_str(), 0755);
}

TempTree::~TempTree() {
    // rm walks relative to open folders, so trees deeper than PATH_MAX go too.
    const std::string command = "chmod -R u+rwx '" + m_root + "' 2>/dev/null; rm -rf '" + m_root + "'";
    [[maybe_unused]] int status = std::system(command.c_str());
}

std::string TempTree::path(std::string_view relative) const {
    return relative.empty() ? m_root : paths::appending(m_root, relative);
}

std::string TempTree::makeDir(std::string_view relative) const {
    const std::string full = path(relative);
    if (const std::string error = fs::createDirectories(full); !error.empty()) throw std::runtime_error(error);
    return full;
}

// The full path of `relative`, its parent made, or an error when `made` says it could not be.
std::string TempTree::made(std::string_view relative, const std::function<bool(const std::string&)>& make) const {
    const std::string full = path(relative);
    makeDir(paths::parent(full).substr(m_root.size()));
    if (!make(full)) throw std::runtime_error("cannot make " + full);
    return full;
}

std::string TempTree::writeFile(std::string_view relative, std::string_view contents) const {
    return made(relative, [&](const std::string& full) { return bool(std::ofstream(full) << contents); });
}

std::string TempTree::symlink(std::string_view target, std::string_view relative) const {
    return made(relative,
                [&](const std::string& full) { return ::symlink(std::string(target).c_str(), full.c_str()) == 0; });
}

std::string TempTree::hardLink(std::string_view existing, std::string_view relative) const {
    return made(relative, [&](const std::string& full) { return ::link(path(existing).c_str(), full.c_str()) == 0; });
}

void TempTree::chain(std::string_view relative, int levels, const std::string& name,
                     const std::function<void(int fd, int level)>& each) const {
    int fd = ::open(makeDir(relative).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; fd >= 0; ++level) {
        each(fd, level);
        if (level == levels) break;
        ::mkdirat(fd, name.c_str(), 0755);
        ::close(std::exchange(fd, ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    }
    if (fd < 0) throw std::runtime_error("cannot descend below " + path(relative));
    ::close(fd);
}

long long writeFileAt(int fd, const std::string& name, std::string_view contents) {
    const int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    struct stat info {};
    const bool whole = file >= 0 && ::write(file, contents.data(), contents.size()) == ssize_t(contents.size()) &&
                       ::fstat(file, &info) == 0;
    if (file >= 0) ::close(file);
    return whole ? 512LL * info.st_blocks : -1;
}

int runInChild(const std::function<void()>& body, ChildOptions options) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (options.asNobody && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(125);
        body();
        std::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.seconds);
    int status = 0;
    for (pid_t done; (done = ::waitpid(child, &status, WNOHANG)) != child;) {
        if ((done < 0 && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::ptrdiff_t openDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

}  // namespace tarnby::testing
