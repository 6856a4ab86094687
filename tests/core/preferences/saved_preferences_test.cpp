// Whatever goes wrong while saving, the last good file survives whole.
#include "core/preferences/saved_preferences.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "core/platform/file_system.h"
#include "core/scanning/project_locations.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

const std::string kNotePrefix = "Could not save settings: ";

auto fields(const SavedPreferences& preferences) { return std::pair(preferences.roots, preferences.kept); }

SavedPreferences sample(int size, const std::string& tag) {
    SavedPreferences preferences;
    for (int i = 0; i < size; ++i) preferences.roots.push_back("/Users/me/" + tag + std::to_string(i));
    preferences.kept.insert("/Users/me/" + tag + "/node_modules");
    return preferences;
}

struct SavedPreferencesTest : ::testing::Test {
    std::optional<std::string> stored() const { return fs::readFile(preferencesPath(m_home)); }
    // Entries of the preferences folder other than the file itself (temporary files left behind).
    std::vector<std::string> strays() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::listDirectory(m_folder, false).value_or(std::vector<fs::DirectoryEntry>{})) {
            if (entry.name != "preferences.json") names.push_back(entry.name);
        }
        return names;
    }

    testing::TempTree m_tree;
    std::string m_home = m_tree.makeDir("home");
    std::string m_folder = m_home + "/Library/Application Support/Tarnby";
};

TEST_F(SavedPreferencesTest, SavedFileIsCompactWithEscapedSlashesAndLoadsBack) {
    const SavedPreferences saved{{"/me/Zeta", "/me/Código"}, {"/y/target", "/x/nm"}};
    ASSERT_EQ(savePreferences(m_home, saved), std::nullopt);
    EXPECT_EQ(preferencesPath(m_home), m_folder + "/preferences.json");
    EXPECT_EQ(stored(), R"({"roots":["\/me\/Zeta","\/me\/Código"],"kept":["\/x\/nm","\/y\/target"]})");
    EXPECT_EQ(strays(), std::vector<std::string>{});
    EXPECT_EQ(fields(loadPreferences(m_home)), fields(saved));
}

TEST_F(SavedPreferencesTest, StoredValuesAreTakenAsTheyAreAndAnythingButACompleteDocumentGivesTheSuggestions) {
    m_tree.makeDir("home/Developer");
    const SavedPreferences defaults{ProjectLocations::suggested(m_home), {}};
    ASSERT_FALSE(defaults.roots.empty());
    EXPECT_EQ(fields(loadPreferences(m_home)), fields(defaults));
    EXPECT_FALSE(fs::exists(m_home + "/Library")) << "loading must not write";

    const std::string file = "home/Library/Application Support/Tarnby/preferences.json";
    for (const std::string text : {R"({"kept":[]})", R"({"roots":["\/a"]})", R"({"roots":["\/a",7],"kept":[]})",
                                   R"({"roots":"\/a","kept":[]})", R"({"roots":["\/a"],"kept":[])"}) {
        m_tree.writeFile(file, text);
        EXPECT_EQ(fields(loadPreferences(m_home)), fields(defaults)) << text;
        EXPECT_EQ(stored(), text) << "loading must not rewrite";
    }
    // An empty list of roots is a choice, not a reason for the suggestions.
    m_tree.writeFile(file, R"({"kept":["\/b","\/a","\/b"],"roots":[],"version":3})");
    EXPECT_EQ(fields(loadPreferences(m_home)), fields({{}, {"/a", "/b"}}));
}

TEST_F(SavedPreferencesTest, AFailedSaveGivesOneNoteAndLeavesTheOldFileAsItWas) {
    ASSERT_EQ(savePreferences(m_home, sample(3, "old")), std::nullopt);
    const auto before = stored();
    const std::string blocked = m_tree.writeFile("blocked/Library", "not a folder");
    const auto failsWith = [&](const std::string& home, const SavedPreferences& preferences, const char* reason) {
        const std::string note = savePreferences(home, preferences).value_or("");
        EXPECT_TRUE(note.starts_with(kNotePrefix) && note.size() > kNotePrefix.size() + 1 &&
                    note.find(reason, kNotePrefix.size()) != std::string::npos && note.ends_with(".") &&
                    !note.ends_with(".."))
            << note;
    };
    // A folder that cannot be made, and a path that is not UTF-8, which must not replace the old file.
    failsWith(m_tree.path("blocked"), sample(1, "x"), "");
    EXPECT_EQ(fs::readFile(blocked), "not a folder");
    failsWith(m_home, {{"/a", "/caf\xE9"}, {"/k"}}, "");

    // A read-only file alone does not stop a save (the file is replaced, not written into); a
    // read-only folder does. As "nobody", so that the permissions bind.
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + m_tree.root() + "'").c_str()), 0);
    ASSERT_EQ(::chmod(preferencesPath(m_home).c_str(), 0444), 0);
    ASSERT_EQ(::chmod(m_folder.c_str(), 0555), 0);
    const int status = testing::runAsNobody([&] { failsWith(m_home, sample(5, "new"), "Permission denied"); });
    if (status == 125) GTEST_SKIP() << "cannot run as nobody here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(strays(), std::vector<std::string>{});
}

// A tmpfs of two pages in a mount namespace of a child's own, so nothing is left mounted.
TEST_F(SavedPreferencesTest, AFullDiskKeepsTheOldFileWholeAndLeavesNoTemporaryFile) {
    m_tree.makeDir("home/Library/Application Support/Tarnby");
    const int status = testing::runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, "size=8k") != 0) {
            ::_exit(125);
        }
        ASSERT_EQ(savePreferences(m_home, sample(3, "old")), std::nullopt);
        FILE* filler = std::fopen((m_folder + "/filler").c_str(), "w");  // takes what is left
        const std::string block(512, 'f');
        while (filler && std::fwrite(block.data(), 1, block.size(), filler) == block.size() && !std::fflush(filler)) {}
        if (filler) std::fclose(filler);
        const auto note = savePreferences(m_home, sample(400, "new"));
        EXPECT_TRUE(note && note->starts_with(kNotePrefix) && note->ends_with("No space left on device."))
            << note.value_or("saved");
        EXPECT_EQ(fields(loadPreferences(m_home)), fields(sample(3, "old")));
        EXPECT_EQ(strays(), std::vector<std::string>{"filler"});
    });
    if (status == 125) GTEST_SKIP() << "no private tmpfs can be mounted here";
    EXPECT_EQ(status, 0);
}

TEST_F(SavedPreferencesTest, APreferencesFileThatIsALinkIsReplacedWithoutWritingWhereItPoints) {
    const std::string text = R"({"roots":["\/x"],"kept":[]})";
    const std::string elsewhere = m_tree.writeFile("elsewhere/important.json", text);
    m_tree.symlink(elsewhere, "home/Library/Application Support/Tarnby/preferences.json");
    EXPECT_EQ(loadPreferences(m_home).roots, std::vector<std::string>{"/x"}) << "reading through the link is fine";
    EXPECT_EQ(savePreferences(m_home, sample(2, "saved")), std::nullopt);
    EXPECT_EQ(fs::readFile(elsewhere), text) << "the link's target was written";
    EXPECT_EQ(fs::entryType(preferencesPath(m_home)), fs::EntryType::regular);
    EXPECT_EQ(fields(loadPreferences(m_home)), fields(sample(2, "saved")));
}

TEST_F(SavedPreferencesTest, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFileNeverABrokenOne) {
    // Two documents of different sizes (tens of kilobytes), so a torn write could not pass for either.
    const SavedPreferences first = sample(600, "first"), second = sample(1100, "second");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(savePreferences(m_home, first), std::nullopt);
    // Kills land anywhere within a few saves, however slow a save is in this build (the
    // sanitizers make it several times slower), so both documents get written in between.
    const auto oneSave =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    const auto window = static_cast<unsigned>(std::max<std::int64_t>(4000, 3 * oneSave.count()));
    std::mt19937 random(2026);
    int seen[2] = {0, 0};
    for (int kill = 0; kill < 300; ++kill) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (int round = 0;; ++round) savePreferences(m_home, round % 2 == 0 ? second : first);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % window));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        const auto loaded = fields(loadPreferences(m_home));
        ASSERT_TRUE(loaded == fields(first) || loaded == fields(second))
            << "kill " << kill << " left a broken file of " << stored().value_or("").size() << " bytes";
        ++seen[loaded == fields(first) ? 0 : 1];
    }
    EXPECT_TRUE(seen[0] > 0 && seen[1] > 0) << seen[0] << " and " << seen[1];
    // A killed writer cannot remove its temporary file; the next save clears those left behind.
    ASSERT_EQ(savePreferences(m_home, first), std::nullopt);
    EXPECT_EQ(strays(), std::vector<std::string>{});
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

}  // namespace
}  // namespace tarnby
