#include "core/platform/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/platform/collation_keys.h"

namespace tarnby {
namespace {

int sign(int value) { return (value > 0) - (value < 0); }

std::vector<std::string> sortedByCollator(std::vector<std::string> texts) {
    const FinderCollator collator;
    std::sort(texts.begin(), texts.end(), [&](const std::string& a, const std::string& b) { return collator(a, b); });
    return texts;
}

TEST(FinderCollator, DigitRunsCompareByValue) {
    const FinderCollator collator;
    EXPECT_LT(collator.compare("proj2", "proj10"), 0);
    EXPECT_GT(collator.compare("proj10", "proj2"), 0);
    EXPECT_LT(collator.compare("v1.9", "v1.10"), 0);
    EXPECT_EQ(sortedByCollator({"x100", "x20", "x3"}), (std::vector<std::string>{"x3", "x20", "x100"}));
}

TEST(FinderCollator, LetterCaseDoesNotDecideOrder) {
    // Holds under the C locale too, where ICU's default collation would put all capitals first.
    const FinderCollator collator;
    EXPECT_LT(collator.compare("alpha", "Beta"), 0);
    EXPECT_LT(collator.compare("Alpha", "beta"), 0);
    EXPECT_EQ(sortedByCollator({"delta", "Charlie", "bravo", "ALPHA"}),
              (std::vector<std::string>{"ALPHA", "bravo", "Charlie", "delta"}));
}

TEST(FinderCollator, AccentsRankBelowLettersButStillSeparateTexts) {
    // Byte order would put "élan" after "elbe".
    EXPECT_EQ(sortedByCollator({"elbe", "élan", "elan"}), (std::vector<std::string>{"elan", "élan", "elbe"}));
    const FinderCollator collator;
    EXPECT_NE(collator.compare("elan", "élan"), 0);
}

TEST(FinderCollator, OrderIsTotalForTextsThatDifferOnlyInCase) {
    const FinderCollator collator;
    EXPECT_EQ(collator.compare("same", "same"), 0);
    EXPECT_NE(collator.compare("app", "App"), 0);
    EXPECT_EQ(sign(collator.compare("app", "App")), -sign(collator.compare("App", "app")));
    EXPECT_EQ(collator.compare("", ""), 0);
    EXPECT_LT(collator.compare("", "a"), 0);
}

TEST(FinderSortKeys, KeysOrderEveryPairLikeTheCollator) {
    const std::vector<std::string> texts{"app", "App", "APP", "äpp", "apps", "app2", "app10", "App10", "app 2",
                                         "Zeta", "zeta", "élan", "Elan", "elbe", "x9", "x09", "x10", ".build",
                                         "node_modules", "Σίσυφος", "σίσυφος", "日本", "", "a", "a b", "ab"};
    const FinderCollator collator;
    const FinderSortKeys keys;
    for (const auto& a : texts) {
        for (const auto& b : texts) {
            int byKeys = keys.key(a).compare(keys.key(b));
            if (byKeys == 0) byKeys = a.compare(b);
            EXPECT_EQ(sign(byKeys), sign(collator.compare(a, b))) << a << " vs " << b;
        }
    }
}

TEST(LocalizedCaseInsensitiveContains, IgnoresCaseInAsciiAndBeyond) {
    EXPECT_TRUE(localizedCaseInsensitiveContains("Hello World", "WORLD"));
    EXPECT_TRUE(localizedCaseInsensitiveContains("/Users/me/Code/Über/target", "über/TAR"));
    EXPECT_TRUE(localizedCaseInsensitiveContains("ΣΊΣΥΦΟΣ", "σίσυφος"));  // final sigma folds too
    EXPECT_TRUE(localizedCaseInsensitiveContains("Straße", "STRASSE"));
    EXPECT_FALSE(localizedCaseInsensitiveContains("uber", "über"));
    EXPECT_FALSE(localizedCaseInsensitiveContains("Hello", "Hello World"));
    EXPECT_FALSE(localizedCaseInsensitiveContains("node_modules", "node modules"));
}

TEST(LocalizedCaseInsensitiveContains, EmptyQueryIsContainedEverywhere) {
    EXPECT_TRUE(localizedCaseInsensitiveContains("", ""));
    EXPECT_TRUE(localizedCaseInsensitiveContains("anything", ""));
    EXPECT_FALSE(localizedCaseInsensitiveContains("", "a"));
}

}  // namespace
}  // namespace tarnby
