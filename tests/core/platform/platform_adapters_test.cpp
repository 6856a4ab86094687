#include <gtest/gtest.h>

#include <cerrno>

#include "core/platform/file_system.h"
#include "core/platform/hex.h"
#include "core/platform/paths.h"
#include "core/platform/plist.h"
#include "core/platform/sha256.h"
#include "core/platform/utf8.h"
#include "core/platform/uuid.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

TEST(Paths, TextOperationsKeepSeparatorBoundaries) {
    EXPECT_EQ(paths::standardized("/Users/a/./x/.."), "/Users/a");
    EXPECT_EQ(paths::standardized("/a//b/"), "/a/b");
    EXPECT_EQ(paths::standardized("/.."), "/");
    EXPECT_EQ(paths::appending("/", "Library/Caches"), "/Library/Caches");
    EXPECT_EQ(paths::parent("/a"), "/");
    EXPECT_EQ(paths::lastComponent("/"), "/");
    EXPECT_TRUE(paths::liesInside("/p/web", "/p"));
    EXPECT_FALSE(paths::liesInside("/p", "/p"));
    EXPECT_FALSE(paths::liesInside("/pweb", "/p"));
    EXPECT_FALSE(paths::hasDotComponent("/a/.hidden/..x"));
}

TEST(Paths, OnlyALeadingHomeFolderBecomesATilde) {
    EXPECT_EQ(paths::abbreviatingHome("/home/me/x", "/home/me"), "~/x");
    EXPECT_EQ(paths::abbreviatingHome("/home/me/x~", "/home/me"), "~/x~");
    EXPECT_EQ(paths::abbreviatingHome("/home/me/x/home/me/y", "/home/me"), "~/x/home/me/y");
    EXPECT_EQ(paths::abbreviatingHome("/home/me", "/home/me"), "/home/me");
    EXPECT_EQ(paths::abbreviatingHome("/home/meg/x", "/home/me"), "/home/meg/x");
    EXPECT_EQ(paths::abbreviatingHome("/srv/home/me/x", "/home/me"), "/srv/home/me/x");
    EXPECT_EQ(paths::abbreviatingHome("/x", ""), "/x");
    EXPECT_EQ(paths::abbreviatingHome("/x", "/"), "/x");  // "//" never starts a standardized path
}

TEST(TextAdapters, UuidShaHexAndUtf8) {
    EXPECT_TRUE(uuid::isUUID("5e3c2a51-0B8D-4C9E-9F1A-2D7B6C4E8A10"));
    EXPECT_FALSE(uuid::isUUID("5E3C2A510B8D4C9E9F1A2D7B6C4E8A10"));
    EXPECT_FALSE(uuid::isUUID("5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A1G"));
    EXPECT_TRUE(uuid::isUUID(uuid::makeRandom()));

    Sha256 pieces;
    pieces.update("a");
    pieces.update("bc");
    EXPECT_EQ(pieces.finishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    EXPECT_FALSE(utf8::isValid("\xC0\xAF"));      // overlong "/"
    EXPECT_FALSE(utf8::isValid("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ(utf8::trimmedWhitespace(" \t\n message \r\n\u00A0"), "message");
    EXPECT_EQ(utf8::prefix("ééé", 2), "éé");
    EXPECT_TRUE(utf8::isAscii("plain ~/x"));
    EXPECT_FALSE(utf8::isAscii("\x7F\x80"));

    const std::string allBytes = [] {
        std::string bytes;
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
        return bytes;
    }();
    const std::string text = hex::encoded(allBytes);
    EXPECT_EQ(text.substr(0, 6) + text.substr(text.size() - 4), "000102feff");
    EXPECT_EQ(hex::decoded(text), allBytes);
    EXPECT_EQ(hex::decoded("C0aF"), "\xC0\xAF");  // either case
    EXPECT_EQ(hex::decoded("abc"), std::nullopt);
    EXPECT_EQ(hex::decoded("0g"), std::nullopt);
    EXPECT_EQ(hex::decoded("0/"), std::nullopt);
    EXPECT_EQ(hex::decoded("\x10\x11"), std::nullopt);  // not "01" with its case bit set
    std::string upper;
    hex::appendByte(upper, 0xAB, hex::Letters::upper);
    EXPECT_EQ(upper, "AB");
}

TEST(Plist, ReadsADateOnlyFromANonEmptyDictionary) {
    testing::TempTree tree;
    const std::string dated = tree.writeFile("dated.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>lastBootedAt</key><date>2001-01-02T00:00:00Z</date><key>name</key><string>x</string></dict></plist>)");
    const auto when = plist::dateValue(dated, "lastBootedAt");
    ASSERT_TRUE(when.has_value());
    // Property-list dates count from 2001.
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(when->time_since_epoch()).count(), 978307200 + 86400);
    EXPECT_FALSE(plist::dateValue(dated, "name").has_value());
    EXPECT_FALSE(plist::dateValue(tree.writeFile("junk.plist", "not a plist"), "lastBootedAt").has_value());
    EXPECT_FALSE(plist::dateValue(tree.path("absent.plist"), "lastBootedAt").has_value());
}

TEST(Plist, ReadsAStringValueAndRefusesOneHoldingANul) {
    const std::string head =
        R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>SUPublicEDKey</key><string>)";
    EXPECT_EQ(plist::stringValue(head + "abc=</string></dict></plist>", "SUPublicEDKey"), "abc=");
    // Found by fuzzing: libplist's own reader aborted the process on this.
    EXPECT_EQ(plist::stringValue(head + std::string("abc=\0\0</string></dict></plist>", 30), "SUPublicEDKey"),
              std::nullopt);
    EXPECT_EQ(plist::stringValue(head + "x</string></dict></plist>", "other"), std::nullopt);
}

TEST(FileSystem, ListingTypesAndAtomicReplacement) {
    testing::TempTree tree;
    tree.writeFile("dir/file", "x");
    tree.makeDir("dir/.hidden");
    tree.symlink("nowhere", "dir/dangling");
    EXPECT_EQ(fs::listDirectory(tree.path("dir"), false)->size(), 3U);
    EXPECT_EQ(fs::listDirectory(tree.path("dir"), true)->size(), 2U);
    EXPECT_EQ(fs::entryType(tree.path("dir/dangling")), fs::EntryType::symlink);
    EXPECT_FALSE(fs::exists(tree.path("dir/dangling")));
    EXPECT_FALSE(fs::isPackageName(".app"));

    // A listing without types whose entry vanished before its lstat: that entry's failure
    // (ENOENT left in errno) is not the listing's. The last name read is the one that fails,
    // so the errno would still be set when the listing ends.
    std::vector<std::string> looked;
    const auto vanishing = [&](int, const char* name, unsigned char) {
        looked.emplace_back(name);
        errno = ENOENT;
        return fs::EntryType::unknown;
    };
    const auto untyped = fs::listDirectory(tree.path("dir"), false, vanishing);
    ASSERT_TRUE(untyped.has_value());
    EXPECT_EQ(untyped->size(), 3U);
    EXPECT_EQ(looked.size(), 3U);
    EXPECT_FALSE(fs::listDirectory(tree.path("dir/file"), false, vanishing).has_value());

    const std::string target = tree.path("settings.json");
    EXPECT_EQ(fs::writeFileAtomically(target, "first"), "");
    EXPECT_EQ(fs::writeFileAtomically(target, "second"), "");
    EXPECT_EQ(fs::readFile(target), "second");
    EXPECT_EQ(fs::listDirectory(tree.root(), false)->size(), 2U);  // no temporary left behind
    EXPECT_NE(fs::createDirectories(tree.path("dir/file/sub")), "");
}

}  // namespace
}  // namespace tarnby
