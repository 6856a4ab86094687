#include "core/platform/paths.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tarnby::paths {

namespace {

template <typename Visit>
void forEachComponent(std::string_view path, Visit visit) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) visit(path.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

std::string standardized(std::string_view path) {
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> parts;
    forEachComponent(path, [&](std::string_view piece) {
        if (piece == ".") return;
        if (piece == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(piece);
            }
            return;
        }
        parts.push_back(piece);
    });
    std::string out;
    out.reserve(path.size());
    if (absolute) out.push_back('/');
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out.push_back('/');
        out.append(parts[i]);
    }
    if (out.empty() && !absolute) out = ".";
    return out;
}

std::string appending(std::string_view path, std::string_view relative) {
    std::string out(path);
    forEachComponent(relative, [&](std::string_view piece) {
        if (out.empty() || out.back() != '/') out.push_back('/');
        out.append(piece);
    });
    return out;
}

std::string parent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return "/";
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool liesInside(std::string_view path, std::string_view folder) {
    if (folder == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

std::string abbreviatingHome(std::string_view path, std::string_view home) {
    if (!home.empty() && path.size() > home.size() && path.substr(0, home.size()) == home && path[home.size()] == '/') {
        return "~" + std::string(path.substr(home.size()));
    }
    return std::string(path);
}

bool hasDotComponent(std::string_view path) {
    bool found = false;
    forEachComponent(path, [&](std::string_view piece) {
        if (piece == "." || piece == "..") found = true;
    });
    return found;
}

std::optional<std::string> resolvingSymlinks(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

}  // namespace tarnby::paths
