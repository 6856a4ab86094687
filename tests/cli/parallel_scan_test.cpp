#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/scan_document.h"
#include "core/scanning/scanner.h"
#include "tests/support/temp_tree.h"

namespace quillet::cli {
namespace {

using tarnby::testing::TempTree;

struct ScanText {
    std::string json;
    std::vector<std::string> progress;
};

ScanText scanWith(const tarnby::ScanConfiguration& configuration, std::size_t threads) {
    ScanText run;
    ScanDocument document;
    document.result = tarnby::Scanner::scan(configuration, std::nullopt, tarnby::ScanCancellation(),
                                            [&](const std::string& text) { run.progress.push_back(text); },
                                            {.progressInterval = 7, .threads = threads});
    document.home = configuration.home();
    document.roots = configuration.roots();
    run.json = encodeScanDocument(document);
    return run;
}

// Where two documents part, rather than both whole.
void expectSameText(const std::string& actual, const std::string& expected) {
    if (actual == expected) return;
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    const std::size_t from = at < 120 ? 0 : at - 120;
    ADD_FAILURE() << "differs at " << at << "\n  actual:   …" << actual.substr(from, 240) << "\n  expected: …"
                  << expected.substr(from, 240);
}

TEST(ParallelScan, GivesTheSequentialResultNotesAndProgress) {
    TempTree tree;
    for (int project = 0; project < 30; ++project) {
        const std::string base =
            "home/" + std::string(project % 2 == 0 ? "code" : "more") + "/p" + std::to_string(project);
        tree.writeFile(base + "/package.json", "{}");
        for (int file = 0; file < project * 2; ++file) {
            tree.writeFile(base + "/node_modules/m" + std::to_string(file % 5) + "/f" + std::to_string(file),
                           std::string(static_cast<std::size_t>(file) * 300, 'x'));
        }
        if (project % 4 == 1) {
            // An incomplete measurement, whose note must land between the walk's own notes
            // exactly where the sequential scan puts it.
            tree.writeFile(base + "/node_modules/m1/closed/f", "c");
            ::chmod(tree.path(base + "/node_modules/m1/closed").c_str(), 0700);
        }
        if (project % 7 == 3) {
            tree.writeFile(base + "/locked/package.json", "{}");
            ::chmod(tree.path(base + "/locked").c_str(), 0700);  // closed to the scan: a "Skipped" note
        }
        if (project % 5 == 0) tree.writeFile(base + "/.next/cache/c", std::string(5000, 'n'));
    }
    for (int i = 0; i < 4; ++i) {
        tree.writeFile("home/Library/Developer/Xcode/DerivedData/App" + std::to_string(i) + "-x/Build/f",
                       std::string(static_cast<std::size_t>(i) * 1000, 'b'));
    }
    tree.writeFile("home/.npm/_cacache/index-v5/aa", "cache");
    tree.writeFile("home/Library/Developer/CoreSimulator/Devices/6F1C8B52-1D2E-4C4B-9E0A-1A2B3C4D5E6F/data/x", "d");

    const int status = tarnby::testing::runAsNobody([&] {
        const tarnby::ScanConfiguration configuration(tree.path("home"),
                                                      {tree.path("home/code"), tree.path("home/more")});
        const ScanText sequential = scanWith(configuration, 1);
        for (std::size_t threads : {0U, 2U, 4U}) {
            for (int round = 0; round < 3; ++round) {
                const ScanText parallel = scanWith(configuration, threads);
                expectSameText(parallel.json, sequential.json);
                EXPECT_EQ(parallel.progress, sequential.progress);
            }
        }
        // The fixture must give the notes something to interleave.
        EXPECT_NE(sequential.json.find("Skipped "), std::string::npos);
        EXPECT_NE(sequential.json.find("Could not fully inspect "), std::string::npos);
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace quillet::cli
