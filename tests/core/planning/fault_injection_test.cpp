// Measuring and planning while another thread or the test itself pulls the tree about.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "core/planning/cleanup_planner.h"
#include "core/scanning/file_inspection.h"
#include "core/scanning/folder_walk.h"
#include "core/scanning/scanner.h"
#include "tests/support/temp_tree.h"

namespace tarnby {
namespace {

using testing::TempTree;

const std::string kUnsafe = "This path is no longer a recognized cleanup target. Scan again.";
const std::string kIncomplete = "This item could not be fully inspected. It has been kept.";
const std::string kChanged = "This item changed after the scan. Scan again before cleaning it.";

struct NoSimulators final : SimulatorManaging {
    std::vector<SimulatorDevice> inventory() const override { return {}; }
};

// A project "app" under home/Code with a node_modules of `packages` packages of a few files each.
struct Project {
    TempTree tree;
    std::string home = tree.makeDir("home");
    ScanConfiguration configuration{home, {home + "/Code"}};
    std::string modules;

    explicit Project(int packages = 50) {
        tree.writeFile("home/Code/app/package.json", "{}");
        modules = tree.makeDir("home/Code/app/node_modules");
        for (int i = 0; i < packages; ++i) {
            const std::string package = "home/Code/app/node_modules/p" + std::to_string(i);
            tree.writeFile(package + "/index.js", std::string(100 + i, 'x'));
            tree.writeFile(package + "/lib/util.js", "u");
        }
    }

    // The scan's item for node_modules, measured while nothing moves.
    StorageItem scannedItem() const {
        const ScanResult result = Scanner::scan(configuration, std::nullopt, ScanCancellation(), {});
        const auto found = std::ranges::find(result.items, modules, &StorageItem::url);
        EXPECT_NE(found, result.items.end()) << "the scan did not find " << modules;
        return found == result.items.end() ? StorageItem{} : *found;
    }

    CleanupPlan plan(const StorageItem& item) const {
        return CleanupPlanner::make({item}, configuration, NoSimulators(), false);
    }
};

TEST(FaultInjection, ConcurrentChangesDuringMeasurementAreSeenAndThePlannerRefusesTheItem) {
    Project project(200);
    const StorageItem item = project.scannedItem();
    ASSERT_TRUE(item.measurement.complete);

    // Creates, renames and removes entries, files and whole folders, as fast as it can.
    std::atomic<bool> stop{false};
    std::atomic<long> changes{0};
    std::thread mutator([&] {
        std::mt19937 random(11);
        const std::string& root = project.modules;
        for (long round = 0; !stop.load(); ++round, ++changes) {
            const std::string package = root + "/p" + std::to_string(random() % 200);
            const std::string fresh = root + "/new" + std::to_string(round % 64);
            switch (round % 4) {
                case 0: ::close(::open((fresh + ".js").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644)); break;
                case 1: ::rename((fresh + ".js").c_str(), (fresh + ".moved").c_str()); break;
                case 2: ::unlink((fresh + ".moved").c_str()); break;
                case 3:  // a whole folder moved away, or back
                    if (::rename((package + "/lib").c_str(), (package + "/lib2").c_str()) != 0)
                        ::rename((package + "/lib2").c_str(), (package + "/lib").c_str());
            }
        }
    });
    while (changes.load() < 100) std::this_thread::yield();

    // On one thread and on several: whatever was seen, the record is sane and shows the change.
    for (int i = 0; i < 20; ++i) {
        const Measurement during =
            FileInspection::measure(project.modules, ScanCancellation(), FileInspection::kEntryLimit, i % 2 ? 4 : 1);
        EXPECT_TRUE(during.bytes >= 0 && during.files > 0 && during.fingerprint.size() == 64) << i;
        EXPECT_TRUE(!during.complete || during.fingerprint != item.measurement.fingerprint) << i;
    }
    const CleanupPlan plan = project.plan(item);
    stop = true;
    mutator.join();
    EXPECT_TRUE(plan.items.empty());
    ASSERT_EQ(plan.kept.size(), 1u);
    EXPECT_TRUE(plan.kept[0].ends_with(kChanged) || plan.kept[0].ends_with(kIncomplete)) << plan.kept[0];
}

TEST(FaultInjection, ATargetReplacedByASymbolicLinkBeforeThePlanIsRefusedAndNothingBehindItIsRead) {
    Project project;
    const StorageItem item = project.scannedItem();
    // A folder outside the home whose last access time would move if anything listed it.
    const std::string outside = project.tree.makeDir("outside/secrets");
    project.tree.writeFile("outside/secrets/key", "k");
    const auto accessed = [&outside] {
        struct stat info {};
        ::stat(outside.c_str(), &info);
        return info.st_atim.tv_sec;
    };
    const auto ageAccessTime = [&outside] {
        // Older than the last change, so that relatime records the next listing.
        const timespec times[2] = {{1'000'000, 0}, {0, UTIME_OMIT}};
        ::utimensat(AT_FDCWD, outside.c_str(), times, 0);
    };
    const auto refused = [&](const std::string& what) {
        ageAccessTime();
        EXPECT_EQ(project.plan(item).kept, std::vector<std::string>{item.title + ": " + kUnsafe}) << what;
        EXPECT_EQ(accessed(), 1'000'000) << "the folder behind the link was listed: " << what;
    };

    ASSERT_EQ(::rename(project.modules.c_str(), project.tree.path("moved-away").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), project.modules.c_str()), 0);
    refused("the target");
    // The project folder itself swapped for a link to a copy: the target below it is refused too.
    ::unlink(project.modules.c_str());
    ASSERT_EQ(::rename(project.tree.path("moved-away").c_str(), project.modules.c_str()), 0);
    const std::string app = project.home + "/Code/app";
    ASSERT_EQ(::rename(app.c_str(), project.tree.path("outside/app").c_str()), 0);
    ASSERT_EQ(::symlink(project.tree.path("outside/app").c_str(), app.c_str()), 0);
    refused("the project folder");

    // The access-time probe works here: a real listing moves it.
    ageAccessTime();
    ASSERT_TRUE(FileInspection::measure(outside, ScanCancellation()).complete);
    if (accessed() == 1'000'000) GTEST_SKIP() << "this file system does not record listings";
}

TEST(FaultInjection, APipeIsCountedButNeverOpened) {
    Project project(1);
    const std::string fifo = project.modules + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // Measuring and scanning must not block on the pipe; a reader that opened it would let this
    // writer in, so the writer keeps knocking throughout.
    std::atomic<bool> stop{false}, openedByReader{false}, running{false};
    std::thread knocker([&] {
        running = true;
        for (int fd; !stop.load(); std::this_thread::sleep_for(std::chrono::microseconds(200))) {
            if ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0) openedByReader = true;
            if (fd >= 0) ::close(fd);
        }
    });
    // A fork while the thread is still starting can leave the sanitizers' thread registry locked in the child.
    while (!running) std::this_thread::yield();
    const int status = testing::runInChild(
        [&] {
            const Measurement measured = FileInspection::measure(project.modules, ScanCancellation());
            EXPECT_TRUE(measured.complete);
            EXPECT_EQ(measured.files, 3);  // two files and the pipe
            const StorageItem item = project.scannedItem();
            EXPECT_EQ(item.measurement, measured);
            EXPECT_EQ(project.plan(item).items.size(), 1u);
        },
        {.seconds = 20});
    stop = true;
    knocker.join();
    EXPECT_EQ(status, 0) << "-1: hung";
    EXPECT_FALSE(openedByReader.load()) << "the pipe was opened";
}

TEST(FaultInjection, ATreeDeeperThanPathMaxIsMeasuredWholeOnASmallStack) {
    // 10,000 levels of "/d", each also holding a file "f" and an empty folder "s". In memory where
    // the system offers it: a disk's journal takes tens of seconds to make and remove them.
    constexpr int kDepth = 10'000;
    TempTree tree(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    const std::string root = tree.makeDir("deep");
    std::int64_t allocated = 0;
    tree.chain("deep", kDepth, "d", [&](int fd, int level) {
        if (level == kDepth) return;
        allocated += testing::writeFileAt(fd, "f", "0123456789");
        ::mkdirat(fd, "s", 0755);
    });

    // 256 KiB of stack for the whole walk: one that recursed once per level would overflow it.
    std::pair<std::string, Measurement> run{root, {}};
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    const auto body = [](void* raw) -> void* {
        auto* self = static_cast<std::pair<std::string, Measurement>*>(raw);
        self->second = FileInspection::measure(self->first, ScanCancellation(), FileInspection::kEntryLimit, 1);
        return nullptr;
    };
    ASSERT_EQ(::pthread_create(&thread, &attributes, body, &run), 0);
    ::pthread_join(thread, nullptr);
    ::pthread_attr_destroy(&attributes);

    EXPECT_TRUE(run.second.complete);
    EXPECT_EQ(run.second.files, kDepth);
    EXPECT_EQ(run.second.bytes, allocated);
    // The same on several threads and within any descriptor budget: with every level's empty sibling
    // waiting, closed folders are found again from above and below. A stop closes every folder too.
    for (std::size_t threads : {1U, 2U, 4U}) {
        for (const FolderBudget budget : {FolderBudget{1, 0}, FolderBudget{2, 1}, FolderBudget{5, 3}}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", budget " + std::to_string(budget.open));
            Measurement tight;
            FolderWalk::measure(root, ScanCancellation(),
                                {FileInspection::kEntryLimit, threads, budget, FileInspection::kSharedLinkLimit},
                                tight);
            EXPECT_EQ(tight, run.second);
        }
    }
    ScanCancellation cancelled;
    cancelled.cancel();
    FileInspection::measure(root, cancelled, FileInspection::kEntryLimit, 4);
}

}  // namespace
}  // namespace tarnby
