#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

// Many small folders, so that several threads really take turns: names whose lines sort next
// to each other and to their folder's run, hard links from one subtree into another, links.
void buildMixedTree(const TempTree& tree, const std::string& top) {
    for (int package = 0; package < 40; ++package) {
        const std::string base = top + "/pkg" + std::to_string(package);
        for (const char* name : {"a|0", "a0", "a.", "a-b", "a|"}) tree.writeFile(base + "/" + name, name);
        tree.writeFile(base + "/a/inner", "x");  // the run of "a/" between the lines above
        tree.writeFile(base + "/a|0x/inner", "y");
        for (int file = 0; file < 12; ++file) {
            tree.writeFile(base + "/lib/f" + std::to_string(file), std::string(100 * file, 'z'));
        }
        tree.symlink("../a", base + "/lib/link-up");
        tree.symlink("/usr", base + "/usr-link");  // never followed
        if (package > 0) {
            // Another subtree's file: one identity with two lines, likely met by different threads.
            tree.hardLink(top + "/pkg0/lib/f11", base + "/lib/shared");
        }
    }
}

TEST(ParallelMeasure, GivesTheSequentialMeasurementWhateverTheThreadCount) {
    TempTree tree;
    const std::string root = tree.makeDir("project");
    buildMixedTree(tree, "project");

    const Measurement sequential = measureWith(root, 1);
    ASSERT_TRUE(sequential.complete);
    ASSERT_EQ(sequential.fingerprint.size(), 64U);
    EXPECT_EQ(sequential.files, 40 * 21);  // every "shared" is pkg0's f11 again
    for (std::size_t threads : {2U, 3U, 4U, 8U}) {
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", round " + std::to_string(round));
            EXPECT_EQ(measureWith(root, threads), sequential);
        }
    }
    EXPECT_EQ(measureWith(root, 0), sequential);

    // One link fewer: the same files and bytes, another fingerprint.
    ::unlink(tree.path("project/pkg7/lib/shared").c_str());
    const Measurement fewer = measureWith(root, 4);
    EXPECT_EQ(std::pair(fewer.files, fewer.bytes), std::pair(sequential.files, sequential.bytes));
    EXPECT_NE(fewer.fingerprint, sequential.fingerprint);
    EXPECT_EQ(fewer, measureWith(root, 1));
}

TEST(ParallelMeasure, AnyDescriptorBudgetGivesTheSameMeasurementOnEveryThreadCount) {
    // Every level keeps a sibling waiting, so more folders wait for their subfolders than
    // descriptors stay open: closed ones are found again from above and from below.
    TempTree tree;
    const std::string root = tree.makeDir("deep");
    std::string level = "deep";
    for (int depth = 0; depth < 150; ++depth) {
        tree.writeFile(level + "/side/f", "s");
        tree.writeFile(level + "/wide" + std::to_string(depth % 3) + "/g", "w");
        level += "/d";
    }
    tree.writeFile(level + "/bottom", "b");

    const auto descriptors = testing::openDescriptors();
    const Measurement generous = measureWith(root, 1);
    ASSERT_TRUE(generous.complete);
    EXPECT_EQ(generous.files, 301);
    for (std::size_t threads : {1U, 2U, 4U}) {
        for (const FolderBudget budget : {FolderBudget{1, 0}, FolderBudget{2, 1}, FolderBudget{5, 3}}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", budget " + std::to_string(budget.open));
            Measurement tight;
            FolderWalk::measure(root, ScanCancellation(),
                                {FileInspection::kEntryLimit, threads, budget, FileInspection::kSharedLinkLimit},
                                tight);
            EXPECT_EQ(tight, generous);
        }
    }
    ScanCancellation cancelled;
    cancelled.cancel();
    measureWith(root, 4, FileInspection::kEntryLimit, cancelled);
    EXPECT_EQ(testing::openDescriptors(), descriptors);  // every folder closed again, also after a stop
}

TEST(ParallelMeasure, TheEntryLimitCountsAcrossThreads) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    for (int folder = 0; folder < 10; ++folder) {
        for (int file = 0; file < 9; ++file) {
            tree.writeFile("p/d" + std::to_string(folder) + "/f" + std::to_string(file), "x");
        }
    }
    const std::size_t lines = 1 + 10 + 90;
    for (std::size_t threads : {1U, 4U}) {
        SCOPED_TRACE(threads);
        EXPECT_EQ(measureWith(root, threads, lines), measureWith(root, 1));
        for (std::size_t limit : {lines - 1, lines / 2, std::size_t{2}}) {
            const Measurement stopped = measureWith(root, threads, limit);
            EXPECT_FALSE(stopped.complete);
            // The folder's own line and at least one other are taken, never more than the limit.
            EXPECT_LE(static_cast<std::size_t>(stopped.files), limit - 1);
            EXPECT_EQ(stopped.fingerprint.size(), 64U);
        }
    }
}

TEST(ParallelMeasure, CancellationBeforeOrDuringStopsEveryThread) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    buildMixedTree(tree, "p");
    const std::string empty = tree.makeDir("empty");
    const Measurement full = measureWith(root, 1);

    ScanCancellation before;
    before.cancel();
    for (std::size_t threads : {1U, 4U}) {
        const Measurement stopped = measureWith(root, threads, FileInspection::kEntryLimit, before);
        EXPECT_FALSE(stopped.complete);
        EXPECT_EQ(stopped.files, 0);
        EXPECT_TRUE(stopped.modified.has_value());
        EXPECT_TRUE(measureWith(empty, threads, FileInspection::kEntryLimit, before).complete);
    }

    for (int round = 0; round < 20; ++round) {
        ScanCancellation during;
        Measurement result;
        std::thread walker([&] { result = measureWith(root, 4, FileInspection::kEntryLimit, during); });
        during.cancel();
        walker.join();
        // Either it finished first, or it stopped with part of the tree.
        if (result.complete) {
            EXPECT_EQ(result, full);
        } else {
            EXPECT_LE(result.files, full.files);
            EXPECT_EQ(result.fingerprint.size(), 64U);
        }
    }
}

TEST(ParallelMeasure, UnreadableFoldersLeaveTheSameIncompleteMeasurement) {
    TempTree tree;
    std::string root = tree.makeDir("p");
    buildMixedTree(tree, "p");
    for (const char* locked : {"p/pkg3/lib", "p/pkg20", "p/pkg39/a"}) {
        ASSERT_EQ(::chmod(tree.path(locked).c_str(), 0700), 0);  // closed to others
    }
    EXPECT_EQ(testing::runAsNobody([&] {
                  const Measurement sequential = measureWith(root, 1);
                  EXPECT_FALSE(sequential.complete);
                  EXPECT_GE(sequential.files, 100);  // the walk went on past what it could not read
                  EXPECT_EQ(measureWith(root, 4), sequential);
              }),
              0);
}

TEST(ParallelMeasure, SurvivesATreeChangingUnderIt) {
    TempTree tree;
    const std::string root = tree.makeDir("p");
    buildMixedTree(tree, "p");

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done.load(); ++i) {
            const std::string folder = tree.path("p/pkg" + std::to_string(i % 40));
            const std::string moved = tree.path("p/moved" + std::to_string(i % 40));
            ::rename(folder.c_str(), moved.c_str());
            const int fd = ::open((moved + "/lib/new").c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd >= 0) ::close(fd);
            ::unlink((moved + "/lib/new").c_str());
            ::rename(moved.c_str(), folder.c_str());
        }
    });
    for (int round = 0; round < 40; ++round) {
        const Measurement m = measureWith(root, 4);
        EXPECT_GT(m.files, 0);
        EXPECT_EQ(m.fingerprint.size(), 64U);
    }
    done = true;
    changer.join();
    EXPECT_EQ(measureWith(root, 4), measureWith(root, 1));
}

}  // namespace
}  // namespace tarnby
