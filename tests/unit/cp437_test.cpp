#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/cp437.h"

namespace kv {
namespace {

TEST(Cp437, EveryByteIsOneCharacterAndComesBackAsItself) {
    std::set<char32_t> seen;
    for (int b = 0; b < 256; ++b) {
        char32_t ch = Cp437ToUnicode(uint8_t(b));
        EXPECT_TRUE(seen.insert(ch).second) << "byte " << b << " shares its character";
        uint8_t back = 0;
        ASSERT_TRUE(UnicodeToCp437(ch, back)) << b;
        EXPECT_EQ(back, b);
    }
    // A few that the board's screens and texts lean on.
    EXPECT_EQ(Cp437ToUtf8("caf\x82 Z\x81rich"), "café Zürich");
    EXPECT_EQ(Cp437ToUtf8("\xDA\xC4\xBF\xB3\xC0\xD9\xFB\xFE\xC9\xCD\xBB"), "┌─┐│└┘√■╔═╗");
    EXPECT_EQ(Cp437ToUtf8("\x1b[1;37m\r\n"), "\x1b[1;37m\r\n");
    uint8_t b = 0;
    EXPECT_FALSE(UnicodeToCp437(U'€', b));
    EXPECT_FALSE(UnicodeToCp437(U'À', b));
    EXPECT_FALSE(UnicodeToCp437(0x85, b));  // a C1 control is no character of the set
}

TEST(Cp437, Utf8TextsTurnWholeOrNotAtAll) {
    struct Case {
        std::string in;
        bool ok;
        std::string out;
        size_t badAt;
    } cases[] = {
        {"Vous êtes déjà là", true, "Vous \x88tes d\x82j\x85 l\x85", 0},
        {"\x1b[0m\r\n", true, "\x1b[0m\r\n", 0},
        {"12 €", false, "", 3},               // lacking in the set
        {"ab\xC3", false, "", 2},             // cut short
        {"a\xC3(", false, "", 1},             // a lead byte followed by ASCII
        {"a\xA9", false, "", 1},              // a continuation byte alone
        {"\xC0\xA9", false, "", 0},           // overlong
        {"\xED\xA0\x80", false, "", 0},       // a UTF-16 half
        {"\xF4\x90\x80\x80", false, "", 0},   // past Unicode
        {"\xFF", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string out;
        size_t bad = 99;
        EXPECT_EQ(Utf8ToCp437(c.in, out, &bad), c.ok) << c.in;
        if (c.ok) EXPECT_EQ(out, c.out) << c.in;
        else EXPECT_EQ(bad, c.badAt) << c.in;
    }
}

TEST(Cp437, AByteThatBreaksASequenceIsNotLost) {
    Utf8Reader r;
    EXPECT_EQ(r.Feed(0xC3), Utf8Reader::kMore);
    EXPECT_EQ(r.Feed('x'), Utf8Reader::kBrokenBy);
    EXPECT_FALSE(r.Pending());
    EXPECT_EQ(r.Feed('x'), Utf8Reader::kChar);
    EXPECT_EQ(r.ch(), U'x');
    EXPECT_EQ(r.Feed(0xE2), Utf8Reader::kMore);
    EXPECT_EQ(r.Feed(0x94), Utf8Reader::kMore);
    EXPECT_EQ(r.Feed(0x80), Utf8Reader::kChar);
    EXPECT_EQ(r.ch(), U'─');
}

TEST(Cp437, TheLocaleNamesUtf8InTheOrderTerminalProgramsReadIt) {
    struct Case {
        const char *all, *ctype, *lang;
        bool utf8;
    } cases[] = {
        {nullptr, nullptr, "C.UTF-8", true},
        {nullptr, nullptr, "en_US.utf8", true},
        {nullptr, nullptr, "de_CH.UTF-8@euro", true},
        {nullptr, "UTF-8", "C", true},
        {nullptr, nullptr, "C", false},
        {nullptr, nullptr, "fr_FR.ISO-8859-1", false},
        {nullptr, nullptr, nullptr, false},
        {"C", nullptr, "C.UTF-8", false},          // LC_ALL rules
        {"", "C", "C.UTF-8", false},              // an empty one is unset
        {"", "", "C.UTF-8", true},
        {nullptr, "POSIX", "en_US.UTF-8", false},  // LC_CTYPE before LANG
    };
    for (const Case& c : cases)
        EXPECT_EQ(LocaleNamesUtf8(c.all, c.ctype, c.lang), c.utf8)
            << (c.all ? c.all : "-") << " " << (c.ctype ? c.ctype : "-") << " " << (c.lang ? c.lang : "-");
}

}  // namespace
}  // namespace kv
