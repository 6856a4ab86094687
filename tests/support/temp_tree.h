#pragma once

#include <cstddef>
#include <functional>
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

    // Folders `name` nested `levels` deep below `relative`, made through descriptors since the
    // whole path may pass PATH_MAX. `each(fd, level)` fills every level, the bottom one
    // (level == levels) included.
    void chain(std::string_view relative, int levels, const std::string& name,
               const std::function<void(int fd, int level)>& each) const;

private:
    std::string made(std::string_view relative, const std::function<bool(const std::string&)>& make) const;

    std::string m_root;
};

// Makes the file `name` in the folder `fd` with `contents`; its allocated bytes, or -1.
long long writeFileAt(int fd, const std::string& name, std::string_view contents = {});

// Runs `body` in a child (as "nobody" with `asNobody`, so permissions bind for root; 125 if it
// cannot): 1 when a check failed, else 0 or its _exit code; -1 when it hung past `seconds`.
struct ChildOptions {
    bool asNobody = false;
    double seconds = 60;
};
int runInChild(const std::function<void()>& body, ChildOptions options = {});
inline int runAsNobody(const std::function<void()>& body) { return runInChild(body, {.asNobody = true}); }

// Descriptors this process holds open.
std::ptrdiff_t openDescriptors();

}  // namespace tarnby::testing
