// The console's relay, both ways: what a line's bytes become on the sysop's
// screen for each kind of terminal, and what the sysop's keys become for
// the line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/kvconsole/relay.h"

using namespace kv::console;

namespace {

const SysopTerminal kUtf8{true, false};
const SysopTerminal kXterm8{false, false};     // 8-bit, reads C1 controls
const SysopTerminal kPcConsole{false, true};  // 8-bit, the PC console

// What a caller may try to put on the sysop's screen, and the text that
// alone must be left of it.
TEST(ScreenFilter, PassesNoSequenceAndNoControl) {
    const struct {
        const char* what;
        std::string in, out;
    } cases[] = {
        {"title", "a\033]0;owned\007b", "ab"},
        {"title ended by ST", "a\033]2;owned\033\\b", "ab"},
        {"clipboard write", "a\033]52;c;cGFzdGU=\007b", "ab"},
        {"clear screen", "a\033[2Jb", "ab"},
        {"other screen", "a\033[?1049hb", "ab"},
        {"cursor report", "a\033[6nb", "ab"},
        {"device control string", "a\033P+q544e\033\\b", "ab"},
        {"character set", "a\033(0b", "ab"},
        {"reset", "a\033cb", "ab"},
        {"SO, ENQ and the rest of C0", "a\016\005\001\033\177b", "ab"},
        {"kivo's own: bells, lines, backspace", "\a\aJoe is paging you\r\nab\b \b", "\a\aJoe is paging you\r\nab\b \b"},
        {"a sequence broken off by a letter", "a\033[12\x82" "b", "a\xC3\xA9" "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.out, ForSysop(c.in, kUtf8));
    }
}

// A sequence that comes in pieces is dropped all the same.
TEST(ScreenFilter, SequenceSplitOverReads) {
    ScreenFilter f(kUtf8);
    std::string shown;
    for (std::string piece : {"x\033", "]0;ow", "ned", "\007", "y\033[", "2", "J", "z"}) shown += f.Pass(piece);
    EXPECT_EQ("xyz", shown);
}

// A string sequence that never ends does not swallow what comes after it
// for good.
TEST(ScreenFilter, UnendedStringEnds) {
    ScreenFilter f(kUtf8);
    std::string shown = f.Pass("\033]0;" + std::string(4000, 'x'));
    EXPECT_LT(shown.size(), 4000u);
    EXPECT_EQ("Joe is paging you", f.Pass("Joe is paging you").substr(0, 17));
}

// The PC letters by the terminal: UTF-8 as their characters; an 8-bit
// terminal as they are, but for the bytes it would act on.
TEST(ScreenFilter, LettersForEachTerminal) {
    const std::string pc = "Gr\x81\xE1 caf\x82 cr\x8Ame \x9B \xC4";  // "Grüß café crème ¢ ─"
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F caf\xC3\xA9 cr\xC3\xA8me \xC2\xA2 \xE2\x94\x80", ForSysop(pc, kUtf8));
    EXPECT_EQ("Gr\x81\xE1 caf\x82 cr\x8Ame ? \xC4", ForSysop(pc, kPcConsole));
    EXPECT_EQ("Gr?\xE1 caf? cr?me ? \xC4", ForSysop(pc, kXterm8));
}

// The sysop's keys for the line during a chat.
TEST(KeyFilter, KeysForTheLine) {
    const struct {
        const char* what;
        SysopTerminal term;
        std::string typed, bytes;
        bool refused;
    } cases[] = {
        {"UTF-8 letters", kUtf8, "Gr\xC3\xBC\xC3\x9F dich, caf\xC3\xA9!\r", "Gr\x81\xE1 dich, caf\x82!\r", false},
        {"a character the set lacks", kUtf8, "5 \xE2\x82\xAC.", "5 .", true},
        {"a broken sequence", kUtf8, "a\xC3" "b", "ab", true},
        {"a stray continuation byte", kUtf8, "a\x9F" "b", "ab", true},
        {"8-bit letters as they are", kXterm8, "caf\x82", "caf\x82", false},
        {"arrow and function keys", kUtf8, "a\033[A\033OPb\033[15~c", "abc", false},
        {"Alt and a key", kUtf8, "a\033xb", "ab", false},
        {"both backspaces", kUtf8, "ab\x7F" "c\b", "ab\x7F" "c\b", false},
        {"other controls", kUtf8, "a\t\n\001\016b", "ab", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KeyFilter f(c.term);
        KeyFilter::Keys k = f.Pass(c.typed);
        EXPECT_EQ(c.bytes, k.bytes);
        EXPECT_EQ(c.refused, k.refused);
        EXPECT_FALSE(k.escape);
    }
}

// A character typed over two reads arrives whole; Escape alone is told
// from the start of a sequence.
TEST(KeyFilter, ReadsAcrossPieces) {
    KeyFilter f(kUtf8);
    EXPECT_EQ("", f.Pass("\xC3").bytes);
    KeyFilter::Keys k = f.Pass("\xA9" "a");
    EXPECT_EQ("\x82" "a", k.bytes);
    EXPECT_FALSE(k.refused);
    k = f.Pass("\033");
    EXPECT_TRUE(k.escape);
    EXPECT_EQ("x", f.Pass("x").bytes);
}

}  // namespace
