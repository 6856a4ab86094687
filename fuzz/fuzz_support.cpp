#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace quillet::fuzz {

namespace {
std::string g_scratch;

void removeScratch() {
    std::error_code ignored;
    if (!g_scratch.empty()) std::filesystem::remove_all(g_scratch, ignored);
}
}  // namespace

const std::string& scratchFolder() {
    if (g_scratch.empty()) {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/quillet-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) violated("cannot make a scratch folder");
        g_scratch = pattern;
        std::atexit(removeScratch);
    }
    return g_scratch;
}

void writeWhole(const std::string& path, std::string_view contents) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) violated("cannot write a scratch file");
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t count = ::write(fd, contents.data() + done, contents.size() - done);
        if (count <= 0) violated("cannot write a scratch file");
        done += static_cast<std::size_t>(count);
    }
    ::close(fd);
}

void violated(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace quillet::fuzz
