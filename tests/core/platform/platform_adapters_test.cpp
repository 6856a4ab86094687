#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/platform/file_system.h"
#include "core/platform/paths.h"
#include "core/platform/plist.h"
#include "core/platform/sha256.h"
#include "core/platform/utf8.h"
#include "core/platform/uuid.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

TEST(Paths, StandardizingRemovesDotsButKeepsText) {
    EXPECT_EQ(paths::standardized("/Users/a/./x/.."), "/Users/a");
    EXPECT_EQ(paths::standardized("/a//b/"), "/a/b");
    EXPECT_EQ(paths::standardized("/.."), "/");
    EXPECT_EQ(paths::standardized("/"), "/");
    EXPECT_EQ(paths::appending("/h", "Library/Caches/Yarn"), "/h/Library/Caches/Yarn");
    EXPECT_EQ(paths::appending("/", "x"), "/x");
    EXPECT_EQ(paths::parent("/a/b"), "/a");
    EXPECT_EQ(paths::parent("/a"), "/");
    EXPECT_EQ(paths::lastComponent("/a/b"), "b");
    EXPECT_EQ(paths::lastComponent("/"), "/");
}

TEST(Paths, LiesInsideNeedsASeparatorBoundary) {
    EXPECT_TRUE(paths::liesInside("/p/web", "/p"));
    EXPECT_FALSE(paths::liesInside("/p", "/p"));
    EXPECT_FALSE(paths::liesInside("/pweb", "/p"));
    EXPECT_TRUE(paths::liesInside("/x", "/"));
    EXPECT_TRUE(paths::hasDotComponent("/a/./b"));
    EXPECT_TRUE(paths::hasDotComponent("/a/.."));
    EXPECT_FALSE(paths::hasDotComponent("/a/.hidden/..x"));
}

TEST(Uuid, ParsesCanonicalTextInEitherCase) {
    EXPECT_TRUE(uuid::isUUID("5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10"));
    EXPECT_TRUE(uuid::isUUID("5e3c2a51-0b8d-4c9e-9f1a-2d7b6c4e8a10"));
    EXPECT_FALSE(uuid::isUUID("ABC"));
    EXPECT_FALSE(uuid::isUUID("5E3C2A510B8D4C9E9F1A2D7B6C4E8A10"));
    EXPECT_FALSE(uuid::isUUID("5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A1G"));
    const std::string made = uuid::makeRandom();
    EXPECT_TRUE(uuid::isUUID(made));
    EXPECT_NE(made, uuid::makeRandom());
}

TEST(Sha256, KnownDigestsAndIncrementalFeeding) {
    EXPECT_EQ(Sha256::hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256 pieces;
    pieces.update("a");
    pieces.update("bc");
    EXPECT_EQ(pieces.finishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Utf8, ValidityTrimmingAndPrefixByCharacters) {
    EXPECT_TRUE(utf8::isValid("héllo"));
    EXPECT_FALSE(utf8::isValid("\xff"));
    EXPECT_FALSE(utf8::isValid("\xC0\xAF"));        // overlong "/"
    EXPECT_FALSE(utf8::isValid("\xED\xA0\x80"));    // surrogate
    EXPECT_EQ(utf8::trimmedWhitespace(" \t\n message \r\n\u00A0"), "message");
    EXPECT_EQ(utf8::trimmedWhitespace("  "), "");
    EXPECT_EQ(utf8::prefix("ééé", 2), "éé");
    EXPECT_EQ(utf8::prefix("ab", 5), "ab");
}

TEST(Plist, ReadsDatesFromXmlAndIgnoresOtherShapes) {
    testing::TempTree tree;
    // 2001-01-01 plus 86400 s, written the way the simulator writes it.
    const std::string dated = tree.writeFile("dated.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>lastBootedAt</key><date>2001-01-02T00:00:00Z</date><key>name</key><string>x</string></dict></plist>)");
    const auto when = plist::dateValue(dated, "lastBootedAt");
    ASSERT_TRUE(when.has_value());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(when->time_since_epoch()).count(), 978307200 + 86400);

    EXPECT_FALSE(plist::dateValue(dated, "name").has_value());     // not a date
    EXPECT_FALSE(plist::dateValue(dated, "missing").has_value());
    EXPECT_FALSE(plist::dateValue(tree.writeFile("junk.plist", "not a plist"), "lastBootedAt").has_value());
    EXPECT_FALSE(plist::dateValue(tree.path("absent.plist"), "lastBootedAt").has_value());
    const std::string array = tree.writeFile("array.plist", R"(<?xml version="1.0"?><plist version="1.0"><array><date>2001-01-02T00:00:00Z</date></array></plist>)");
    EXPECT_FALSE(plist::dateValue(array, "lastBootedAt").has_value());
}

TEST(FileSystem, ListingTypesExistenceAndPackages) {
    testing::TempTree tree;
    tree.writeFile("dir/file", "x");
    tree.makeDir("dir/.hidden");
    tree.symlink("nowhere", "dir/dangling");
    const auto all = fs::listDirectory(tree.path("dir"), false);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->size(), 3U);
    const auto visible = fs::listDirectory(tree.path("dir"), true);
    ASSERT_TRUE(visible.has_value());
    EXPECT_EQ(visible->size(), 2U);
    EXPECT_FALSE(fs::listDirectory(tree.path("dir/file"), false).has_value());
    EXPECT_EQ(fs::entryType(tree.path("dir/dangling")), fs::EntryType::symlink);
    EXPECT_FALSE(fs::exists(tree.path("dir/dangling")));
    EXPECT_TRUE(fs::isPackageName("Preview.app"));
    EXPECT_TRUE(fs::isPackageName("My.xcodeproj"));
    EXPECT_FALSE(fs::isPackageName(".app"));
    EXPECT_FALSE(fs::isPackageName("app"));
}

TEST(FileSystem, AtomicWriteReplacesWholeAndReportsFailure) {
    testing::TempTree tree;
    const std::string target = tree.path("settings.json");
    EXPECT_EQ(fs::writeFileAtomically(target, "first"), "");
    EXPECT_EQ(fs::writeFileAtomically(target, "second"), "");
    EXPECT_EQ(fs::readFile(target), "second");
    EXPECT_EQ(fs::listDirectory(tree.root(), false)->size(), 1U);  // no temporary left behind
    EXPECT_NE(fs::writeFileAtomically(tree.path("missing/settings.json"), "x"), "");
    tree.writeFile("blocker", "x");
    EXPECT_NE(fs::createDirectories(tree.path("blocker/sub")), "");
    EXPECT_EQ(fs::createDirectories(tree.path("a/b/c")), "");
    EXPECT_EQ(fs::createDirectories(tree.path("a/b/c")), "");  // existing is fine
}

}  // namespace
}  // namespace tarnby
