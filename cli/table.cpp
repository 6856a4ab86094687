#include "cli/table.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <vector>

#include "core/platform/formatting.h"
#include "core/platform/hex.h"
#include "core/platform/numbers.h"
#include "core/platform/paths.h"
#include "core/platform/utf8.h"
#include "core/records/freed_space.h"

namespace quillet::cli {

namespace {

constexpr std::size_t kTitleColumns = 36;

int columnsOf(UChar32 c) {
    if (c == 0x200B || u_charType(c) == U_NON_SPACING_MARK || u_charType(c) == U_ENCLOSING_MARK) return 0;
    const auto width = static_cast<UEastAsianWidth>(u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH));
    return (width == U_EA_WIDE || width == U_EA_FULLWIDTH) ? 2 : 1;
}

// Cut to at most `columns`, ending in "…" when something was cut.
std::string fitted(const std::string& text, std::size_t columns) {
    if (displayWidth(text) <= columns) return text;
    std::size_t offset = 0;
    std::size_t used = 0;
    while (offset < text.size()) {
        const tarnby::utf8::Decoded c = tarnby::utf8::decodeAt(text, offset);
        const auto width = static_cast<std::size_t>(columnsOf(c.scalar < 0 ? 0xFFFD : c.scalar));
        if (used + width > columns - 1) break;
        used += width;
        offset += c.length;
    }
    return text.substr(0, offset) + "…";
}

std::string padded(const std::string& text, std::size_t columns, bool right = false) {
    const std::size_t width = displayWidth(text);
    if (width >= columns) return text;
    const std::string fill(columns - width, ' ');
    return right ? fill + text : text + fill;
}

std::string remark(const tarnby::StorageItem& item, bool kept) {
    std::vector<std::string> parts;
    if (kept) parts.emplace_back("kept");
    if (item.protection) parts.push_back(*item.protection);
    if (!item.measurement.complete) parts.emplace_back("not fully inspected");
    if (parts.empty()) return {};
    std::string text = "  [";
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "; " : "") + parts[i];
    return text + "]";
}

}  // namespace

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const tarnby::utf8::Decoded c = tarnby::utf8::decodeAt(text, offset);
        width += static_cast<std::size_t>(columnsOf(c.scalar < 0 ? 0xFFFD : c.scalar));
        offset += c.length;
    }
    return width;
}

namespace {

// Characters that move the cursor, switch the terminal's modes or reorder the text around them.
bool restyles(UChar32 c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) {
        const tarnby::utf8::Decoded decoded = tarnby::utf8::decodeAt(text, offset);
        const std::int32_t c = decoded.scalar;
        if (c < 0) {
            // Each byte of an invalid sequence, so nothing undecodable reaches the terminal.
            for (std::size_t i = offset; i < offset + decoded.length; ++i) {
                out += "\\x";
                tarnby::hex::appendByte(out, static_cast<unsigned char>(text[i]));
            }
        } else if (!restyles(c)) {
            out.append(text.substr(offset, decoded.length));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x80) {
            out += "\\x";
            tarnby::hex::appendByte(out, static_cast<unsigned char>(c));
        } else {
            out += "\\u";
            // Every character escaped here lies below U+10000.
            tarnby::hex::appendByte(out, static_cast<unsigned char>(c >> 8));
            tarnby::hex::appendByte(out, static_cast<unsigned char>(c & 0xFF));
        }
        offset += decoded.length;
    }
    return out;
}

std::string renderTable(const ScanDocument& document, bool showKept) {
    struct Row {
        std::string size, kind, title, changed, path;
    };
    std::vector<Row> rows;
    std::int64_t total = 0;
    std::vector<const tarnby::StorageItem*> listed;
    std::size_t hiddenKept = 0;
    for (const auto& item : document.result.items) {
        const bool kept = document.kept.count(item.url) > 0;
        if (kept && !showKept) {
            ++hiddenKept;
            continue;
        }
        if (!kept) {
            total = tarnby::saturatingAdd(total, item.measurement.bytes);
            listed.push_back(&item);
        }
        Row row;
        row.size = tarnby::formatting::byteCount(item.measurement.bytes);
        row.kind = std::string(tarnby::title(item.kind));
        row.title = fitted(terminalSafe(item.title), kTitleColumns);
        row.changed = item.measurement.modified ? tarnby::formatting::date(*item.measurement.modified, false) : "—";
        row.path = terminalSafe(tarnby::paths::abbreviatingHome(item.url, document.home)) + remark(item, kept);
        rows.push_back(std::move(row));
    }

    std::string out;
    if (rows.empty()) {
        out += "No recognized items found. Add another project folder with --root, or read the notes below.\n";
    } else {
        Row header{"SIZE", "KIND", "TITLE", "LAST CHANGE", "PATH"};
        std::size_t widths[4] = {0, 0, 0, 0};
        auto widen = [&](const Row& row) {
            widths[0] = std::max(widths[0], displayWidth(row.size));
            widths[1] = std::max(widths[1], displayWidth(row.kind));
            widths[2] = std::max(widths[2], displayWidth(row.title));
            widths[3] = std::max(widths[3], displayWidth(row.changed));
        };
        widen(header);
        for (const Row& row : rows) widen(row);
        auto line = [&](const Row& row) {
            out += padded(row.size, widths[0], true) + "  " + padded(row.kind, widths[1]) + "  " +
                   padded(row.title, widths[2]) + "  " + padded(row.changed, widths[3]) + "  " + row.path + "\n";
        };
        line(header);
        for (const Row& row : rows) line(row);
    }

    out += "\n" + tarnby::formatting::byteCount(total) + " estimated on disk in " + std::to_string(listed.size()) +
           (listed.size() == 1 ? " item" : " items");
    if (hiddenKept > 0) {
        out += " (" + std::to_string(hiddenKept) + " kept " + (hiddenKept == 1 ? "item" : "items") +
               " hidden; --all shows them)";
    }
    out += ".\n";
    // Files hard-linked into several items, or from elsewhere, are on disk once and go only
    // with their last link: say what cleaning really frees where that is less.
    if (const tarnby::FreedSpace freed = tarnby::freedTogether(listed); freed.bytes != total || freed.estimate) {
        out += std::string(listed.size() == 1 ? "Cleaning it" : "Cleaning them all") + " would free " +
               (freed.estimate ? "about " : "") + tarnby::formatting::byteCount(freed.bytes) +
               "; the rest is shared through hard links.\n";
    }
    if (document.result.cancelled) out += "Scan stopped. Showing partial results.\n";
    if (!document.result.notes.empty()) {
        out += "\nNotes:\n";
        for (const auto& note : document.result.notes) out += "  " + terminalSafe(note) + "\n";
    }
    return out;
}

}  // namespace quillet::cli
