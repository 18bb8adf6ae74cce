#include <gtest/gtest.h>

#include <string>

#include "common/strings.h"

using namespace kv;

namespace {

TEST(Strings, TrimRightAndSkipBlanks) {
    struct Case {
        std::string text, trimmed, skipped;
    } cases[] = {
        {"abc  \t\r\n", "abc", "abc  \t\r\n"},
        {" \t\v\f\r\n", "", ""},
        {"", "", ""},
        {"  a b  ", "  a b", "a b  "},
        // Bytes above 127 are never white space, whatever a locale might say
        // of 0xA0 or 0x85.
        {"\xA0x\x85", "\xA0x\x85", "\xA0x\x85"},
    };
    for (const auto& c : cases) {
        std::string t = c.text;
        EXPECT_EQ(TrimRight(t), c.trimmed) << c.text;
        EXPECT_EQ(std::string(SkipBlanks(c.text)), c.skipped) << c.text;
    }
    // Of blanks only, the view points at the text's end, not elsewhere.
    std::string blanks = "   ";
    std::string_view rest = SkipBlanks(blanks);
    EXPECT_EQ(rest.data(), blanks.data() + blanks.size());
}

TEST(Strings, CaseChangesLeaveHighBytesAlone) {
    std::string high;
    for (int b = 128; b < 256; ++b) high += char(b);
    std::string lower = "MiXeD 12 \x8E\x99" + high;
    std::string upper = lower;
    EXPECT_EQ(LowerCase(lower), "mixed 12 \x8E\x99" + high);
    EXPECT_EQ(UpperCase(upper), "MIXED 12 \x8E\x99" + high);
}

TEST(Strings, CapitalizeName) {
    struct Case {
        std::string name, want;
    } cases[] = {
        {"anne-marie d'arc", "Anne-Marie D'Arc"},
        {"MACLEAN", "Maclean"},
        {"o'NEIL,JOHN", "O'Neil,John"},
        {"mac.DONALD", "Mac.donald"},  // '.' starts no word
        {"  jean  paul", "  Jean  Paul"},
        {"\x8ERIC \x99X", "\x8Eric \x99x"},
        {"", ""},
    };
    for (auto c : cases) EXPECT_EQ(CapitalizeName(c.name), c.want);
}

}  // namespace
