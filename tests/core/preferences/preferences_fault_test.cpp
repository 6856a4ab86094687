// Saving the preferences when the disk says no: read-only places, a full volume, links, and a
// writer killed at any moment. What must survive is the last good file, whole.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "core/platform/file_system.h"
#include "core/preferences/saved_preferences.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using tarnby::testing::TempTree;

const std::string kNotePrefix = "Could not save settings: ";

std::string tarnbyFolder(const std::string& home) { return home + "/Library/Application Support/Tarnby"; }

// Entries of the preferences folder other than the file itself (temporary files left behind).
std::vector<std::string> strays(const std::string& home) {
    std::vector<std::string> names;
    for (const auto& entry :
         tarnby::fs::listDirectory(tarnbyFolder(home), false).value_or(std::vector<tarnby::fs::DirectoryEntry>{})) {
        if (entry.name != "preferences.json") names.push_back(entry.name);
    }
    return names;
}

SavedPreferences sample(int size, const std::string& tag) {
    SavedPreferences preferences;
    for (int i = 0; i < size; ++i) preferences.roots.push_back("/Users/me/" + tag + std::to_string(i));
    preferences.kept.insert("/Users/me/" + tag + "/node_modules");
    return preferences;
}

TEST(PreferencesFaults, AReadOnlyFolderOrFileKeepsTheOldFileAndGivesOneNote) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    const SavedPreferences old = sample(3, "old");
    ASSERT_EQ(savePreferences(home, old), std::nullopt);
    const auto before = tarnby::fs::readFile(preferencesPath(home));
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + tree.root() + "'").c_str()), 0);
    // A read-only file alone does not stop a save (the file is replaced, not written into);
    // a read-only folder does.
    ASSERT_EQ(::chmod(preferencesPath(home).c_str(), 0444), 0);
    ASSERT_EQ(::chmod(tarnbyFolder(home).c_str(), 0555), 0);

    const int status = tarnby::testing::runAsNobody([&] {
        const auto note = savePreferences(home, sample(5, "new"));
        ASSERT_TRUE(note);
        EXPECT_TRUE(note->starts_with(kNotePrefix) && note->find("Permission denied") != std::string::npos) << *note;
    });
    if (status == 125) GTEST_SKIP() << "cannot run as nobody here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tarnby::fs::readFile(preferencesPath(home)), before);
    EXPECT_EQ(strays(home), std::vector<std::string>{});

    // Writable folder, read-only file: saved, and loads back.
    ASSERT_EQ(::chmod(tarnbyFolder(home).c_str(), 0755), 0);
    const SavedPreferences replaced = sample(2, "replaced");
    EXPECT_EQ(savePreferences(home, replaced), std::nullopt);
    EXPECT_EQ(loadPreferences(home).roots, replaced.roots);
}

// A tmpfs of one page in a mount namespace of a child's own, so nothing is left mounted.
TEST(PreferencesFaults, AFullDiskKeepsTheOldFileWholeAndLeavesNoTemporaryFile) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.makeDir("home/Library/Application Support/Tarnby");
    const int status = tarnby::testing::runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", tarnbyFolder(home).c_str(), "tmpfs", 0, "size=8k") != 0) {
            ::_exit(125);
        }
        const SavedPreferences old = sample(3, "old");
        ASSERT_EQ(savePreferences(home, old), std::nullopt);
        // Fill what is left.
        const std::string filler = tarnbyFolder(home) + "/filler";
        FILE* file = std::fopen(filler.c_str(), "w");
        const std::string block(512, 'f');
        while (file != nullptr && std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {}
        if (file != nullptr) std::fclose(file);
        const auto note = savePreferences(home, sample(400, "new"));
        ASSERT_TRUE(note);
        EXPECT_TRUE(note->starts_with(kNotePrefix) && note->find("No space left on device") != std::string::npos)
            << *note;
        const SavedPreferences loaded = loadPreferences(home);
        EXPECT_EQ(std::tie(loaded.roots, loaded.kept), std::tie(old.roots, old.kept));
        EXPECT_EQ(strays(home), std::vector<std::string>{"filler"});
    });
    if (status == 125) GTEST_SKIP() << "no private tmpfs can be mounted here";
    EXPECT_EQ(status, 0);
}

TEST(PreferencesFaults, APreferencesFileThatIsALinkIsReplacedWithoutWritingWhereItPoints) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    tree.makeDir("home/Library/Application Support/Tarnby");
    const std::string elsewhere = tree.writeFile("elsewhere/important.json", R"({"roots":["\/x"],"kept":[]})");
    tree.symlink(elsewhere, "home/Library/Application Support/Tarnby/preferences.json");
    EXPECT_EQ(loadPreferences(home).roots, std::vector<std::string>{"/x"}) << "reading through the link is fine";

    const SavedPreferences saved = sample(2, "saved");
    EXPECT_EQ(savePreferences(home, saved), std::nullopt);
    EXPECT_EQ(tarnby::fs::readFile(elsewhere), R"({"roots":["\/x"],"kept":[]})") << "the link's target was written";
    EXPECT_EQ(tarnby::fs::entryType(preferencesPath(home)), tarnby::fs::EntryType::regular);
    EXPECT_EQ(loadPreferences(home).roots, saved.roots);
}

TEST(PreferencesFaults, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFileNeverABrokenOne) {
    TempTree tree;
    const std::string home = tree.makeDir("home");
    // Two documents of different sizes (tens of kilobytes), so a torn write could not pass for either.
    const SavedPreferences first = sample(600, "first");
    const SavedPreferences second = sample(1100, "second");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(savePreferences(home, first), std::nullopt);
    // Kills land anywhere within a few saves, however slow a save is in this build (the
    // sanitizers make it several times slower), so both documents get written in between.
    const auto oneSave =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    const auto window = static_cast<unsigned>(std::max<std::int64_t>(4000, 3 * oneSave.count()));

    constexpr int kKills = 300;
    std::mt19937 random(2026);
    int sawFirst = 0;
    int sawSecond = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (int round = 0;; ++round) savePreferences(home, round % 2 == 0 ? second : first);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % window));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);

        const auto text = tarnby::fs::readFile(preferencesPath(home));
        ASSERT_TRUE(text) << "the file vanished after kill " << kill;
        const SavedPreferences loaded = loadPreferences(home);
        if (loaded.roots == first.roots && loaded.kept == first.kept) {
            ++sawFirst;
        } else if (loaded.roots == second.roots && loaded.kept == second.kept) {
            ++sawSecond;
        } else {
            FAIL() << "kill " << kill << " left a broken file of " << text->size() << " bytes";
        }
    }
    EXPECT_EQ(sawFirst + sawSecond, kKills);
    EXPECT_GT(sawFirst, 0);
    EXPECT_GT(sawSecond, 0);
    // A killed writer cannot remove its temporary file; the next save clears those left behind.
    RecordProperty("temporaryFilesLeftByKilledWriters", static_cast<int>(strays(home).size()));
    ASSERT_EQ(savePreferences(home, first), std::nullopt);
    EXPECT_EQ(strays(home), std::vector<std::string>{});
}

}  // namespace
}  // namespace tarnby
