// The real `quillet` binary under pressure: dates past what a time point holds, few descriptors,
// little memory, and proof that a scan and a plan leave every file as they found it.
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/scan_document.h"
#include "core/records/storage_error.h"
#include "tests/cli/run_quillet.h"

namespace quillet::cli {
namespace {

using Json = nlohmann::json;

// Every item's path and fingerprint in a `scan --json` document.
std::map<std::string, std::string> fingerprints(const std::string& document) {
    std::map<std::string, std::string> result;
    const Json parsed = Json::parse(document);
    for (const Json& item : parsed["items"]) result[item["path"].get<std::string>()] = item["fingerprint"];
    return result;
}

// ext4 keeps dates up to the year 2446; a time point ends in 2262.
TEST(Robustness, FilesDatedPastWhatATimePointHoldsAreScannedAndPlanned) {
    FixtureHome fixture;
    const std::string future = fixture.tree.writeFile("home/Code/site/node_modules/left-pad/future.js", "f");
    const timespec times[2] = {{0, UTIME_OMIT}, {13'569'465'600, 0}};  // 2400-01-01
    if (::utimensat(AT_FDCWD, future.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        GTEST_SKIP() << "this file system cannot hold the date";
    }
    const Outcome scan = fixture.scan();
    ASSERT_EQ(scan.status, 0) << scan.err;
    const ScanDocument document = decodeScanDocument(scan.out);
    const auto item = std::ranges::find(document.result.items, fixture.modules, &tarnby::StorageItem::url);
    ASSERT_NE(item, document.result.items.end());
    EXPECT_GT(item->measurement.modified.value(), std::chrono::system_clock::now() + std::chrono::years(200))
        << "the newest change must stay the far future, not wrap into the past";
    const Outcome plan = fixture.run({"plan", "--scan", "-", "--no-simulators", fixture.modules}, scan.out);
    EXPECT_EQ(plan.status, 0) << plan.err;
    EXPECT_NE(plan.out.find("moveFolderToTrash"), std::string::npos) << plan.out;

    // Found by fuzzing: a date between 2262 and the decoder's bound overflowed while being read.
    std::string text = scan.out;
    const std::size_t at = text.find("\"modified\":");
    text.replace(at, text.find(',', at) - at, "\"modified\":12796610956.5");
    const ScanDocument farOff = decodeScanDocument(text);
    EXPECT_EQ(encodeScanDocument(decodeScanDocument(encodeScanDocument(farOff))), encodeScanDocument(farOff));
    EXPECT_THROW(decodeScanDocument(text.replace(at, text.find(',', at) - at, "\"modified\":1e12")),
                 tarnby::DecodingError);
}

// Many folders and a deep chain, so a scan needs more descriptors and memory than it is given.
void addBulk(const FixtureHome& fixture) {
    for (int project = 0; project < 30; ++project) {
        const std::string base = "home/Code/p" + std::to_string(project);
        fixture.tree.writeFile(base + "/package.json", "{}");
        for (int file = 0; file < 40; ++file) {
            fixture.tree.writeFile(base + "/node_modules/m" + std::to_string(file % 8) + "/f" + std::to_string(file));
        }
    }
    std::string deep = "home/Code/deep/node_modules";
    fixture.tree.writeFile("home/Code/deep/package.json", "{}");
    for (int level = 0; level < 150; ++level) deep += "/d";
    fixture.tree.writeFile(deep + "/bottom", "b");
    fixture.tree.writeFile("home/Code/rusty/Cargo.toml", "[package]");
    fixture.tree.writeFile("home/Code/rusty/target/debug/app", std::string(5000, 'r'));
    fixture.tree.writeFile("home/Library/Developer/Xcode/DerivedData/App-abc/Build/x", "x");
}

TEST(Robustness, FewDescriptorsGiveAWholeResultAndLittleMemoryAClearEndNeverACrash) {
    FixtureHome fixture;
    addBulk(fixture);
    const Outcome free = fixture.scan();
    ASSERT_EQ(free.status, 0) << free.err;

    // 64 descriptors: the walks keep theirs bounded, so the result is the same. Even fewer: the
    // scan cannot be whole, and says so rather than crashing.
    for (const rlim_t descriptors : {64, 12, 8, 5}) {
        fixture.wiring.openFiles = descriptors;
        const Outcome starved = fixture.scan(descriptors == 64 ? Arguments{"--json"} : Arguments{});
        EXPECT_EQ(starved.signal, 0) << descriptors << " descriptors: " << starved.err;
        EXPECT_TRUE(starved.status == 0 || !starved.err.empty()) << descriptors << " descriptors";
        if (descriptors == 64) {
            EXPECT_EQ(fingerprints(starved.out), fingerprints(free.out)) << starved.err;
        }
    }
    fixture.wiring.openFiles = RLIM_INFINITY;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve terabytes of address space; the memory half needs a plain build";
#else
    // Address space from too little to start up to plenty: always an exit status, and a message with a failure.
    int whole = 0;
    for (const rlim_t megabytes : {8, 16, 24, 32, 48, 64, 96, 128, 256, 512}) {
        fixture.wiring.addressSpace = megabytes * 1024 * 1024;
        const Outcome tight = fixture.scan();
        EXPECT_EQ(tight.signal, 0) << megabytes << " MB: " << tight.err;
        EXPECT_TRUE(tight.status == 0 || !tight.err.empty()) << megabytes << " MB";
        whole += tight.status == 0 && Json::accept(tight.out) && fingerprints(tight.out) == fingerprints(free.out);
    }
    EXPECT_GT(whole, 0) << "no limit was large enough for a whole scan";
#endif
}

// Everything below `root` (links not followed) with what a write would change: type and
// permissions, size, identity, link count, modification and status-change times.
std::map<std::string, std::string> listing(const std::string& root) {
    std::map<std::string, std::string> result;
    const auto describe = [&result](const std::string& path) {
        struct stat info {};
        std::ostringstream line;
        if (::lstat(path.c_str(), &info) == 0) {
            line << info.st_mode << ' ' << info.st_size << ' ' << info.st_ino << ' ' << info.st_nlink << ' '
                 << info.st_mtim.tv_sec << '.' << info.st_mtim.tv_nsec << ' ' << info.st_ctim.tv_sec << '.'
                 << info.st_ctim.tv_nsec;
        }
        result[path] = line.str();
    };
    describe(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) describe(entry.path());
    return result;
}

TEST(Robustness, AScanAndAPlanChangeNothingOnDisk) {
    FixtureHome fixture;
    addBulk(fixture);
    fixture.tree.writeFile("home/Library/Application Support/Tarnby/preferences.json",
                           R"({"roots":[],"kept":[")" + fixture.home + R"(/Code/p3/node_modules"]})");
    fixture.tree.symlink(fixture.home + "/Code", "home/Code-link");
    ASSERT_EQ(::mkfifo((fixture.modules + "/fifo").c_str(), 0644), 0);
    const auto before = listing(fixture.home);

    EXPECT_EQ(fixture.scan({}).status, 0);
    const Outcome json = fixture.scan();
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(fixture.run({"suggest", "--home", fixture.home}).status, 0);
    Arguments plan{"plan", "--scan", "-", "--no-simulators", "--acknowledge-simulator-risk"};
    for (const auto& [path, fingerprint] : fingerprints(json.out)) plan.push_back(path);
    const Outcome planned = fixture.run(plan, json.out);
    EXPECT_EQ(planned.status, 0) << planned.err.substr(0, 2000);
    EXPECT_GE(std::ranges::count(planned.out, '{'), 30) << planned.out;

    EXPECT_EQ(listing(fixture.home), before);
    EXPECT_TRUE(std::filesystem::is_empty(fixture.wiring.workingFolder)) << "the working folder got files";
    EXPECT_TRUE(std::filesystem::is_empty(fixture.wiring.environment.at("TMPDIR"))) << "the temporary folder got files";
}

}  // namespace
}  // namespace quillet::cli
