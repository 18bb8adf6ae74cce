// The caller's settings as a caller changes them: the sample board's
// settings menu ("U" on the main menu) on a pseudo-terminal against a real
// kvhubd, and the user record read back from "users.bbs" after log-off.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "caller/areas/screen_codes.h"
#include "common/online_status.h"
#include "tests/support/caller_fixture.h"

namespace kv::test {
namespace {

struct SettingCase {
    const char* name;
    std::function<void(UserRecord&)> before;  // Terry's record before the call
    std::vector<std::pair<std::string, std::string>> dialogue;  // text expected, keys sent
    std::function<void(const UserRecord&)> check;
};

// The case's name, not its bytes, in the test listing.
void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

class Setting : public CallerTest, public ::testing::WithParamInterface<SettingCase> {};

// Terry starts with clear screen, page pauses, colour and hot keys on, 24
// lines, "Testville", a home phone and no data phone.
TEST_P(Setting, ChangesTheRecordThatLogOffWrites) {
    const SettingCase& sc = GetParam();
    UserRecord terry = User(1);
    if (sc.before) sc.before(terry);
    PutUser(1, terry);
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "u")) << c->Rest();
    bool hotKeys = (terry.Options2 & USER_HOT_KEYS) != 0;
    for (const auto& [text, keys] : sc.dialogue) {
        ASSERT_TRUE(c->Expect(text)) << text << "\n" << c->Rest();
        c->Send(keys);
        if (keys == "h") hotKeys = !hotKeys;
    }
    ASSERT_TRUE(c->Answer("Settings: ", hotKeys ? "q" : "q\r")) << c->Rest();
    if (std::string(sc.name) == "DoNotDisturb") {
        // Other lines see it at once.
        SetConfig(board().config());
        OnlineEntry e;
        ASSERT_TRUE(ReadOnlineEntry(0, e));
        EXPECT_TRUE(e.Flags & LINE_NODISTURB);
    }
    ASSERT_TRUE(c->Answer("Your choice: ", hotKeys ? "g" : "g\r")) << c->Rest();
    EXPECT_EQ(1, c->Wait()) << c->Rest();
    sc.check(User(1));
}

const SettingCase kSettingCases[] = {
    {"Location", nullptr,
     {{"Settings: ", "l"}, {"New location (Enter keeps it): ", "new york\r"}, {"Is this right?", "y"},
      {"Location changed.", ""}},
     [](const UserRecord& u) { EXPECT_EQ("New York", u.Location); }},
    {"LocationEscape", nullptr,
     {{"Settings: ", "l"}, {"New location (Enter keeps it): ", "\x1b"}, {"Location not changed.", ""}},
     [](const UserRecord& u) { EXPECT_EQ("Testville", u.Location); }},
    {"ScreenLength", nullptr,
     {{"Settings: ", "s"}, {"Your screen has 24 lines.", "30\r"}, {"Screen length changed.", ""}},
     [](const UserRecord& u) { EXPECT_EQ(30u, u.ScreenLength); }},
    {"ScreenLengthOutOfRange", nullptr,
     {{"Settings: ", "s"}, {"(Enter for 24): ", "53\r"}, {"Please give a number from 10 to 52.", ""},
      {"Screen length not changed.", ""}},
     [](const UserRecord& u) { EXPECT_EQ(24u, u.ScreenLength); }},
    {"ClearScreen", nullptr, {{"Settings: ", "c"}, {"Screen clearing is off.", ""}},
     [](const UserRecord& u) { EXPECT_FALSE(u.Options & USER_CLEAR_SCREEN); }},
    {"PagePause", nullptr, {{"Settings: ", "b"}, {"Page pauses are off.", ""}},
     [](const UserRecord& u) { EXPECT_FALSE(u.Options & USER_PAGE_BREAK); }},
    {"Colour", nullptr, {{"Settings: ", "o"}, {"\033[0mColour is off.", ""}},
     [](const UserRecord& u) { EXPECT_FALSE(u.Options & USER_ANSI); }},
    {"HotKeys", nullptr, {{"Settings: ", "h"}, {"Hot keys are off.", ""}},
     [](const UserRecord& u) { EXPECT_FALSE(u.Options2 & USER_HOT_KEYS); }},
    {"FullScreenEditor", nullptr, {{"Settings: ", "e"}, {"The full-screen editor is on.", ""}},
     [](const UserRecord& u) { EXPECT_TRUE(u.Options & USER_FULL_EDITOR); }},
    {"FullScreenEditorNeedsAnsi", [](UserRecord& u) { u.Options2 |= USER_NO_ESCAPES; },
     {{"Settings: ", "e"}, {"The full-screen editor needs ANSI.", ""}},
     [](const UserRecord& u) { EXPECT_FALSE(u.Options & USER_FULL_EDITOR); }},
    {"DoNotDisturb", nullptr, {{"Settings: ", "d"}, {"Do not disturb is on.", ""}},
     [](const UserRecord& u) { EXPECT_TRUE(u.Options & USER_NO_DISTURB); }},
    {"HomePhone", nullptr,
     {{"Settings: ", "1"}, {"Home phone now: (555) 010-0001", "5550123456\r"}, {"Is (555) 012-3456 right?", "y"},
      {"Home phone changed.", ""}},
     [](const UserRecord& u) { EXPECT_EQ("(555) 012-3456", u.HomePhone); }},
    {"DataPhoneDeclined", nullptr,
     {{"Settings: ", "2"}, {"Data phone: ", "5550123456\r"}, {"right?", "n"}, {"Data phone not changed.", ""}},
     [](const UserRecord& u) { EXPECT_EQ("", u.DataPhone); }},
    {"AnsiOffTakesTheEditorAlong", [](UserRecord& u) { u.Options |= USER_FULL_EDITOR; },
     {{"Settings: ", "a"}, {"ANSI is off.", ""}},
     [](const UserRecord& u) {
         EXPECT_TRUE(u.Options2 & USER_NO_ESCAPES);
         EXPECT_FALSE(u.Options & USER_FULL_EDITOR);
     }},
    {"ClearScreenCodes", nullptr,
     {{"Settings: ", "k"}, {"Press a key to go on.", " "}, {"How many codes (1-15)? ", "3\r"},
      {"Give the 3 codes:", "27;91;50\r"}, {"Clear-screen codes stored.", ""}},
     [](const UserRecord& u) {
         ASSERT_EQ(3, u.ClearScreenLength);
         EXPECT_EQ(27, u.ClearScreenCodes[0]);
         EXPECT_EQ(91, u.ClearScreenCodes[1]);
         EXPECT_EQ(50, u.ClearScreenCodes[2]);
     }},
    {"ClearScreenCodesRefused", [](UserRecord& u) {
         u.ClearScreenLength = 1;
         u.ClearScreenCodes[0] = 12;
     },
     {{"Settings: ", "k"}, {"Press a key to go on.", " "}, {"How many codes (1-15)? ", "2\r"},
      {"Give the 2 codes:", "27;300\r"}, {"Not a code from 0 to 255: 300", ""}},
     [](const UserRecord& u) {
         EXPECT_EQ(1, u.ClearScreenLength);
         EXPECT_EQ(12, u.ClearScreenCodes[0]);
     }},
};

INSTANTIATE_TEST_SUITE_P(Settings, Setting, ::testing::ValuesIn(kSettingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The pieces of a clear-screen answer: only the count is looked at, and
// every piece must be a number 0-255 of at most three digits; a refused
// piece is told by the number it reads as.
TEST(ClearCodes, PiecesOfTheAnswer) {
    struct Case {
        const char* answer;
        int count;
        std::vector<uint8_t> codes;
        int text;
        long bad;
    } cases[] = {
        {"27;91;50", 3, {27, 91, 50}, 0, 0},
        {"12;99", 1, {12}, 0, 0},
        {"27", 2, {}, 443, 0},
        {"27;300", 2, {}, 444, 300},
        {"27;;91", 3, {}, 444, 0},
        {"abc", 1, {}, 444, 0},
        {"0012", 1, {}, 444, 12},
        {"-5", 1, {}, 444, -5},
        {"99999999999999999999", 1, {}, 444, LONG_MAX},
        {"255;0", 2, {255, 0}, 0, 0},
    };
    for (const Case& k : cases) {
        caller::ClearCodesResult r = caller::ParseClearCodes(k.answer, k.count);
        EXPECT_EQ(k.codes, r.Codes) << k.answer;
        EXPECT_EQ(k.text, r.Text) << k.answer;
        EXPECT_EQ(k.bad, r.Bad) << k.answer;
    }
}

// A refused code is told by its number; then codes stored, escape
// sequences switched off: the next clear screen (the main menu's) sends the
// caller's own codes instead of the ANSI clear.
class ScreenCodes : public CallerTest {};

TEST_F(ScreenCodes, OwnClearCodesClearTheScreenWithoutAnsi) {
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("Settings: ", "k")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press a key to go on.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("How many codes (1-15)? ", "1\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Give the code:", "0012\r")) << c->Rest();
    ASSERT_TRUE(c->Expect("Not a code from 0 to 255: 12\n")) << c->Rest();
    ASSERT_TRUE(c->Answer("Settings: ", "k")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press a key to go on.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("How many codes (1-15)? ", "1\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Give the code:", "12;99\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Settings: ", "a")) << c->Rest();
    ASSERT_TRUE(c->Expect("ANSI is off.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Settings: ", "q")) << c->Rest();
    ASSERT_TRUE(c->Expect("\x0c")) << c->Rest();
    ASSERT_TRUE(c->Expect("Main menu")) << c->Rest();
    EXPECT_EQ(std::string::npos, c->Rest().find("\033[")) << c->Rest();
    ASSERT_TRUE(c->LogOffAtMenu());
    EXPECT_EQ(1, c->Wait());
    UserRecord u = User(1);
    EXPECT_EQ(1, u.ClearScreenLength);
    EXPECT_EQ(12, u.ClearScreenCodes[0]);
    EXPECT_EQ(0, u.ClearScreenCodes[1]);
}

}  // namespace
}  // namespace kv::test
