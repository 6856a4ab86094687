#include "core/scanning/file_inspection.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "core/platform/paths.h"
#include "core/scanning/folder_walk.h"

namespace tarnby::FileInspection {

namespace {

struct PermittedLink {
    std::string_view link;
    std::string_view target;
};

constexpr std::array<PermittedLink, 3> kPermittedLinks{{
    {"/var", "/private/var"},
    {"/tmp", "/private/tmp"},
    {"/etc", "/private/etc"},
}};

}  // namespace

bool safePath(const std::string& path) {
    if (path.empty() || path.front() != '/' || paths::hasDotComponent(path)) return false;
    // The parents are copies: with memory short, a path that cannot be checked is not safe, and
    // nothing may escape into a measurement's thread.
    try {
        std::string current = path;
        while (current.size() > 1 && current.back() == '/') current.pop_back();
        while (current != "/") {
            struct stat info {};
            if (::lstat(current.c_str(), &info) != 0) return false;
            if (S_ISLNK(info.st_mode)) {
                const auto permitted = std::find_if(kPermittedLinks.begin(), kPermittedLinks.end(),
                                                    [&](const PermittedLink& link) { return link.link == current; });
                if (permitted == kPermittedLinks.end()) return false;
                const auto resolved = paths::resolvingSymlinks(current);
                if (!resolved || *resolved != permitted->target) return false;
            }
            current = paths::parent(current);
        }
    } catch (...) {
        return false;
    }
    return true;
}

Measurement measure(const std::string& path, const ScanCancellation& cancellation, std::size_t entryLimit,
                    std::size_t threads, std::size_t sharedLinkLimit) {
    Measurement result;
    if (!safePath(path)) {
        result.complete = false;
        return result;
    }
    FolderWalk::measure(path, cancellation,
                        {.entries = entryLimit, .threads = threads, .descriptors = {}, .sharedLinks = sharedLinkLimit},
                        result);
    return result;
}

}  // namespace tarnby::FileInspection
