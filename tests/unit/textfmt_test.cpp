#include <gtest/gtest.h>

#include "common/runtime.h"
#include "common/textfmt.h"

using namespace kv;

TEST(TextFormat, GoodAndBadSysopTexts) {
    std::vector<std::string> logged;
    SetLogWriter([&](std::string_view l) { logged.emplace_back(l); });
    EXPECT_EQ(FormatChecked("%s has %d minutes", "Ann", 12), "Ann has 12 minutes");
    EXPECT_EQ(FormatChecked("%ld bytes", 5L), "5 bytes");
    EXPECT_EQ(FormatChecked("100%% sure"), "100% sure");
    // A wrong or missing value is logged once and the words are kept.
    EXPECT_EQ(FormatChecked("Hello %s, you have %d", "Ann"), "Hello , you have ");
    EXPECT_EQ(FormatChecked("Hello %s, you have %d", "Ann"), "Hello , you have ");
    EXPECT_EQ(FormatChecked("Level %d", "not a number"), "Level ");
    EXPECT_EQ(logged.size(), 2u);
    SetLogWriter(nullptr);
}
