#include "tests/support/temp_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"

namespace tarnby::testing {

TempTree::TempTree(const std::string& base) {
    std::string pattern = base + "/quillet-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_root = buffer.data();
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

std::string TempTree::writeFile(std::string_view relative, std::string_view contents) const {
    const std::string full = path(relative);
    makeDir(paths::parent(full).substr(m_root.size()));
    const int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write " + full);
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t count = ::write(fd, contents.data() + done, contents.size() - done);
        if (count <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + full);
        }
        done += static_cast<std::size_t>(count);
    }
    ::close(fd);
    return full;
}

std::string TempTree::symlink(std::string_view target, std::string_view relative) const {
    const std::string full = path(relative);
    makeDir(paths::parent(full).substr(m_root.size()));
    if (::symlink(std::string(target).c_str(), full.c_str()) != 0) throw std::runtime_error("cannot link " + full);
    return full;
}

std::string TempTree::hardLink(std::string_view existing, std::string_view relative) const {
    const std::string full = path(relative);
    makeDir(paths::parent(full).substr(m_root.size()));
    if (::link(path(existing).c_str(), full.c_str()) != 0) throw std::runtime_error("cannot link " + full);
    return full;
}

int runAsNobody(void (*body)(void*), void* context) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (::getuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
        }
        body(context);
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tarnby::testing
