#include "app/model/saved_preferences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/platform/file_system.h"
#include "core/scanning/project_locations.h"
#include "tests/support/temp_tree.h"

namespace quillet {
namespace {

using tarnby::testing::TempTree;

std::vector<std::string> names(const std::string& folder) {
    std::vector<std::string> result;
    for (const auto& entry : tarnby::fs::listDirectory(folder, false).value_or(std::vector<tarnby::fs::DirectoryEntry>{})) {
        result.push_back(entry.name);
    }
    std::sort(result.begin(), result.end());
    return result;
}

class SavedPreferencesTest : public ::testing::Test {
protected:
    std::string store(std::string_view text) const {
        return m_tree.writeFile("home/Library/Application Support/Tarnby/preferences.json", text);
    }

    TempTree m_tree;
    std::string m_home = m_tree.makeDir("home");
};

TEST_F(SavedPreferencesTest, SavedFileIsCompactWithEscapedSlashesAndLoadsBack) {
    const SavedPreferences saved{{"/Users/me/Zeta", "/Users/me/Código"}, {"/y/target", "/x/node_modules", "/y/target"}};
    ASSERT_EQ(savePreferences(m_home, saved), std::nullopt);

    const std::string folder = m_home + "/Library/Application Support/Tarnby";
    EXPECT_EQ(preferencesPath(m_home), folder + "/preferences.json");
    EXPECT_EQ(tarnby::fs::readFile(preferencesPath(m_home)),
              R"({"roots":["\/Users\/me\/Zeta","\/Users\/me\/Código"],"kept":["\/x\/node_modules","\/y\/target"]})");
    EXPECT_EQ(names(folder), std::vector<std::string>{"preferences.json"}) << "no temporary file may stay behind";

    const SavedPreferences loaded = loadPreferences(m_home);
    EXPECT_EQ(loaded.roots, saved.roots);
    EXPECT_EQ(loaded.kept, saved.kept);
}

TEST_F(SavedPreferencesTest, AnythingButACompleteDocumentGivesTheSuggestionsSilently) {
    m_tree.makeDir("home/Developer");
    m_tree.writeFile("home/site/package.json", "{}");
    const std::vector<std::string> suggestions = tarnby::ProjectLocations::suggested(m_home);
    ASSERT_EQ(suggestions.size(), 2u);

    const SavedPreferences absent = loadPreferences(m_home);
    EXPECT_EQ(absent.roots, suggestions);
    EXPECT_TRUE(absent.kept.empty());
    EXPECT_FALSE(tarnby::fs::exists(m_home + "/Library")) << "loading must not write";

    for (const std::string text : {
             R"({"roots":["\/a"]})",
             R"({"kept":[]})",
             R"({"roots":["\/a",7],"kept":[]})",
             R"({"roots":"\/a","kept":[]})",
             R"({"roots":["\/a"],"kept":{"\/b":true}})",
             R"([["\/a"],[]])",
             R"({"roots":["\/a"],"kept":[])",
             "",
         }) {
        store(text);
        const SavedPreferences loaded = loadPreferences(m_home);
        EXPECT_EQ(loaded.roots, suggestions) << text;
        EXPECT_TRUE(loaded.kept.empty()) << text;
        EXPECT_EQ(tarnby::fs::readFile(preferencesPath(m_home)), text) << "loading must not rewrite";
    }
}

TEST_F(SavedPreferencesTest, StoredValuesAreTakenAsTheyAre) {
    m_tree.makeDir("home/Developer");  // would be suggested, but an empty list is a choice
    store(R"({"kept":["\/b","\/a","\/b"],"roots":[],"version":3})");
    const SavedPreferences loaded = loadPreferences(m_home);
    EXPECT_TRUE(loaded.roots.empty());
    EXPECT_EQ(loaded.kept, (std::set<std::string>{"/a", "/b"}));
}

TEST_F(SavedPreferencesTest, FailedSaveGivesOneNoteAndWritesNothing) {
    m_tree.writeFile("home/Library", "not a folder");
    const auto note = savePreferences(m_home, {{"/a"}, {"/b"}});
    ASSERT_TRUE(note.has_value());
    EXPECT_EQ(note->rfind("Could not save settings: ", 0), 0u) << *note;
    EXPECT_GT(note->size(), std::string("Could not save settings: ").size());
    EXPECT_EQ(note->back(), '.');
    EXPECT_EQ(names(m_home), std::vector<std::string>{"Library"});
    EXPECT_EQ(tarnby::fs::readFile(m_home + "/Library"), "not a folder");
}

TEST_F(SavedPreferencesTest, PathsThatAreNotUtf8AreNotSavedOverTheOldFile) {
    ASSERT_EQ(savePreferences(m_home, {{"/a"}, {}}), std::nullopt);
    const auto note = savePreferences(m_home, {{"/a", "/caf\xE9"}, {}});
    ASSERT_TRUE(note.has_value());
    EXPECT_EQ(note->rfind("Could not save settings: ", 0), 0u);
    EXPECT_EQ(loadPreferences(m_home).roots, std::vector<std::string>{"/a"});
}

TEST_F(SavedPreferencesTest, NormalizedRootsResolveLinksDropDuplicatesAndSortByCodePoint) {
    const std::string real = m_tree.makeDir("home/Code");
    const std::string link = m_tree.symlink(real, "home/link-to-code");
    const std::string upper = m_tree.makeDir("home/A");
    const std::string lower = m_tree.makeDir("home/a");
    const std::string accented = m_tree.makeDir("home/é");
    const std::string zed = m_tree.makeDir("home/z");

    EXPECT_EQ(normalizedRoots({zed, accented, lower, link, upper, real + "/", real}),
              (std::vector<std::string>{upper, real, lower, zed, accented}));

    // A root that is gone for now stays, standardized, instead of vanishing from the list.
    EXPECT_EQ(normalizedRoots({m_home + "/./gone/../unplugged", m_home + "/unplugged"}),
              std::vector<std::string>{m_home + "/unplugged"});
}

TEST_F(SavedPreferencesTest, AReaderNeverSeesAHalfWrittenFile) {
    // Two large documents, so a write takes many system calls.
    auto document = [](char letter) {
        SavedPreferences preferences;
        for (int i = 0; i < 4000; ++i) {
            preferences.roots.push_back("/Users/me/" + std::string(40, letter) + "/" + std::to_string(i));
        }
        preferences.kept = {"/kept/" + std::string(1, letter)};
        return preferences;
    };
    const SavedPreferences first = document('a');
    const SavedPreferences second = document('b');
    ASSERT_EQ(savePreferences(m_home, first), std::nullopt);

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const auto text = tarnby::fs::readFile(preferencesPath(m_home));
            const auto parsed = nlohmann::json::parse(text.value_or(""), nullptr, false);
            const bool whole = parsed.is_object() && parsed.contains("roots") && parsed["roots"].size() == 4000;
            if (!whole) ++torn;
            ++reads;
        }
    });
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(savePreferences(m_home, round % 2 == 0 ? second : first), std::nullopt);
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(loadPreferences(m_home).roots, first.roots);
}

}  // namespace
}  // namespace quillet
