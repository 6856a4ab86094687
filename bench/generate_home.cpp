// generate_home DIR [--entries N] [--one-target N]
//
// Builds a stand-in for a developer's home folder to time scans against: projects with
// node_modules, .next, Rust target and SwiftPM .build folders, .git folders, package caches,
// Xcode DerivedData and simulator devices, among ordinary sources and documents. The same
// arguments always give the same names, shapes and contents, so runs compare across machines.
// It only creates: DIR must be missing or empty.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// splitmix64 rather than <random>: its distributions differ between standard libraries.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t count) { return count == 0 ? 0 : static_cast<std::size_t>(next() % count); }
    std::size_t between(std::size_t low, std::size_t high) { return low + below(high - low + 1); }
    bool chance(unsigned percent) { return below(100) < percent; }

    std::string hex(std::size_t digits) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text(digits, '0');
        for (char& c : text) c = kDigits[below(16)];
        return text;
    }
    std::string letters(std::size_t count) {
        std::string text(count, 'a');
        for (char& c : text) c = static_cast<char>('a' + below(26));
        return text;
    }
    std::string uuid() {
        std::string text = hex(8) + "-" + hex(4) + "-4" + hex(3) + "-a" + hex(3) + "-" + hex(12);
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }
    std::string version() {
        return std::to_string(below(20)) + "." + std::to_string(below(30)) + "." + std::to_string(below(12));
    }
    // Mostly a few hundred bytes, like the sources and metadata that fill these folders.
    std::size_t fileSize() {
        const std::size_t roll = below(100);
        if (roll < 88) return between(16, 400);
        if (roll < 99) return between(400, 4 * 1024);
        return between(4 * 1024, 64 * 1024);
    }

private:
    std::uint64_t m_state;
};

// Creates entries and counts them, and stops creating once the limit is reached.
class Home {
public:
    Home(std::string root, std::size_t limit) : m_root(std::move(root)), m_limit(limit) {
        std::uint64_t x = 0x5157494C4C4554ull;
        for (char& c : m_filler) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            c = static_cast<char>(' ' + (x >> 33) % 95);
        }
    }

    const std::string& root() const { return m_root; }
    std::string at(std::string_view relative) const { return m_root + "/" + std::string(relative); }
    std::size_t count() const { return m_count; }
    bool full() const { return m_count >= m_limit; }
    void setLimit(std::size_t limit) { m_limit = limit; }

    bool dir(const std::string& path) {
        if (!take()) return false;
        if (::mkdir(path.c_str(), 0755) != 0) fail("create folder", path);
        return true;
    }

    bool text(const std::string& path, std::string_view contents) {
        if (!take()) return false;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) fail("create file", path);
        while (!contents.empty()) {
            const ssize_t written = ::write(fd, contents.data(), contents.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) fail("write", path);
            contents.remove_prefix(static_cast<std::size_t>(written));
        }
        ::close(fd);
        return true;
    }

    // `size` bytes of filler, taken from a place that depends on the size only.
    bool file(const std::string& path, std::size_t size) {
        std::string contents;
        contents.reserve(size);
        for (std::size_t offset = size % 997; contents.size() < size;) {
            const std::size_t piece = std::min(size - contents.size(), m_filler.size() - offset);
            contents.append(m_filler.data() + offset, piece);
            offset = 0;
        }
        return text(path, contents);
    }

    bool symlink(const std::string& target, const std::string& path) {
        if (!take()) return false;
        if (::symlink(target.c_str(), path.c_str()) != 0) fail("create link", path);
        return true;
    }

    bool hardLink(const std::string& existing, const std::string& path) {
        if (!take()) return false;
        if (::link(existing.c_str(), path.c_str()) != 0) fail("create hard link", path);
        return true;
    }

private:
    bool take() {
        if (m_count >= m_limit) return false;
        ++m_count;
        return true;
    }
    [[noreturn]] static void fail(const char* action, const std::string& path) {
        std::fprintf(stderr, "generate_home: cannot %s %s: %s\n", action, path.c_str(), std::strerror(errno));
        std::exit(1);
    }

    std::string m_root;
    std::size_t m_limit;
    std::size_t m_count = 0;
    std::array<char, 128 * 1024> m_filler{};
};

const std::vector<std::string> kPackages = {
    "react",
    "react-dom",
    "lodash",
    "@babel/core",
    "@babel/parser",
    "@babel/traverse",
    "@babel/types",
    "typescript",
    "webpack",
    "postcss",
    "tailwindcss",
    "eslint",
    "@eslint/js",
    "prettier",
    "next",
    "@next/env",
    "@swc/helpers",
    "chalk",
    "commander",
    "debug",
    "ms",
    "semver",
    "glob",
    "minimatch",
    "rimraf",
    "uuid",
    "axios",
    "express",
    "body-parser",
    "cookie",
    "qs",
    "mime-types",
    "jest",
    "@jest/core",
    "@types/node",
    "@types/react",
    "vite",
    "rollup",
    "esbuild",
    "@esbuild/linux-x64",
    "zod",
    "date-fns",
    "classnames",
    "clsx",
    "tslib",
    "core-js",
    "regenerator-runtime",
    "acorn",
    "picocolors",
    "nanoid",
    "source-map",
    "source-map-js",
    "caniuse-lite",
    "browserslist",
    "electron-to-chromium",
    "graphql",
    "@apollo/client",
    "rxjs",
    "yargs",
    "cross-spawn",
    "which",
    "fs-extra",
    "graceful-fs",
    "micromatch",
    "braces",
    "fill-range",
    "to-regex-range",
    "is-number",
    "@radix-ui/react-dialog",
    "@radix-ui/react-slot",
    "framer-motion",
    "styled-components",
    "sharp",
};
const std::vector<std::string> kCrates = {
    "serde",     "serde_json", "tokio",       "syn",      "quote",     "proc-macro2", "libc", "rand",    "regex",
    "clap",      "anyhow",     "thiserror",   "hyper",    "bytes",     "futures",     "log",  "tracing", "memchr",
    "itertools", "once_cell",  "parking_lot", "smallvec", "hashbrown", "indexmap",    "cc",
};
const std::vector<std::string> kSwiftPackages = {
    "swift-argument-parser", "swift-collections", "swift-log", "swift-nio",  "Alamofire",
    "swift-syntax",          "swift-crypto",      "SnapKit",   "Kingfisher", "swift-algorithms",
};

class Builder {
public:
    Builder(Home& home, Random& random) : m_home(home), m_random(random) {}

    // A project folder with the sources every kind of project has, and a .git folder.
    std::string project(const std::string& relative, std::size_t gitQuota, const char* extension = ".ts") {
        const std::string folder = m_home.at(relative);
        m_home.dir(folder);
        m_home.text(folder + "/README.md", "# " + relative + "\n\nNotes for the team.\n");
        m_home.text(folder + "/.gitignore", "node_modules\n.next\ntarget\n.build\n");
        sources(folder + "/src", m_random.between(6, 30), extension);
        m_home.dir(folder + "/docs");
        for (std::size_t i = 0, n = m_random.between(1, 6); i < n; ++i) {
            m_home.file(folder + "/docs/guide-" + std::to_string(i) + ".md", m_random.fileSize());
        }
        git(folder + "/.git", gitQuota);
        return folder;
    }

    void javaScript(const std::string& folder, const std::string& lockFile, std::size_t modulesQuota,
                    std::size_t nextQuota) {
        m_home.text(folder + "/package.json", "{\n  \"name\": \"app\",\n  \"private\": true\n}\n");
        if (!lockFile.empty()) m_home.file(folder + "/" + lockFile, m_random.between(2'000, 40'000));
        nodeModules(folder + "/node_modules", modulesQuota);
        if (nextQuota > 0) next(folder + "/.next", nextQuota);
    }

    // npm and Yarn layout: real folders, hoisted, with some nested copies and .bin links.
    void nodeModules(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.dir(folder);
        m_home.dir(folder + "/.bin");
        m_home.text(folder + "/.package-lock.json", "{\"lockfileVersion\": 3}\n");
        std::vector<std::string> scopes;
        for (std::size_t serial = 0; m_home.count() < end && !m_home.full(); ++serial) {
            const std::string name = packageName(serial);
            const std::string path = packageFolder(folder, name, scopes);
            package(path, name, 0, end);
            if (m_random.chance(8) && !m_home.full()) {
                m_home.dir(path + "/bin");
                m_home.file(path + "/bin/cli.js", m_random.fileSize());
                // "@types/react" must not take the command name of "react".
                std::string command = name[0] == '@' ? name.substr(1) : name;
                std::replace(command.begin(), command.end(), '/', '-');
                m_home.symlink("../" + name + "/bin/cli.js", folder + "/.bin/" + command);
            }
        }
    }

    // pnpm layout: files hard-linked from the content-addressed store, packages reached
    // through symbolic links into node_modules/.pnpm.
    void pnpmProject(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.text(folder + "/package.json", "{\n  \"name\": \"pnpm-app\",\n  \"private\": true\n}\n");
        m_home.file(folder + "/pnpm-lock.yaml", m_random.between(2'000, 40'000));
        const std::string store = m_home.at("Library/pnpm/store/v3/files");
        const std::string modules = folder + "/node_modules";
        m_home.dir(modules);
        m_home.dir(modules + "/.pnpm");
        m_home.text(modules + "/.modules.yaml", "layoutVersion: 5\n");
        std::vector<std::string> installed;
        std::vector<std::string> scopes;
        std::vector<std::string> innerScopes;
        for (std::size_t serial = 0; m_home.count() < end && !m_home.full(); ++serial) {
            const std::string name = packageName(serial);
            std::string key = name + "@" + m_random.version();
            for (char& c : key) {
                if (c == '/') c = '+';
            }
            const std::string inner = modules + "/.pnpm/" + key + "/node_modules";
            m_home.dir(modules + "/.pnpm/" + key);
            m_home.dir(inner);
            innerScopes.clear();
            const std::string real = packageFolder(inner, name, innerScopes);
            const std::size_t files = m_random.between(3, 25);
            for (std::size_t i = 0; i < files && !m_home.full(); ++i) {
                const std::string hash = m_random.hex(128);
                const std::string bucket = store + "/" + hash.substr(0, 2);
                if (!m_buckets[std::stoul(hash.substr(0, 2), nullptr, 16)]) {
                    m_buckets[std::stoul(hash.substr(0, 2), nullptr, 16)] = m_home.dir(bucket);
                }
                const std::string stored = bucket + "/" + hash.substr(2);
                const std::string fileName = i == 0 ? "package.json" : "file" + std::to_string(i) + ".js";
                if (m_home.file(stored, m_random.fileSize())) m_home.hardLink(stored, real + "/" + fileName);
            }
            // A few dependencies, linked beside the package as pnpm does.
            std::vector<std::string> linked;
            for (std::size_t d = 0; d < 3 && d < installed.size() && m_random.chance(50); ++d) {
                const std::string& dependency = installed[m_random.below(installed.size())];
                const std::string dependencyFolder = dependencyName(dependency);
                if (dependencyFolder.find('/') != std::string::npos ||
                    std::find(linked.begin(), linked.end(), dependencyFolder) != linked.end()) {
                    continue;
                }
                linked.push_back(dependencyFolder);
                m_home.symlink("../../" + dependency + "/node_modules/" + dependencyFolder,
                               inner + "/" + dependencyFolder);
            }
            const std::string top = packageFolderParent(modules, name, scopes);
            const std::string depth = name.find('/') == std::string::npos ? "" : "../";
            m_home.symlink(depth + ".pnpm/" + key + "/node_modules/" + name, top);
            installed.push_back(key);
        }
    }

    void next(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.dir(folder);
        m_home.text(folder + "/BUILD_ID", m_random.letters(21));
        m_home.file(folder + "/build-manifest.json", m_random.between(2'000, 20'000));
        m_home.file(folder + "/trace", m_random.between(2'000, 100'000));
        for (const char* sub : {"/cache", "/cache/webpack", "/cache/webpack/client-development",
                                "/cache/webpack/server-development", "/cache/images", "/server", "/server/chunks",
                                "/server/pages", "/static", "/static/chunks", "/static/css", "/static/media"}) {
            m_home.dir(folder + sub);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            m_home.file(folder + "/cache/webpack/client-development/" + std::to_string(i) + ".pack",
                        m_random.between(64'000, 1'000'000));
        }
        const char* places[] = {"/server/chunks/", "/server/pages/", "/static/chunks/",
                                "/static/css/",    "/static/media/", "/cache/images/"};
        for (std::size_t i = 0; m_home.count() < end && !m_home.full(); ++i) {
            m_home.file(folder + places[i % 6] + m_random.hex(16) + ".js", m_random.fileSize());
        }
    }

    void rust(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.text(folder + "/Cargo.toml", "[package]\nname = \"tool\"\nversion = \"0.3.0\"\nedition = \"2021\"\n");
        m_home.file(folder + "/Cargo.lock", m_random.between(5'000, 60'000));
        const std::string target = folder + "/target";
        m_home.dir(target);
        m_home.text(target + "/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc55\n");
        m_home.file(target + "/.rustc_info.json", 900);
        for (const char* profile : {"/debug", "/release"}) {
            const std::string base = target + profile;
            for (const char* sub : {"", "/.fingerprint", "/build", "/deps", "/incremental", "/examples"}) {
                m_home.dir(base + sub);
            }
            m_home.file(base + "/tool", m_random.between(256'000, 2'000'000));
            m_home.file(base + "/tool.d", 300);
        }
        for (std::size_t serial = 0; m_home.count() < end && !m_home.full(); ++serial) {
            const std::string base = target + (serial % 3 == 2 ? "/release" : "/debug");
            std::string crate = kCrates[serial % kCrates.size()];
            if (serial >= kCrates.size()) crate += "-" + std::to_string(serial / kCrates.size());
            const std::string id = crate + "-" + m_random.hex(16);
            m_home.dir(base + "/.fingerprint/" + id);
            for (const std::string& f : {"/dep-lib-" + crate, "/lib-" + crate, std::string("/invoked.timestamp")}) {
                m_home.file(base + "/.fingerprint/" + id + f, m_random.between(8, 300));
            }
            m_home.file(base + "/deps/lib" + id + ".rlib", m_random.between(4'000, 64'000));
            m_home.file(base + "/deps/lib" + id + ".rmeta", m_random.fileSize() * 4);
            m_home.file(base + "/deps/" + id + ".d", m_random.fileSize());
            if (m_random.chance(30)) {
                m_home.dir(base + "/build/" + id);
                m_home.file(base + "/build/" + id + "/output", m_random.fileSize());
                m_home.dir(base + "/build/" + id + "/out");
                for (std::size_t i = 0, n = m_random.between(1, 8); i < n; ++i) {
                    m_home.file(base + "/build/" + id + "/out/gen" + std::to_string(i) + ".rs", m_random.fileSize());
                }
            }
            if (serial % 3 != 2 && m_random.chance(40)) {
                const std::string session = base + "/incremental/" + id + "/s-" + m_random.letters(10);
                m_home.dir(base + "/incremental/" + id);
                m_home.dir(session);
                for (const char* f : {"/dep-graph.bin", "/query-cache.bin", "/work-products.bin"}) {
                    m_home.file(session + f, m_random.between(1'000, 32'000));
                }
                for (std::size_t i = 0, n = m_random.between(5, 60); i < n; ++i) {
                    m_home.file(session + "/" + m_random.hex(8) + ".o", m_random.fileSize() * 2);
                }
            }
        }
    }

    void swiftPackage(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.text(folder + "/Package.swift", "// swift-tools-version:5.9\nimport PackageDescription\n");
        m_home.file(folder + "/Package.resolved", m_random.between(1'000, 8'000));
        m_home.dir(folder + "/Sources");
        sources(folder + "/Sources/Kit", m_random.between(5, 25), ".swift");
        const std::string build = folder + "/.build";
        const std::string debug = build + "/arm64-apple-macosx/debug";
        for (const char* sub :
             {"", "/checkouts", "/repositories", "/arm64-apple-macosx", "/arm64-apple-macosx/debug", "/artifacts"}) {
            m_home.dir(build + sub);
        }
        // SwiftPM's own convenience link.
        m_home.symlink("arm64-apple-macosx/debug", build + "/debug");
        m_home.file(build + "/workspace-state.json", m_random.between(1'000, 6'000));
        for (std::size_t serial = 0; m_home.count() < end && !m_home.full(); ++serial) {
            std::string name = kSwiftPackages[serial % kSwiftPackages.size()];
            if (serial >= kSwiftPackages.size()) name += "-" + std::to_string(serial / kSwiftPackages.size());
            const std::string checkout = build + "/checkouts/" + name;
            m_home.dir(checkout);
            m_home.text(checkout + "/Package.swift", "// swift-tools-version:5.7\n");
            sources(checkout + "/Sources", m_random.between(5, 40), ".swift");
            git(build + "/repositories/" + name + "-" + m_random.hex(8), m_random.between(20, 120));
            const std::string module = debug + "/" + name + ".build";
            m_home.dir(module);
            for (std::size_t i = 0, n = m_random.between(5, 40); i < n; ++i) {
                const std::string stem = module + "/File" + std::to_string(i) + ".swift";
                m_home.file(stem + ".o", m_random.fileSize() * 2);
                m_home.file(stem + "deps", m_random.fileSize());
                m_home.file(stem + ".d", m_random.fileSize());
            }
            m_home.file(debug + "/" + name + ".swiftmodule", m_random.between(4'000, 64'000));
        }
    }

    // A repository's administrative folder: loose objects in 256 buckets and one pack.
    void git(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.dir(folder);
        m_home.text(folder + "/HEAD", "ref: refs/heads/main\n");
        m_home.text(folder + "/config", "[core]\n\trepositoryformatversion = 0\n\tbare = false\n");
        m_home.file(folder + "/index", m_random.between(1'000, 32'000));
        for (const char* sub : {"/hooks", "/info", "/refs", "/refs/heads", "/refs/tags", "/objects", "/objects/pack",
                                "/objects/info", "/logs"}) {
            m_home.dir(folder + sub);
        }
        m_home.text(folder + "/refs/heads/main", m_random.hex(40) + "\n");
        for (const char* hook : {"pre-commit.sample", "pre-push.sample", "commit-msg.sample", "update.sample"}) {
            m_home.file(folder + "/hooks/" + hook, m_random.between(400, 4'000));
        }
        const std::string pack = folder + "/objects/pack/pack-" + m_random.hex(40);
        m_home.file(pack + ".pack", m_random.between(16'000, 512'000));
        m_home.file(pack + ".idx", m_random.between(2'000, 60'000));
        std::array<bool, 256> made{};
        while (m_home.count() < end && !m_home.full()) {
            const std::size_t bucket = m_random.below(256);
            char name[3];
            std::snprintf(name, sizeof name, "%02zx", bucket);
            if (!made[bucket]) made[bucket] = m_home.dir(folder + "/objects/" + name);
            m_home.file(folder + "/objects/" + name + "/" + m_random.hex(38), m_random.fileSize());
        }
    }

    void npmCache(std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        const std::string cache = m_home.at(".npm/_cacache");
        for (const char* sub : {".npm", ".npm/_logs", ".npm/_cacache", ".npm/_cacache/content-v2",
                                ".npm/_cacache/content-v2/sha512", ".npm/_cacache/index-v5", ".npm/_cacache/tmp"}) {
            m_home.dir(m_home.at(sub));
        }
        m_home.file(m_home.at(".npm/_logs/2024-04-02T10_11_12_134Z-debug-0.log"), 4'000);
        std::array<bool, 256> contentMade{};
        std::array<bool, 256> indexMade{};
        while (m_home.count() < end && !m_home.full()) {
            const bool content = m_random.chance(60);
            const std::string hash = m_random.hex(content ? 128 : 64);
            const std::size_t first = std::stoul(hash.substr(0, 2), nullptr, 16);
            const std::string top = cache + (content ? "/content-v2/sha512/" : "/index-v5/") + hash.substr(0, 2);
            auto& made = content ? contentMade : indexMade;
            if (!made[first]) made[first] = m_home.dir(top);
            const std::string middle = top + "/" + hash.substr(2, 2);
            if (::access(middle.c_str(), F_OK) != 0) m_home.dir(middle);
            m_home.file(middle + "/" + hash.substr(4), content ? m_random.fileSize() * 2 : m_random.between(200, 900));
        }
    }

    void yarnCache(std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        const std::string cache = m_home.at("Library/Caches/Yarn/v6");
        m_home.dir(m_home.at("Library/Caches/Yarn"));
        m_home.dir(cache);
        std::vector<std::string> scopes;
        for (std::size_t serial = 0; m_home.count() < end && !m_home.full(); ++serial) {
            const std::string name = packageName(serial);
            std::string flat = name;
            for (char& c : flat) {
                if (c == '/') c = '-';
            }
            const std::string entry =
                cache + "/npm-" + flat + "-" + m_random.version() + "-" + m_random.hex(40) + "-integrity";
            m_home.dir(entry);
            m_home.dir(entry + "/node_modules");
            scopes.clear();
            const std::string path = packageFolder(entry + "/node_modules", name, scopes);
            m_home.file(path + "/.yarn-metadata.json", m_random.between(500, 4'000));
            m_home.file(path + "/.yarn-tarball.tgz", m_random.fileSize() * 4);
            packageFiles(path, name);
        }
    }

    void swiftPMCache(std::size_t quota) {
        const std::string cache = m_home.at("Library/Caches/org.swift.swiftpm");
        m_home.dir(cache);
        m_home.dir(cache + "/repositories");
        m_home.dir(cache + "/manifests");
        m_home.file(cache + "/manifests/manifest.db", m_random.between(16'000, 128'000));
        const std::size_t each = std::max<std::size_t>(quota / kSwiftPackages.size(), 20);
        for (const std::string& name : kSwiftPackages) {
            if (m_home.full()) break;
            git(cache + "/repositories/" + name + "-" + m_random.hex(8), each);
        }
    }

    // One app's folder: intermediates, products (an .app bundle), the index and build logs.
    void derivedData(const std::string& app, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        const std::string folder = m_home.at("Library/Developer/Xcode/DerivedData/" + app + "-" + m_random.letters(28));
        m_home.dir(folder);
        m_home.text(folder + "/info.plist", plist("<key>WorkspacePath</key><string>/Users/dev/Developer/" + app + "/" +
                                                  app + ".xcodeproj</string>"));
        const std::string objects = folder + "/Build/Intermediates.noindex/" + app + ".build/Debug-iphonesimulator/" +
                                    app + ".build/Objects-normal/arm64";
        const std::string products = folder + "/Build/Products/Debug-iphonesimulator/" + app + ".app";
        const std::string records = folder + "/Index.noindex/DataStore/v5/records";
        for (const std::string& path :
             {folder + "/Build", folder + "/Build/Intermediates.noindex",
              folder + "/Build/Intermediates.noindex/" + app + ".build",
              folder + "/Build/Intermediates.noindex/" + app + ".build/Debug-iphonesimulator",
              folder + "/Build/Intermediates.noindex/" + app + ".build/Debug-iphonesimulator/" + app + ".build",
              folder + "/Build/Intermediates.noindex/" + app + ".build/Debug-iphonesimulator/" + app +
                  ".build/Objects-normal",
              objects, folder + "/Build/Products", folder + "/Build/Products/Debug-iphonesimulator", products,
              products + "/Frameworks", folder + "/Index.noindex", folder + "/Index.noindex/DataStore",
              folder + "/Index.noindex/DataStore/v5", records, folder + "/Logs", folder + "/Logs/Build"}) {
            m_home.dir(path);
        }
        m_home.file(products + "/" + app, m_random.between(128'000, 1'000'000));
        m_home.file(products + "/Info.plist", 1'500);
        m_home.file(products + "/Assets.car", m_random.between(64'000, 512'000));
        for (std::size_t i = 0; i < 3; ++i) {
            m_home.file(folder + "/Logs/Build/" + m_random.uuid() + ".xcactivitylog", m_random.between(2'000, 64'000));
        }
        std::array<bool, 256> made{};
        for (std::size_t i = 0; m_home.count() < end && !m_home.full(); ++i) {
            if (i % 2 == 0) {
                const std::string stem = objects + "/Source" + std::to_string(i);
                m_home.file(stem + ".o", m_random.fileSize() * 2);
                m_home.file(stem + ".d", m_random.fileSize());
                m_home.file(stem + ".swiftdeps", m_random.fileSize());
            } else {
                const std::size_t bucket = m_random.below(256);
                char name[3];
                std::snprintf(name, sizeof name, "%02zX", bucket);
                if (!made[bucket]) made[bucket] = m_home.dir(records + "/" + name);
                m_home.file(records + "/" + name + "/Source" + std::to_string(i) + ".swift-" + m_random.hex(13),
                            m_random.fileSize());
            }
        }
    }

    void moduleCache(std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        const std::string folder = m_home.at("Library/Developer/Xcode/DerivedData/ModuleCache.noindex");
        m_home.dir(folder);
        while (m_home.count() < end && !m_home.full()) {
            const std::string hashFolder = folder + "/" + m_random.hex(13);
            m_home.dir(hashFolder);
            for (std::size_t i = 0, n = m_random.between(5, 30); i < n; ++i) {
                m_home.file(hashFolder + "/Module" + std::to_string(i) + "-" + m_random.hex(13) + ".pcm",
                            m_random.fileSize() * 4);
            }
        }
    }

    void simulator(const std::string& name, const std::string& runtime, bool booted, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        const std::string uuid = m_random.uuid();
        const std::string folder = m_home.at("Library/Developer/CoreSimulator/Devices/" + uuid);
        m_home.dir(folder);
        std::string body = "<key>UDID</key><string>" + uuid + "</string>\n\t<key>name</key><string>" + name +
                           "</string>\n\t<key>runtime</key><string>com.apple.CoreSimulator.SimRuntime." + runtime +
                           "</string>\n\t<key>state</key><integer>1</integer>\n";
        if (booted) {
            body += "\t<key>lastBootedAt</key><date>2024-0" + std::to_string(m_random.between(1, 9)) + "-1" +
                    std::to_string(m_random.between(0, 9)) + "T09:2" + std::to_string(m_random.between(0, 9)) +
                    ":00Z</date>\n";
        }
        m_home.text(folder + "/device.plist", plist(body));
        const std::string data = folder + "/data";
        for (const char* sub : {"", "/Containers", "/Containers/Data", "/Containers/Data/Application",
                                "/Containers/Bundle", "/Containers/Bundle/Application", "/Library", "/Library/Caches",
                                "/Library/Preferences", "/Library/Logs", "/tmp"}) {
            m_home.dir(data + sub);
        }
        while (m_home.count() < end && !m_home.full()) {
            const std::string app = data + "/Containers/Data/Application/" + m_random.uuid();
            m_home.dir(app);
            m_home.dir(app + "/Documents");
            m_home.dir(app + "/Library");
            m_home.dir(app + "/Library/Caches");
            for (std::size_t i = 0, n = m_random.between(5, 80); i < n; ++i) {
                m_home.file(app + (i % 3 == 0 ? "/Documents/doc" : "/Library/Caches/cache") + std::to_string(i),
                            m_random.fileSize());
            }
            m_home.file(data + "/Library/Preferences/com.example." + m_random.letters(6) + ".plist", 600);
        }
    }

    // Folders a scan walks through but must not report.
    void ordinary(const std::string& folder, std::size_t quota) {
        const std::size_t end = m_home.count() + quota;
        m_home.dir(folder);
        for (std::size_t serial = 0; m_home.count() < end && !m_home.full(); ++serial) {
            const std::string sub = folder + "/part-" + std::to_string(serial);
            sources(sub, m_random.between(5, 40), serial % 2 == 0 ? ".md" : ".py");
        }
    }

    void package(const std::string& path, const std::string& name, int depth, std::size_t end) {
        packageFiles(path, name);
        if (depth < 3 && m_random.chance(depth == 0 ? 15 : 8) && m_home.count() < end) {
            const std::string nested = path + "/node_modules";
            m_home.dir(nested);
            std::vector<std::string> scopes;
            const std::size_t offset = m_random.below(kPackages.size());
            for (std::size_t i = 0, n = m_random.between(1, 4); i < n && m_home.count() < end; ++i) {
                const std::string inner = packageName(offset + i);
                package(packageFolder(nested, inner, scopes), inner, depth + 1, end);
            }
        }
    }

private:
    std::string packageName(std::size_t serial) const {
        std::string name = kPackages[serial % kPackages.size()];
        if (serial >= kPackages.size()) name += "-" + std::to_string(serial / kPackages.size());
        return name;
    }

    static std::string dependencyName(const std::string& key) {
        std::string name = key.substr(0, key.rfind('@'));
        for (char& c : name) {
            if (c == '+') c = '/';
        }
        return name;
    }

    // The folder a package goes to, creating its scope folder ("@babel") on first use.
    std::string packageFolder(const std::string& modules, const std::string& name, std::vector<std::string>& scopes) {
        const std::string path = packageFolderParent(modules, name, scopes);
        m_home.dir(path);
        return path;
    }
    std::string packageFolderParent(const std::string& modules, const std::string& name,
                                    std::vector<std::string>& scopes) {
        if (const std::size_t slash = name.find('/'); slash != std::string::npos) {
            const std::string scope = name.substr(0, slash);
            if (std::find(scopes.begin(), scopes.end(), scope) == scopes.end()) {
                m_home.dir(modules + "/" + scope);
                scopes.push_back(scope);
            }
        }
        return modules + "/" + name;
    }

    // Small packages are a handful of files; one in ten carries hundreds, in subfolders.
    void packageFiles(const std::string& path, const std::string& name) {
        m_home.text(path + "/package.json", "{\n  \"name\": \"" + name + "\",\n  \"version\": \"" + m_random.version() +
                                                "\",\n  \"main\": \"lib/index.js\"\n}\n");
        m_home.file(path + "/README.md", m_random.fileSize());
        m_home.file(path + "/LICENSE", 1'070);
        m_home.dir(path + "/lib");
        const bool large = m_random.chance(10);
        const std::size_t files = large ? m_random.between(30, 300) : m_random.between(1, 12);
        std::string folder = path + "/lib";
        for (std::size_t i = 0; i < files && !m_home.full(); ++i) {
            if (large && i % 25 == 24) {
                folder = path + "/lib/part" + std::to_string(i / 25);
                m_home.dir(folder);
            }
            const char* extension = i % 3 == 0 ? ".d.ts" : (i % 3 == 1 ? ".js" : ".js.map");
            m_home.file(folder + "/module" + std::to_string(i) + extension, m_random.fileSize());
        }
    }

    void sources(const std::string& folder, std::size_t count, const char* extension) {
        m_home.dir(folder);
        for (std::size_t i = 0; i < count; ++i) {
            m_home.file(folder + "/file" + std::to_string(i) + extension, m_random.fileSize());
        }
    }

    static std::string plist(const std::string& body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n<dict>\n\t" +
               body + "</dict>\n</plist>\n";
    }

    Home& m_home;
    Random& m_random;
    std::array<bool, 256> m_buckets{};
};

// Shares of the whole, by the size such folders tend to have on a working machine.
void buildHome(Home& home, Random& random, std::size_t total) {
    Builder b(home, random);
    auto share = [total](double percent) {
        return static_cast<std::size_t>(static_cast<double>(total) * percent / 100);
    };
    for (const char* folder :
         {"Developer", "Developer/clients", "Library", "Library/Caches", "Library/pnpm", "Library/pnpm/store",
          "Library/pnpm/store/v3", "Library/pnpm/store/v3/files", "Library/Developer", "Library/Developer/Xcode",
          "Library/Developer/Xcode/DerivedData", "Library/Developer/CoreSimulator",
          "Library/Developer/CoreSimulator/Devices", "Library/Preferences", "Documents"}) {
        home.dir(home.at(folder));
    }

    b.javaScript(b.project("Developer/web-app", share(0.6)), "package-lock.json", share(13), share(2));
    b.javaScript(b.project("Developer/dashboard", share(0.4)), "yarn.lock", share(8), share(1.5));
    b.javaScript(b.project("Developer/api-server", share(0.3)), "package-lock.json", share(6), 0);
    b.javaScript(b.project("Developer/clients/acme-site", share(0.2)), "", share(3), share(0.5));
    b.javaScript(b.project("Developer/old-experiment", share(0.1)), "yarn.lock", share(2.5), 0);

    const std::string monorepo = b.project("Developer/design-system", share(0.5));
    b.javaScript(monorepo, "yarn.lock", share(5), 0);
    home.dir(monorepo + "/packages");
    for (const auto& [name, percent] : {std::pair{"ui", 2.0}, std::pair{"utils", 1.0}, std::pair{"icons", 0.5}}) {
        home.dir(monorepo + "/packages/" + name);
        b.javaScript(monorepo + "/packages/" + name, "", share(percent), 0);
    }
    home.dir(monorepo + "/packages/docs");
    b.javaScript(monorepo + "/packages/docs", "", share(0.3), share(0.7));

    b.pnpmProject(b.project("Developer/pnpm-app", share(0.2)), share(8));
    b.rust(b.project("Developer/cli-tool", share(0.3), ".rs"), share(6));
    b.rust(b.project("Developer/wasm-engine", share(0.2), ".rs"), share(3));
    b.swiftPackage(b.project("Developer/ios-kit", share(0.2), ".swift"), share(2.5));
    b.swiftPackage(b.project("Developer/server-swift", share(0.1), ".swift"), share(1.5));

    // Look-alikes: a "target" without Cargo.toml, a node_modules link to another project,
    // and a node_modules inside a Library folder, which a project walk does not enter.
    const std::string site = b.project("Developer/static-site", share(0.1));
    home.text(site + "/package.json", "{\"name\": \"site\"}\n");
    b.ordinary(site + "/target", share(0.3));
    home.symlink("../web-app/node_modules", site + "/node_modules");
    const std::string plugin = b.project("Developer/mac-plugin", 0);
    home.dir(plugin + "/Library");
    home.text(plugin + "/Library/package.json", "{}\n");
    b.nodeModules(plugin + "/Library/node_modules", share(0.2));
    b.ordinary(home.at("Developer/notes"), share(1));
    b.ordinary(home.at("Documents/papers"), share(1));

    b.npmCache(share(6));
    b.yarnCache(share(4));
    b.swiftPMCache(share(1));
    b.ordinary(home.at("Library/Caches/com.apple.Safari"), share(0.5));

    for (const auto& [app, percent] : {std::pair{"Quillet", 3.0}, std::pair{"Weather", 2.0}, std::pair{"ShopKit", 1.5},
                                       std::pair{"Sketchbook", 0.7}, std::pair{"Playground", 0.3}}) {
        b.derivedData(app, share(percent));
    }
    b.moduleCache(share(1.5));

    home.file(home.at("Library/Developer/CoreSimulator/Devices/device_set.plist"), 2'000);
    b.simulator("iPhone 15 Pro", "iOS-17-5", true, share(2));
    b.simulator("iPad Air (5th generation)", "iOS-17-5", true, share(1));
    b.simulator("iPhone 16", "iOS-18-0", true, share(1));
    b.simulator("Apple Watch Series 9 (45mm)", "watchOS-10-5", false, share(0.3));
    b.simulator("Apple TV 4K (3rd generation)", "tvOS-17-5", false, share(0.2));

    // Whatever the shares left over goes to one more project, so the total comes out exact.
    if (!home.full()) {
        const std::string last = b.project("Developer/playground", 0);
        b.javaScript(last, "package-lock.json", total, 0);
    }
}

// One project whose node_modules holds exactly `entries` entries below itself.
void buildOneTarget(Home& home, Random& random, std::size_t entries) {
    Builder b(home, random);
    home.dir(home.at("Developer"));
    home.dir(home.at("Developer/monolith"));
    home.text(home.at("Developer/monolith/package.json"), "{\"name\": \"monolith\"}\n");
    home.dir(home.at("Developer/monolith/node_modules"));
    home.setLimit(home.count() + entries);
    std::vector<std::string> scopes;
    const std::string modules = home.at("Developer/monolith/node_modules");
    for (std::size_t serial = 0; !home.full(); ++serial) {
        std::string name = kPackages[serial % kPackages.size()];
        if (serial >= kPackages.size()) name += "-" + std::to_string(serial / kPackages.size());
        if (const std::size_t slash = name.find('/'); slash != std::string::npos) {
            const std::string scope = name.substr(0, slash);
            if (std::find(scopes.begin(), scopes.end(), scope) == scopes.end()) {
                home.dir(modules + "/" + scope);
                scopes.push_back(scope);
            }
        }
        home.dir(modules + "/" + name);
        b.package(modules + "/" + name, name, 0, SIZE_MAX);
    }
}

bool emptyOrMissing(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return errno == ENOENT;
    bool empty = true;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(folder);
    return empty;
}

bool parseCount(const char* text, std::size_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
    value = static_cast<std::size_t>(parsed);
    return true;
}

int usage() {
    std::fputs(
        "usage: generate_home DIR [--entries N | --one-target N]\n"
        "  --entries N     about N entries in a whole developer home (default 300000)\n"
        "  --one-target N  only one project whose node_modules holds N entries\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string root;
    std::size_t entries = 300'000;
    std::size_t oneTarget = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if ((argument == "--entries" || argument == "--one-target") && i + 1 < argc) {
            std::size_t value = 0;
            if (!parseCount(argv[++i], value) || value == 0) return usage();
            (argument == "--entries" ? entries : oneTarget) = value;
        } else if (!argument.starts_with("-") && root.empty()) {
            root = argument;
        } else {
            return usage();
        }
    }
    if (root.empty()) return usage();
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    if (!emptyOrMissing(root)) {
        std::fprintf(stderr, "generate_home: %s is not empty; give a new folder\n", root.c_str());
        return 1;
    }
    for (std::size_t slash = root.find('/', 1);; slash = root.find('/', slash + 1)) {
        const std::string part = root.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "generate_home: cannot create %s: %s\n", part.c_str(), std::strerror(errno));
            return 1;
        }
        if (slash == std::string::npos) break;
    }

    Random random(0x7175696C6C6574ull);
    Home home(root, oneTarget > 0 ? SIZE_MAX : entries);
    if (oneTarget > 0) {
        buildOneTarget(home, random, oneTarget);
    } else {
        buildHome(home, random, entries);
    }
    std::printf("%zu entries in %s\n", home.count(), root.c_str());
    return 0;
}
