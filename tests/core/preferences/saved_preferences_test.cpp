#include "core/preferences/saved_preferences.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/platform/file_system.h"
#include "core/scanning/project_locations.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

auto fields(const SavedPreferences& preferences) { return std::pair(preferences.roots, preferences.kept); }

struct SavedPreferencesTest : ::testing::Test {
    std::optional<std::string> stored() const { return tarnby::fs::readFile(preferencesPath(m_home)); }

    tarnby::testing::TempTree m_tree;
    std::string m_home = m_tree.makeDir("home");
};

TEST_F(SavedPreferencesTest, SavedFileIsCompactWithEscapedSlashesAndLoadsBack) {
    const SavedPreferences saved{{"/me/Zeta", "/me/Código"}, {"/y/target", "/x/nm"}};
    ASSERT_EQ(savePreferences(m_home, saved), std::nullopt);
    const std::string folder = m_home + "/Library/Application Support/Tarnby";
    EXPECT_EQ(preferencesPath(m_home), folder + "/preferences.json");
    EXPECT_EQ(stored(), R"({"roots":["\/me\/Zeta","\/me\/Código"],"kept":["\/x\/nm","\/y\/target"]})");
    EXPECT_EQ(tarnby::fs::listDirectory(folder, false)->size(), 1u) << "no temporary file may stay behind";
    EXPECT_EQ(fields(loadPreferences(m_home)), fields(saved));
}

TEST_F(SavedPreferencesTest, StoredValuesAreTakenAsTheyAreAndAnythingButACompleteDocumentGivesTheSuggestions) {
    m_tree.makeDir("home/Developer");
    const SavedPreferences defaults{tarnby::ProjectLocations::suggested(m_home), {}};
    ASSERT_FALSE(defaults.roots.empty());
    EXPECT_EQ(fields(loadPreferences(m_home)), fields(defaults));
    EXPECT_FALSE(tarnby::fs::exists(m_home + "/Library")) << "loading must not write";

    const std::string file = "home/Library/Application Support/Tarnby/preferences.json";
    for (const std::string text :
         {R"({"roots":["\/a"]})", R"({"kept":[]})", R"({"roots":["\/a",7],"kept":[]})", R"({"roots":"\/a","kept":[]})",
          R"({"roots":["\/a"],"kept":{"\/b":true}})", R"([["\/a"],[]])", R"({"roots":["\/a"],"kept":[])", ""}) {
        m_tree.writeFile(file, text);
        EXPECT_EQ(fields(loadPreferences(m_home)), fields(defaults)) << text;
        EXPECT_EQ(stored(), text) << "loading must not rewrite";
    }
    // An empty list of roots is a choice, not a reason for the suggestions.
    m_tree.writeFile(file, R"({"kept":["\/b","\/a","\/b"],"roots":[],"version":3})");
    EXPECT_EQ(fields(loadPreferences(m_home)), fields({{}, {"/a", "/b"}}));
}

TEST_F(SavedPreferencesTest, AFailedSaveGivesOneNoteAndLeavesTheDiskAsItWas) {
    ASSERT_EQ(savePreferences(m_home, {{"/a"}, {"/k"}}), std::nullopt);
    const std::string blocked = m_tree.writeFile("blocked/Library", "not a folder");
    const std::string prefix = "Could not save settings: ";
    // A folder that cannot be created, and a path that is not UTF-8 (which must not replace the old file).
    for (const auto& [home, root, file] :
         {std::tuple{m_tree.path("blocked"), "/a", blocked}, std::tuple{m_home, "/caf\xE9", preferencesPath(m_home)}}) {
        const auto before = tarnby::fs::readFile(file);
        const std::string note = savePreferences(home, {{"/a", root}, {"/k"}}).value_or("");
        EXPECT_TRUE(note.starts_with(prefix) && note.size() > prefix.size() + 1 && note.back() == '.') << note;
        EXPECT_EQ(tarnby::fs::readFile(file), before);
    }
}

TEST_F(SavedPreferencesTest, NormalizedRootsResolveLinksDropDuplicatesSortByCodePointAndKeepMissingOnes) {
    const std::string real = m_tree.makeDir("home/Code");
    const std::string link = m_tree.symlink(real, "home/link-to-code");
    const std::string upper = m_tree.makeDir("home/A");
    const std::string lower = m_tree.makeDir("home/a");
    const std::string accented = m_tree.makeDir("home/é");
    // A root that is gone for now stays, standardized.
    EXPECT_EQ(normalizedRoots({accented, lower, m_home + "/./gone/../unplugged", link, upper, real + "/", real}),
              (std::vector<std::string>{upper, real, lower, m_home + "/unplugged", accented}));
}

TEST_F(SavedPreferencesTest, AReaderNeverSeesAHalfWrittenFile) {
    // Two large documents, so a write takes many system calls; the reader must only ever see one of them whole.
    std::vector<SavedPreferences> docs(2);
    for (int i = 0; i < 4000; ++i) docs[i % 2].roots.push_back("/Users/me/" + std::string(40, 'x') + std::to_string(i));
    const auto saved = [&](const SavedPreferences& p) { return savePreferences(m_home, p) ? std::nullopt : stored(); };
    const auto second = saved(docs[1]), first = saved(docs[0]);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        for (std::optional<std::string> text; !done; ++reads) torn += (text = stored()) != first && text != second;
    });
    for (int round = 1; round <= 10 || reads < 10; ++round) EXPECT_FALSE(savePreferences(m_home, docs[round % 2]));
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
}

}  // namespace
}  // namespace tarnby
