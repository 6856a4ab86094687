#pragma once

#include <string>
#include <string_view>

namespace tarnby::testing {

// A fixture tree in a fresh temporary folder, removed again when the object goes.
// Every relative path is taken below root(); parents are created as needed.
class TempTree {
public:
    explicit TempTree(const std::string& base = "/tmp");
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return m_root; }
    std::string path(std::string_view relative) const;

    std::string makeDir(std::string_view relative) const;
    std::string writeFile(std::string_view relative, std::string_view contents = {}) const;
    std::string symlink(std::string_view target, std::string_view relative) const;
    std::string hardLink(std::string_view existing, std::string_view relative) const;

private:
    std::string m_root;
};

// Runs `body` in a child process with the privileges of "nobody" (uid/gid 65534), so that
// permission bits bind even when the tests run as root. Returns the child's exit status,
// or -1 when it could not run.
int runAsNobody(void (*body)(void*), void* context);

}  // namespace tarnby::testing
