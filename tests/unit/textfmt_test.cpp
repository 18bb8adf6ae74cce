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

TEST(TextFormat, HugeWidthsArePlainWords) {
    std::vector<std::string> logged;
    SetLogWriter([&](std::string_view l) { logged.emplace_back(l); });
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"[%2000000000d]", "[]"},          {"[%.99999999999999999999s]", "[]"},
        {"[%-0256d]", "[]"},               {"[%1$300d]", "[]"},
        {"[%255d]", nullptr},              {"[%5.255d] 100%%", nullptr},
    };
    for (const auto& c : cases) {
        std::string got = FormatChecked(c.text, 7);
        if (c.want != nullptr)
            EXPECT_EQ(got, c.want) << c.text;
        else
            EXPECT_GT(got.size(), 200u) << c.text;  // within the bound: formatted as asked
    }
    EXPECT_EQ(logged.size(), 4u);
    SetLogWriter(nullptr);
}

// A byte of the PC set is one column: widths pad and precisions cut by
// bytes, whatever UTF-8 would make of the letters (0x82 and 0xA1 alone
// are parts of characters there, 0xC3 0xA9 one character).
TEST(TextFormat, WidthsAndPrecisionsCountPcBytes) {
    struct Case {
        const char* text;
        std::string value;
        std::string want;
    } cases[] = {
        {"[%-6s]", "Caf\x82", "[Caf\x82  ]"},
        {"[%.3s]", "\xa1\xa1\xa1\xa1X", "[\xa1\xa1\xa1]"},
        {"[%5s]\xc3", "\xc3\xa9", "[   \xc3\xa9]\xc3"},
        {"[%-4.2s|%s]", "\xff\x80\x7f\x9f", "[\xff\x80  |\xff\x80\x7f\x9f]"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatChecked(c.text, c.value, c.value), c.want) << c.text;
    EXPECT_EQ(FormatChecked("%s %c %d", "\xc6\x80", 'x', 3), "\xc6\x80 x 3");
}
