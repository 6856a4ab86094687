// Linked into every core and command-line test: a test that leaves a descriptor open has found a
// leak, whether or not it was looking for one.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/temp_tree.h"

namespace {

class DescriptorCheck : public ::testing::EmptyTestEventListener {
    std::ptrdiff_t m_before = 0;

    void OnTestStart(const ::testing::TestInfo&) override { m_before = tarnby::testing::openDescriptors(); }

    void OnTestEnd(const ::testing::TestInfo&) override {
        // A tool's helper that left its group may hold a pipe, and its reader, for a few seconds more.
        auto after = tarnby::testing::openDescriptors();
        for (int wait = 0; after > m_before && wait < 500; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            after = tarnby::testing::openDescriptors();
        }
        EXPECT_LE(after, m_before) << "the test left " << after - m_before << " descriptor(s) open";
    }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new DescriptorCheck);
    return true;
}();

}  // namespace
