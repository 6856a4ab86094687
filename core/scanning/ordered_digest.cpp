#include "core/scanning/ordered_digest.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace tarnby::walk {

namespace {

// Lines are handed to SHA-256 in pieces of about this size rather than one call each.
constexpr std::size_t kHashPiece = 64 * 1024;

template <typename Number>
void appendNumber(std::string& out, Number value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, static_cast<std::size_t>(end - buffer));
}

// Byte order of name + suffix, without building either string.
bool keyLess(std::string_view a, std::string_view aSuffix, std::string_view b, std::string_view bSuffix) {
    const auto at = [](std::string_view text, std::string_view rest, std::size_t i) -> int {
        if (i < text.size()) return static_cast<unsigned char>(text[i]);
        i -= text.size();
        return i < rest.size() ? static_cast<unsigned char>(rest[i]) : -1;
    };
    const std::size_t common = std::min(a.size(), b.size());
    if (const int c = std::memcmp(a.data(), b.data(), common); c != 0) return c < 0;
    for (std::size_t i = common;; ++i) {
        const int x = at(a, aSuffix, i);
        const int y = at(b, bSuffix, i);
        if (x != y) return x < y;
        if (x < 0) return false;
    }
}

}  // namespace

EntryStat entryStat(const struct stat& info) {
    EntryStat entry;
    entry.device = static_cast<std::uint64_t>(info.st_dev);
    entry.inode = static_cast<std::uint64_t>(info.st_ino);
    entry.size = static_cast<std::int64_t>(info.st_size);
    entry.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    entry.modifiedNanoseconds = static_cast<std::uint32_t>(info.st_mtim.tv_nsec);
    entry.changedSeconds = static_cast<std::int64_t>(info.st_ctim.tv_sec);
    entry.changedNanoseconds = static_cast<std::uint32_t>(info.st_ctim.tv_nsec);
    entry.mode = static_cast<std::uint32_t>(info.st_mode);
    return entry;
}

void appendNumbers(std::string& out, const EntryStat& entry) {
    out.push_back('|');
    appendNumber(out, entry.device);
    out.push_back(':');
    appendNumber(out, entry.inode);
    out.push_back('|');
    appendNumber(out, entry.mode);
    out.push_back('|');
    appendNumber(out, entry.size);
    out.push_back('|');
    appendNumber(out, entry.modifiedSeconds);
    out.push_back(':');
    appendNumber(out, entry.modifiedNanoseconds);
    out.push_back('|');
    appendNumber(out, entry.changedSeconds);
    out.push_back(':');
    appendNumber(out, entry.changedNanoseconds);
}

void sortForDigest(Folder& folder) {
    // An entry's line is its name and tail; a run's key is name + "/".
    const auto suffix = [&](std::uint32_t step) -> std::string_view {
        if ((step & 1U) != 0) return "/";
        return folder.childTail(step >> 1);
    };
    folder.order.reserve(folder.children.size() + folder.subfolders.size());
    for (std::uint32_t i = 0; i < folder.children.size(); ++i) {
        folder.order.push_back(i << 1);
        if (folder.children[i].folder != kNoFolder) folder.order.push_back((i << 1) | 1U);
    }
    std::sort(folder.order.begin(), folder.order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return keyLess(folder.childName(folder.children[a >> 1]), suffix(a), folder.childName(folder.children[b >> 1]),
                       suffix(b));
    });
}

OrderedDigest::OrderedDigest(Folder& root, const EntryStat& rootStat) : m_root(root), m_rootStat(rootStat) {
    m_levels.push_back({&root, 0});
}

Folder* OrderedDigest::advance(const Finished& finished) {
    while (!m_levels.empty()) {
        Level& level = m_levels.back();
        Folder& folder = *level.folder;
        const FolderState state = folder.state.load(std::memory_order_acquire);
        if (state == FolderState::pending || state == FolderState::claimed) return &folder;
        if (state == FolderState::listed && level.cursor < folder.order.size()) {
            const std::uint32_t step = folder.order[level.cursor++];
            const Child& child = folder.children[step >> 1];
            if ((step & 1U) == 0) {
                emit(folder.childName(child), folder.childTail(step >> 1));
            } else {
                m_relative.push_back('/');
                m_relative.append(folder.childName(child));
                m_levels.push_back({folder.subfolders[child.folder].get(), 0});
            }
            continue;
        }
        m_levels.pop_back();
        finished(folder);
        if (&folder == &m_root) continue;
        m_relative.resize(m_relative.size() - folder.name().size() - 1);
        folder.parent->subfolders[folder.parent->children[folder.index].folder].reset();
    }
    std::string rootTail;
    appendNumbers(rootTail, m_rootStat);
    emit({}, rootTail);
    m_hash.update(m_piece);
    m_digest = m_hash.finishHex();
    return nullptr;
}

void OrderedDigest::emit(std::string_view name, std::string_view tail) {
    if (m_emitted++ > 0) m_piece.push_back('\n');
    m_piece.append(m_relative);
    if (!name.empty()) {
        m_piece.push_back('/');
        m_piece.append(name);
    }
    m_piece.append(tail);
    if (m_piece.size() >= kHashPiece) {
        m_hash.update(m_piece);
        m_piece.clear();
    }
}

}  // namespace tarnby::walk
