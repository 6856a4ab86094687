#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/scanning/file_inspection.h"
#include "core/scanning/folder_walk.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

Measurement measureWith(const std::string& path, std::size_t threads, std::size_t limit = FileInspection::kEntryLimit,
                        const ScanCancellation& cancellation = ScanCancellation()) {
    return FileInspection::measure(path, cancellation, limit, threads);
}

// Many small folders for threads to share: names sorting next to their folder's run, links.
void buildMixedTree(const TempTree& tree, const std::string& top) {
    for (int package = 0; package < 40; ++package) {
        const std::string base = top + "/pkg" + std::to_string(package);
        for (const char* name : {"a|0", "a0", "a.", "a-b", "a|"}) tree.writeFile(base + "/" + name, name);
        tree.writeFile(base + "/a/inner", "x");  // the run of "a/" between the lines above
        tree.writeFile(base + "/a|0x/inner", "y");
        for (int file = 0; file < 12; ++file)
            tree.writeFile(base + "/lib/f" + std::to_string(file), std::string(100 * file, 'z'));
        tree.symlink("../a", base + "/lib/link-up");
        tree.symlink("/usr", base + "/usr-link");  // never followed
        // Another subtree's file: one identity with two lines, likely met by different threads.
        if (package > 0) tree.hardLink(top + "/pkg0/lib/f11", base + "/lib/shared");
    }
}

// A walk cut short by the entry limit, a stop, or a closed folder is incomplete, with what it saw.
TEST(ParallelMeasure, GivesTheSequentialMeasurementWhateverTheThreadCountAlsoWhenCutShort) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    buildMixedTree(tree, "p");
    const Measurement full = measureWith(root, 1);
    ASSERT_TRUE(full.complete);
    EXPECT_EQ(full.files, 40 * 21);  // every "shared" is pkg0's f11 again
    for (std::size_t threads : {2U, 4U, 8U, 4U, 4U, 0U}) EXPECT_EQ(measureWith(root, threads), full) << threads;

    const std::size_t lines = 1 + 40 * (4 + 21) + 39;  // the root, each package's folders and files, the links
    ScanCancellation before;
    before.cancel();
    for (std::size_t threads : {1U, 4U}) {
        SCOPED_TRACE(threads);
        EXPECT_EQ(measureWith(root, threads, lines), full);
        for (std::size_t limit : {lines - 1, lines / 2, std::size_t{2}}) {
            const Measurement stopped = measureWith(root, threads, limit);
            // The folder's own line and at least one other are taken, never more than the limit.
            EXPECT_TRUE(!stopped.complete && stopped.files <= static_cast<std::int64_t>(limit - 1) &&
                        stopped.fingerprint.size() == 64U)
                << limit;
        }
        const Measurement stopped = measureWith(root, threads, FileInspection::kEntryLimit, before);
        EXPECT_TRUE(!stopped.complete && stopped.files == 0 && stopped.modified.has_value());
        EXPECT_TRUE(measureWith(tree.makeDir("empty"), threads, FileInspection::kEntryLimit, before).complete);
    }
    for (int round = 0; round < 20; ++round) {
        ScanCancellation during;
        Measurement result;
        std::thread walker([&] { result = measureWith(root, 4, FileInspection::kEntryLimit, during); });
        during.cancel();
        walker.join();
        // Either it finished first, or it stopped with part of the tree.
        EXPECT_TRUE(result.complete ? result == full : result.files <= full.files && result.fingerprint.size() == 64U);
    }
    // Past a folder it cannot read, the walk goes on (the scan compares thread counts there).
    ASSERT_EQ(::chmod(tree.path("p/pkg3/lib").c_str(), 0700), 0);
    EXPECT_EQ(testing::runAsNobody([&] {
                  const Measurement locked = measureWith(root, 4);
                  EXPECT_TRUE(!locked.complete && locked.files >= 100) << locked.files;
              }),
              0);
}

}  // namespace
}  // namespace tarnby
