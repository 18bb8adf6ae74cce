// kvroster's rules apart from the screen: the settings record, the options,
// the key decoding and the one-line editor.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "common/record_io.h"
#include "roster/line_edit.h"
#include "roster/roster_main.h"
#include "roster/screen.h"
#include "roster/settings.h"

namespace fs = std::filesystem;

namespace kv::roster {
namespace {

TEST(RosterSettings, RecordRoundTripsAtItsOffsets) {
    RosterSettings s;
    s.FlagDescriptions[2][7] = "Set C, last bit";
    s.UtilityCommands[9] = "ls -l";
    s.DefaultLayout = 3;
    s.UnvalidatedLevel = 63999;
    s.ValidatedLevel = 64000;
    s.NewUserFlags = {1, 2, 3, 4};
    s.LetterArea = 100;
    s.QuestionnairePath = "/bbs/answers";
    s.PrivateLetter = 0;
    s.ShowPassword = 0;
    SettingsBytes b = EncodeSettings(s);
    EXPECT_EQ(GetText(b.data() + 2 * 528 + 7 * 66, 66), "Set C, last bit");
    EXPECT_EQ(GetText(b.data() + 2112 + 9 * 81, 81), "ls -l");
    EXPECT_EQ(b[2922], 3);
    EXPECT_EQ(GetLE32(b.data() + 2928), 64000u);
    EXPECT_EQ(b[2934], 3);
    EXPECT_EQ(GetLE16(b.data() + 3022), 100);
    EXPECT_EQ(b[3105], 0);
    EXPECT_EQ(b[2923], 0);
    RosterSettings back = DecodeSettings(b.data());
    EXPECT_EQ(back.FlagDescriptions[2][7], s.FlagDescriptions[2][7]);
    EXPECT_EQ(back.QuestionnairePath, s.QuestionnairePath);
    EXPECT_EQ(back.ValidatedLevel, 64000);
    EXPECT_EQ(back.NewUserFlags, s.NewUserFlags);
    EXPECT_EQ(back.ShowPassword, 0);
}

TEST(RosterSettings, ValuesOutOfRangeTakeTheirDefaults) {
    SettingsBytes b = EncodeSettings(DefaultSettings());
    b[2922] = 9;                                 // layout
    PutLE32(b.data() + 2924, uint32_t(-1));      // unvalidated level
    PutLE32(b.data() + 2928, 64001);             // validated level
    PutLE16(b.data() + 3022, 0);                 // letter area
    RosterSettings s = DecodeSettings(b.data());
    EXPECT_EQ(s.DefaultLayout, 0);
    EXPECT_EQ(s.UnvalidatedLevel, 5);
    EXPECT_EQ(s.ValidatedLevel, 10);
    EXPECT_EQ(s.LetterArea, 1);
}

TEST(RosterSettings, FileShorterThanARecordGivesDefaultsAndLongerIsTaken) {
    fs::path dir = fs::temp_directory_path() / ("kvr-settings-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / kSettingsFile).string();
    RosterSettings s;
    s.DefaultLayout = 4;
    SettingsBytes b = EncodeSettings(s);
    struct Case {
        size_t size;
        bool defaults;
    } cases[] = {{3107, true}, {3108, false}, {3200, false}};
    for (const Case& c : cases) {
        std::string body(reinterpret_cast<const char*>(b.data()), b.size());
        body.resize(c.size, 'x');
        std::ofstream(path, std::ios::binary | std::ios::trunc) << body;
        bool fromDefaults = false;
        RosterSettings got = ReadSettingsFile(path, fromDefaults);
        EXPECT_EQ(fromDefaults, c.defaults) << c.size;
        EXPECT_EQ(got.DefaultLayout, c.defaults ? 0 : 4) << c.size;
    }
    fs::remove(path);
    bool fromDefaults = false;
    ReadSettingsFile(path, fromDefaults);
    EXPECT_TRUE(fromDefaults);

    ASSERT_TRUE(WriteSettingsFile(path, s));
    EXPECT_EQ(fs::file_size(path), 3108u);
    EXPECT_EQ(ReadSettingsFile(path, fromDefaults).DefaultLayout, 4);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

TEST(RosterOptions, OnlyLeadingDashArgumentsAreLookedAt) {
    struct Case {
        std::vector<std::string> args;
        bool version;
    } cases[] = {
        {{"kvroster", "-v"}, true},
        {{"kvroster", "-x", "-v"}, true},
        {{"kvroster", "-version"}, true},
        {{"kvroster", "-x"}, false},
        {{"kvroster", "file", "-v"}, false},
        {{"kvroster"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseRosterOptions(c.args).printVersion, c.version) << c.args.back();
}

TEST(RosterKeys, DecodeKeyFoldsFunctionKeysBackspaceAndEnter) {
    struct Case {
        std::vector<int> keys;
        int want;
        size_t used;
    } cases[] = {
        {{Ctrl('F'), '1'}, KEY_F(1), 2},
        {{Ctrl('F'), '9'}, KEY_F(9), 2},
        {{Ctrl('F'), '0'}, KEY_F(10), 2},
        {{Ctrl('F'), 'x'}, 'x', 2},
        {{Ctrl('F'), Ctrl('F')}, Ctrl('F'), 2},
        {{Ctrl('F'), 13}, kEnter, 2},
        {{KEY_BACKSPACE}, kDel, 1},
        {{8}, kDel, 1},
        {{127}, kDel, 1},
        {{13}, kEnter, 1},
        {{KEY_ENTER}, kEnter, 1},
        {{'a'}, 'a', 1},
    };
    for (const Case& c : cases) {
        size_t at = 1;
        int got = DecodeKey(c.keys[0], [&] { return c.keys[at++]; });
        EXPECT_EQ(got, c.want) << c.keys[0];
        EXPECT_EQ(at, c.used);
    }
}

// A line editor run: keys in, outcome and text out.
struct EditCase {
    const char* what;
    std::string start;
    int type;
    bool escapeAborts, firstReplaces;
    int width;
    std::vector<int> keys;
    LineEdit::Outcome outcome;
    std::string text;
    int beeps;
};

TEST(RosterLineEditor, KeysActOnTheText) {
    using O = LineEdit;
    const EditCase cases[] = {
        {"typing appends", "", kAnyText, true, false, 10, {'a', 'b', kEnter}, O::kAccepted, "ab", 0},
        {"width stops typing", "abc", kAnyText, true, false, 3, {'d', kEnter}, O::kAccepted, "abc", 1},
        {"digits only", "", kDigits, true, false, 5, {'1', 'x', '2', kEnter}, O::kAccepted, "12", 1},
        {"date refuses a digit at 2", "", kDateText, true, false, 8, {'9', '5', '1', '/', '1', '2', '/', '3', '1', kEnter},
         O::kAccepted, "95/12/31", 1},
        {"date refuses a slash elsewhere", "", kDateText, true, false, 8, {'/', '9', kEnter}, O::kAccepted, "9", 1},
        {"first Esc clears, second aborts", "abc", kAnyText, false, false, 8, {kEsc, kEsc}, O::kAborted, "\x1b", 0},
        {"first Esc clears, then typing", "abc", kAnyText, false, false, 8, {kEsc, 'x', kEnter}, O::kAccepted, "x", 0},
        {"Esc aborts at once", "abc", kAnyText, true, false, 8, {kEsc}, O::kAborted, "\x1b", 0},
        {"first key replaces", "123", kAnyText, true, true, 5, {'7', kEnter}, O::kAccepted, "7", 0},
        {"Enter first keeps", "123", kAnyText, true, true, 5, {kEnter}, O::kAccepted, "123", 0},
        {"DEL first trims", "123", kAnyText, true, true, 5, {kDel, kEnter}, O::kAccepted, "12", 0},
        {"overwrite in the middle", "abc", kAnyText, true, false, 5, {KEY_LEFT, KEY_LEFT, 'X', kEnter}, O::kAccepted,
         "aXc", 0},
        {"insert shifts right", "abc", kAnyText, true, false, 5, {KEY_HOME, KEY_IC, 'X', kEnter}, O::kAccepted, "Xabc", 0},
        {"DEL in overwrite blanks the middle", "abc", kAnyText, true, false, 5, {KEY_LEFT, kDel, kEnter},
         O::kAccepted, "a c", 0},
        {"DEL at the start beeps", "", kAnyText, true, false, 5, {kDel, kEnter}, O::kAccepted, "", 1},
        {"Ctrl-G deletes under the cursor", "abc", kAnyText, true, false, 5, {KEY_HOME, Ctrl('G'), kEnter},
         O::kAccepted, "bc", 0},
        {"Ctrl-A goes back a word", "ab cd", kAnyText, true, false, 8, {Ctrl('A'), 'X', kEnter}, O::kAccepted,
         "ab Xd", 0},
        {"arrows up and down beep", "", kAnyText, true, false, 5, {KEY_UP, KEY_F(1), kEnter}, O::kAccepted, "", 2},
    };
    for (const EditCase& c : cases) {
        LineEdit e(c.start, c.width, c.type, c.escapeAborts, c.firstReplaces);
        LineEdit::Outcome out = LineEdit::kGoOn;
        int beeps = 0;
        for (int k : c.keys) {
            bool beep = false;
            out = e.Feed(k, beep);
            beeps += beep;
        }
        EXPECT_EQ(out, c.outcome) << c.what;
        EXPECT_EQ(e.text(), c.text) << c.what;
        EXPECT_EQ(beeps, c.beeps) << c.what;
    }
}

}  // namespace
}  // namespace kv::roster
