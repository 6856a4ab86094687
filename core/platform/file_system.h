#pragma once

#include <sys/types.h>

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Small adapters over POSIX for the questions the core asks of the disk.
namespace tarnby::fs {

enum class EntryType { unknown, directory, symlink, regular, other };

struct DirectoryEntry {
    std::string name;
    EntryType type = EntryType::unknown;  // from the listing; filled by lstat when the listing had none
};

// The type of entry `name` of the open folder `folderFd`, as the listing gave it (`direntType`,
// a dirent d_type); only when the listing has none is the entry lstat'ed. unknown when that fails.
EntryType listedType(int folderFd, const char* name, unsigned char direntType);

// Shallow listing of one folder, "." and ".." left out. Nothing when it cannot be read.
std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& path, bool skipHidden);
// The same with `typeOf` in place of listedType, so tests can stand in for a file system that
// leaves the type out.
using TypeLookup = std::function<EntryType(int folderFd, const char* name, unsigned char direntType)>;
std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& path, bool skipHidden,
                                                         const TypeLookup& typeOf);

// The entry type of `path` itself (a link is a link); nothing when lstat fails.
std::optional<EntryType> entryType(const std::string& path);

// Existence following symbolic links: a dangling link counts as absent.
bool exists(const std::string& path);

// Device and inode: two paths with the same identity are one folder (a bind mount, or a
// name that differs only in letter case on a file system that ignores case).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

// The identity of `path` itself (a link is not followed); nothing when lstat fails.
std::optional<FileIdentity> identity(const std::string& path);

// Names beginning with "." are hidden on this platform.
bool isHiddenName(std::string_view name);

// Bundle folders (".app", ".framework", …) that a project walk does not enter.
bool isPackageName(std::string_view name);

// What reading a descriptor to its end gave: the bytes, or why not.
struct ReadOutcome {
    std::optional<std::string> data;  // none: a read failed or there were more than the limit
    int error = 0;                    // errno of the failed read; 0 when the limit was passed
};
// Reads `fd` to its end, at most `limit` bytes; retries interrupted reads. Does not close `fd`.
ReadOutcome readAll(int fd, std::size_t limit);

// Whole file, up to `limit` bytes; nothing when it cannot be read or is larger.
std::optional<std::string> readFile(const std::string& path, std::size_t limit = 64 * 1024 * 1024);

// Creates `path` and its missing parents. Empty on success, else the reason.
std::string createDirectories(const std::string& path);

// Writes a temporary file beside `path`, flushes it to disk and renames it over `path`,
// so a reader sees the old file or the new one, never a part. Empty on success, else the reason.
std::string writeFileAtomically(const std::string& path, std::string_view data);

// The current user's home folder ($HOME, else the password database).
std::string currentUserHome();

// The home folder the password database gives the current user, standardized; nothing when
// it has none.
std::optional<std::string> passwordDatabaseHome();

// Whether privateBytes() can answer on this platform: macOS's APFS knows which blocks a file
// shares with its clones; Linux has no such figure per file (reflinks on Btrfs and XFS stay unseen).
#if defined(__APPLE__)
inline constexpr bool kKnowsPrivateBytes = true;
#else
inline constexpr bool kKnowsPrivateBytes = false;
#endif

// The bytes of file `name` in the open folder `folderFd` that no clone shares, that is what
// removing it frees; nothing where the file system does not say (a link is not followed).
std::optional<std::int64_t> privateBytes(int folderFd, const char* name);

// Bytes available to an unprivileged user on the volume holding `path`.
std::optional<std::int64_t> availableCapacity(const std::string& path);

// strerror text for an errno value, e.g. "Permission denied".
std::string describeErrno(int error);

}  // namespace tarnby::fs
