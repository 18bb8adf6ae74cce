// The bytes each output primitive sends under each set of terminal flags.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>

#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "common/runtime.h"

using namespace kv;
using namespace kv::caller;

namespace {

// What fn writes to standard output (the caller's line).
std::string Sent(const std::function<void()>& fn) {
    std::fflush(stdout);
    int p[2];
    if (pipe(p) != 0) return "pipe failed";
    int saved = dup(1);
    dup2(p[1], 1);
    fn();
    FlushOutput();
    dup2(saved, 1);
    close(saved);
    close(p[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    close(p[0]);
    return out;
}

struct Flags {
    bool ansi, color, local, utf8 = false;
};

void Use(Flags f) {
    Call() = CallState{};
    Call().AnsiOn = f.ansi;
    Call().ColorOn = f.color;
    Call().LocalMode = f.local;
    Call().Utf8Terminal = f.utf8;
}

constexpr Flags kPlain{false, false, false};
constexpr Flags kAnsi{true, false, false};
constexpr Flags kColor{true, true, false};
constexpr Flags kLocalAnsi{true, false, true};
// Lines whose terminal speaks UTF-8.
constexpr Flags kUtf8Plain{false, false, false, true};
constexpr Flags kUtf8Ansi{true, false, false, true};
constexpr Flags kUtf8Local{false, false, true, true};

struct Case {
    const char* what;
    Flags flags;
    std::function<void()> act;
    std::string want;
};

TEST(Screen, EachPrimitiveSendsItsBytes) {
    const Case cases[] = {
        {"bold", kAnsi, SetBold, "\033[1m"},
        {"blink", kAnsi, SetBlink, "\033[5m"},
        {"reset", kAnsi, ResetAttributes, "\033[0m"},
        {"clear to eol", kAnsi, ClearToEol, "\033[0K"},
        {"reverse without colour", kAnsi, SetReverse, "\033[7m"},
        {"reverse in colour", kColor, SetReverse, "\033[30m\033[47m"},
        {"bright fg in colour", kColor, [] { SetForeground(9); }, "\033[1;34m"},
        {"bright fg without colour", kAnsi, [] { SetForeground(9); }, "\033[1;37m"},
        {"normal fg in colour", kColor, [] { SetForeground(4); }, "\033[31m"},
        {"normal fg without colour", kAnsi, [] { SetForeground(4); }, "\033[37m"},
        {"bright bg is black", kColor, [] { SetBackground(9); }, "\033[40m"},
        {"bg in colour", kColor, [] { SetBackground(3); }, "\033[46m"},
        {"bg without colour", kAnsi, [] { SetBackground(3); }, "\033[40m"},
        {"bold of a bright colour is reset", kColor, [] { SetColor(8, 0); SetColor(7, 0); },
         "\033[1;30m\033[40m\033[0m\033[37m\033[40m"},
        {"two normal colours", kColor, [] { SetColor(2, 0); SetColor(3, 1); }, "\033[32m\033[40m\033[36m\033[44m"},
        {"move", kAnsi, [] { MoveCursor(10, 5); }, "\033[5;10H"},
        {"erase", kAnsi, EraseScreen, "\033[2J\033[1;1H"},
        {"line end", kPlain, [] { PutLine("ab"); }, "ab\n\r"},
        {"e acute folded without ANSI", kPlain, [] { PutChar(130); }, "e"},
        {"shading block kept without ANSI", kPlain, [] { PutChar(176); }, "\xB0"},
        {"e acute kept with ANSI", kAnsi, [] { PutChar(130); }, "\x82"},
        {"e acute folded in local mode", kLocalAnsi, [] { PutChar(130); }, "e"},
        {"box bytes kept in local mode", kLocalAnsi, [] { PutChar(0xC9); }, "\xC9"},
        {"single box", kAnsi, [] { DrawBox(1, 1, 3, 3, 7, 0, 1); },
         "\033[37m\033[40m\033[1;1H\xDA\xC4\xBF\033[2;1H\xB3\033[2;3H\xB3\033[3;1H\xC0\xC4\xD9"},
        {"e acute in UTF-8", kUtf8Ansi, [] { PutString("caf\x82"); }, "café"},
        {"e acute folded without ANSI in UTF-8", kUtf8Plain, [] { PutChar(130); }, "e"},
        {"shading block in UTF-8 without ANSI", kUtf8Plain, [] { PutChar(176); }, "░"},
        {"a UTF-8 console shows the letters", kUtf8Local, [] { PutString("Z\x81rich \xC9"); }, "Zürich ╔"},
        {"controls and escapes untouched in UTF-8", kUtf8Ansi, [] { PutString("\x07\x08\x1b[0m\x7f"); },
         "\x07\x08\x1b[0m\x7f"},
        {"single box in UTF-8", kUtf8Ansi, [] { DrawBox(1, 1, 3, 3, 7, 0, 1); },
         "\033[37m\033[40m\033[1;1H┌─┐\033[2;1H│\033[2;3H│\033[3;1H└─┘"},
    };
    for (const Case& c : cases) {
        Use(c.flags);
        EXPECT_EQ(Sent(c.act), c.want) << c.what;
    }
}

// Without ANSI no escape goes out, whatever the colour flag says.
TEST(Screen, WithoutAnsiNoEscapeIsSent) {
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"bold", SetBold},
        {"blink", SetBlink},
        {"reset", ResetAttributes},
        {"eol", ClearToEol},
        {"reverse", SetReverse},
        {"fg", [] { SetForeground(12); }},
        {"bg", [] { SetBackground(2); }},
        {"color", [] { SetColor(12, 1); }},
        {"pair", [] { SetColorPair(kColorWarning); }},
        {"box", [] { DrawBox(1, 1, 5, 5, 7, 0, 2); }},
        {"move", [] { MoveCursor(3, 3); }},
        {"erase", EraseScreen},
    };
    for (const auto& [what, fn] : calls) {
        Use({false, true, false});
        EXPECT_EQ(Sent(fn), "") << what;
    }
}

TEST(Screen, BoxStyles) {
    struct Style {
        int style;
        std::string top, side, bottom;
    };
    const Style styles[] = {
        {0, "   ", " ", "   "},
        {1, "\xDA\xC4\xBF", "\xB3", "\xC0\xC4\xD9"},
        {2, "\xC9\xCD\xBB", "\xBA", "\xC8\xCD\xBC"},
        {3, "\xD5\xCD\xB8", "\xB3", "\xD4\xCD\xBE"},
        {4, "\xD6\xC4\xB7", "\xBA", "\xD3\xC4\xBD"},
        {9, "\xD6\xC4\xB7", "\xBA", "\xD3\xC4\xBD"},
    };
    for (const Style& s : styles) {
        Use(kAnsi);
        std::string want = "\033[37m\033[40m\033[1;1H" + s.top + "\033[2;1H" + s.side + "\033[2;3H" + s.side +
                           "\033[3;1H" + s.bottom;
        EXPECT_EQ(Sent([&] { DrawBox(1, 1, 3, 3, 7, 0, s.style); }), want) << "style " << s.style;
    }
}

TEST(Screen, MakeColorCodeMapsWhateverColorOnSays) {
    struct Code {
        int16_t color;
        bool background;
        const char* want;
    };
    const Code codes[] = {
        {0, false, "\033[30m"},   {1, false, "\033[34m"},   {2, false, "\033[32m"},   {3, false, "\033[36m"},
        {4, false, "\033[31m"},   {5, false, "\033[35m"},   {6, false, "\033[33m"},   {7, false, "\033[37m"},
        {8, false, "\033[1;30m"}, {9, false, "\033[1;34m"}, {14, false, "\033[1;33m"}, {15, false, "\033[1;37m"},
        {20, false, "\033[1;37m"}, {-1, false, "\033[37m"},
        {0, true, "\033[40m"},    {1, true, "\033[44m"},    {4, true, "\033[41m"},    {6, true, "\033[43m"},
        {7, true, "\033[47m"},    {8, true, "\033[40m"},    {12, true, "\033[40m"},   {-3, true, "\033[40m"},
    };
    for (bool colorOn : {false, true}) {
        Use({true, colorOn, false});
        for (const Code& c : codes)
            EXPECT_EQ(MakeColorCode(c.color, c.background), c.want) << c.color << (c.background ? " bg" : " fg");
    }
    EXPECT_EQ(Sent([] { MakeColorCode(4, false); }), "");
}

TEST(Screen, FoldTable) {
    const std::map<int, char> folded = {
        {128, 'C'}, {129, 'u'}, {150, 'u'}, {151, 'u'}, {163, 'u'}, {130, 'e'}, {136, 'e'}, {137, 'e'},
        {138, 'e'}, {131, 'a'}, {132, 'a'}, {133, 'a'}, {134, 'a'}, {160, 'a'}, {135, 'c'}, {139, 'i'},
        {140, 'i'}, {141, 'i'}, {161, 'i'}, {142, 'A'}, {143, 'A'}, {144, 'E'}, {147, 'o'}, {148, 'o'},
        {149, 'o'}, {154, 'U'},
    };
    for (int b = 0; b < 256; ++b) {
        auto it = folded.find(b);
        EXPECT_EQ(FoldChar(uint8_t(b)), it == folded.end() ? uint8_t(b) : uint8_t(it->second)) << b;
    }
}

TEST(Screen, ColourPairsByRoleOnlyInColour) {
    MutableConfig().Colors[kColorWarning] = {12, 1};
    Use(kAnsi);
    EXPECT_EQ(Sent([] { SetColorPair(kColorWarning); }), "");
    Use(kColor);
    EXPECT_EQ(Sent([] { SetColorPair(kColorWarning); }), "\033[1;31m\033[44m");
    MutableConfig().Colors[kColorWarning] = {};
}

TEST(Screen, MonitorGetsACopyOfEveryByte) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Use(kPlain);
    Call().Monitoring = true;
    Call().MonitorFd = p[1];
    Call().OutputDelay = 50;
    EXPECT_EQ(Sent([] { PutLine("caf\x82"); }), "cafe\n\r");
    close(p[1]);
    char buf[64];
    ssize_t n = read(p[0], buf, sizeof buf);
    close(p[0]);
    EXPECT_EQ(std::string(buf, size_t(n > 0 ? n : 0)), "cafe\n\r");
    Call() = CallState{};
}

// The monitor copy is what the line gets: a UTF-8 line's letters in UTF-8.
TEST(Screen, MonitorGetsWhatAUtf8LineGets) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Use(kUtf8Ansi);
    Call().Monitoring = true;
    Call().MonitorFd = p[1];
    EXPECT_EQ(Sent([] { PutString("caf\x82 \xFE"); }), "café ■");
    close(p[1]);
    char buf[64];
    ssize_t n = read(p[0], buf, sizeof buf);
    close(p[0]);
    EXPECT_EQ(std::string(buf, size_t(n > 0 ? n : 0)), "café ■");
    Call() = CallState{};
}

}  // namespace
