#include "core/platform/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/platform/collation_keys.h"

namespace tarnby {
namespace {

int sign(int value) { return (value > 0) - (value < 0); }

TEST(FinderCollator, NumbersByValueCaseIgnoredAccentsSecondary) {
    // Holds under the C locale too, where ICU's default collation would put all capitals first.
    std::vector<std::string> texts{"x100", "delta", "x20",   "Charlie", "élan", "elbe",
                                   "x3",   "elan",  "ALPHA", "proj10",  "proj2"};
    const FinderCollator collator;
    std::sort(texts.begin(), texts.end(), [&](const auto& a, const auto& b) { return collator(a, b); });
    EXPECT_EQ(texts, (std::vector<std::string>{"ALPHA", "Charlie", "delta", "elan", "élan", "elbe", "proj2", "proj10",
                                               "x3", "x20", "x100"}));
    // Total order: texts that differ only in case still compare unequal, consistently.
    EXPECT_NE(collator.compare("app", "App"), 0);
    EXPECT_EQ(sign(collator.compare("app", "App")), -sign(collator.compare("App", "app")));
}

TEST(FinderSortKeys, KeysOrderEveryPairLikeTheCollator) {
    const std::vector<std::string> texts{"app",     "App",     "äpp",  "apps", "app2", "app10", "App10",
                                         "app 2",   "Zeta",    "élan", "Elan", "x9",   "x09",   ".build",
                                         "Σίσυφος", "σίσυφος", "日本", "",     "a b"};
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
    EXPECT_TRUE(localizedCaseInsensitiveContains("/Users/me/Code/Über/target", "über/TAR"));
    EXPECT_TRUE(localizedCaseInsensitiveContains("ΣΊΣΥΦΟΣ", "σίσυφος"));  // final sigma folds too
    EXPECT_TRUE(localizedCaseInsensitiveContains("Straße", "STRASSE"));
    EXPECT_TRUE(localizedCaseInsensitiveContains("anything", ""));
    EXPECT_FALSE(localizedCaseInsensitiveContains("uber", "über"));
    EXPECT_FALSE(localizedCaseInsensitiveContains("Hello", "Hello World"));
    EXPECT_FALSE(localizedCaseInsensitiveContains("", "a"));
}

}  // namespace
}  // namespace tarnby
