#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tarnby {

// Reads the names of an open folder straight from getdents64 into one large buffer: one
// system call per buffer-full instead of readdir's dup, fdopendir checks and smaller reads.
// One per thread; the buffer is reused from folder to folder.
class FolderListing {
public:
    static constexpr std::size_t kBufferSize = 128 * 1024;

    FolderListing() : m_buffer(kBufferSize) {}

    // Calls onEntry(name, direntType) for every entry of `fd` but "." and "..", in the order
    // the file system gives them, until it returns false. Reads from the descriptor's current
    // position, so each descriptor is listed once. 0, or the errno of a read that failed (the
    // entries before it were given).
    template <typename OnEntry>
    int list(int fd, OnEntry&& onEntry) {
        for (;;) {
            const long read = ::syscall(SYS_getdents64, fd, m_buffer.data(), m_buffer.size());
            if (read < 0) return errno;
            if (read == 0) return 0;
            for (std::size_t at = 0; at < static_cast<std::size_t>(read);) {
                const char* record = m_buffer.data() + at;
                std::uint16_t length = 0;
                std::memcpy(&length, record + kLengthOffset, sizeof length);
                const char* name = record + kNameOffset;
                at += length;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
                if (!onEntry(name, static_cast<unsigned char>(record[kTypeOffset]))) return 0;
            }
        }
    }

private:
    // struct linux_dirent64: u64 inode, s64 offset, u16 record length, u8 type, name.
    static constexpr std::size_t kLengthOffset = 16;
    static constexpr std::size_t kTypeOffset = 18;
    static constexpr std::size_t kNameOffset = 19;

    std::vector<char> m_buffer;
};

}  // namespace tarnby
