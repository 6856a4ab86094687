#include "core/platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <sys/attr.h>
#endif

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/platform/paths.h"
#include "core/platform/uuid.h"

namespace tarnby::fs {

namespace {

EntryType typeFromMode(mode_t mode) {
    if (S_ISDIR(mode)) return EntryType::directory;
    if (S_ISLNK(mode)) return EntryType::symlink;
    if (S_ISREG(mode)) return EntryType::regular;
    return EntryType::other;
}

EntryType typeFromDirent(unsigned char type) {
    switch (type) {
        case DT_DIR: return EntryType::directory;
        case DT_LNK: return EntryType::symlink;
        case DT_REG: return EntryType::regular;
        case DT_UNKNOWN: return EntryType::unknown;
        default: return EntryType::other;
    }
}

// GNU strerror_r returns the text (maybe a static one); POSIX strerror_r fills the buffer.
[[maybe_unused]] const char* pickErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* pickErrorText(int status, const char* buffer) { return status == 0 ? buffer : nullptr; }

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

EntryType listedType(int folderFd, const char* name, unsigned char direntType) {
    const EntryType type = typeFromDirent(direntType);
    if (type != EntryType::unknown) return type;
    // Some file systems give no type in the listing; only then is a stat worth its cost.
    struct stat info {};
    if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryType::unknown;
    return typeFromMode(info.st_mode);
}

std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& path, bool skipHidden) {
    return listDirectory(path, skipHidden, &listedType);
}

std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& path, bool skipHidden,
                                                         const TypeLookup& typeOf) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    bool failed = false;
    for (;;) {
        // Cleared before every call: only readdir's own errno tells an error from the end, and
        // a failed lstat of an entry that vanished meanwhile must not count as one.
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            failed = errno != 0;
            break;
        }
        std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (skipHidden && isHiddenName(name)) continue;
        DirectoryEntry item{std::string(name), typeOf(::dirfd(dir), entry->d_name, entry->d_type)};
        entries.push_back(std::move(item));
    }
    ::closedir(dir);
    if (failed) return std::nullopt;
    return entries;
}

std::optional<EntryType> entryType(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return typeFromMode(info.st_mode);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::optional<FileIdentity> identity(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool isHiddenName(std::string_view name) { return !name.empty() && name.front() == '.'; }

bool isPackageName(std::string_view name) {
    static constexpr std::array<std::string_view, 11> kExtensions{
        ".app",       ".framework",   ".bundle",    ".plugin",     ".kext",         ".xpc",
        ".xcodeproj", ".xcworkspace", ".xcarchive", ".playground", ".photoslibrary"};
    for (auto extension : kExtensions) {
        if (endsWith(name, extension)) return true;
    }
    return false;
}

ReadOutcome readAll(int fd, std::size_t limit) {
    ReadOutcome outcome;
    std::string data;
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            outcome.error = error;
            return outcome;
        }
        if (count == 0) break;
        if (data.size() + static_cast<std::size_t>(count) > limit) return outcome;
        data.append(buffer.data(), static_cast<std::size_t>(count));
    }
    outcome.data = std::move(data);
    return outcome;
}

std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    ReadOutcome outcome = readAll(fd, limit);
    ::close(fd);
    return std::move(outcome.data);
}

std::string createDirectories(const std::string& path) {
    const std::string target = paths::standardized(path);
    std::string current;
    std::size_t start = 1;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos) end = target.size();
        current = target.substr(0, end);
        if (::mkdir(current.c_str(), 0755) != 0 && errno != EEXIST) {
            return "“" + current + "” could not be created: " + describeErrno(errno);
        }
        start = end + 1;
    }
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return "“" + target + "” is not a folder.";
    }
    return {};
}

namespace {

// Temporary files of `path` that writers killed mid-save left behind. A writer holds a lock on
// its temporary file until it is renamed, so one that can be locked has no writer any more.
void removeAbandonedTemporaries(const std::string& folder, const std::string& prefix, std::size_t length) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return;
    const int folderFd = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name.size() != length || !name.starts_with(prefix) || !name.ends_with(".tmp")) continue;
        const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(folderFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(listing);
}

}  // namespace

std::string writeFileAtomically(const std::string& path, std::string_view data) {
    const std::string folder = paths::parent(path);
    const std::string prefix = "." + paths::lastComponent(path) + ".";
    const std::string temporary = folder + "/" + prefix + uuid::makeRandom() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return "“" + path + "” could not be written: " + describeErrno(errno);
    // Held until the rename, so another save does not take this file for an abandoned one.
    ::flock(fd, LOCK_EX);
    const auto fail = [&](const char* what, int error) {
        ::unlink(temporary.c_str());
        ::close(fd);
        return "“" + path + "” " + what + ": " + describeErrno(error);
    };
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t count = ::write(fd, data.data() + written, data.size() - written);
        if (count < 0) {
            if (errno == EINTR) continue;
            return fail("could not be written", errno);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(fd) != 0) return fail("could not be written", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("could not be replaced", errno);
    // The data was flushed before the rename; closing cannot lose it any more.
    ::close(fd);
    // The rename itself is only durable once the folder is flushed too.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    removeAbandonedTemporaries(folder, prefix, temporary.size() - folder.size() - 1);
    return {};
}

std::string currentUserHome() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return paths::standardized(home);
    }
    return passwordDatabaseHome().value_or("/");
}

std::optional<std::string> passwordDatabaseHome() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return paths::standardized(entry->pw_dir);
    }
    return std::nullopt;
}

std::optional<std::int64_t> privateBytes([[maybe_unused]] int folderFd, [[maybe_unused]] const char* name) {
#if defined(__APPLE__)
    attrlist request{};
    request.bitmapcount = ATTR_BIT_MAP_COUNT;
    request.commonattr = ATTR_CMN_RETURNED_ATTRS;
    request.forkattr = ATTR_CMNEXT_PRIVATESIZE;
    struct {
        std::uint32_t length;
        attribute_set_t returned;
        off_t privateSize;
    } __attribute__((aligned(4), packed)) answer{};
    if (::getattrlistat(folderFd, name, &request, &answer, sizeof answer, FSOPT_NOFOLLOW | FSOPT_ATTR_CMN_EXTENDED) !=
            0 ||
        (answer.returned.forkattr & ATTR_CMNEXT_PRIVATESIZE) == 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(answer.privateSize);
#else
    return std::nullopt;
#endif
}

std::optional<std::int64_t> availableCapacity(const std::string& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    const unsigned long long bytes =
        static_cast<unsigned long long>(info.f_bavail) * static_cast<unsigned long long>(info.f_frsize);
    constexpr auto kMax = static_cast<unsigned long long>(INT64_MAX);
    return static_cast<std::int64_t>(bytes > kMax ? kMax : bytes);
}

std::string describeErrno(int error) {
    char buffer[256] = {};
    const char* text = pickErrorText(::strerror_r(error, buffer, sizeof buffer), buffer);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(error);
}

}  // namespace tarnby::fs
