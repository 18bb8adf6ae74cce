// The pure pieces of the menus: the record layout, the keys and codes of the
// lines, the access marks and the moves on the menu stack with their area
// switches.
#include <gtest/gtest.h>

#include <vector>

#include "caller/call/menus.h"
#include "caller/term/call_state.h"
#include "common/menu_record.h"
#include "common/runtime.h"

using namespace kv;
using namespace kv::caller;

namespace {

MenuRecord Line(uint8_t command, uint8_t hotKey, uint8_t autoRun = 0, int32_t level = 0, FlagGroups flags = {}) {
    MenuRecord r;
    r.Command = command;
    r.HotKey = hotKey;
    r.AutoRun = autoRun;
    r.MinLevel = level;
    r.FlagMasks = flags;
    return r;
}

TEST(MenuRecordLayout, FieldsAtTheirOffsets) {
    MenuRecord r = Line(27, 'E', 1, 0x01020304, {1, 2, 4, 128});
    r.Text = "Enter";
    r.Argument = "/M /T=Sam_Sysop";
    r.LineForeground = 14;
    r.LineBackground = 1;
    auto bytes = EncodeRecord(r);
    EXPECT_EQ(bytes[0], 27);
    EXPECT_EQ(GetLE32(&bytes[4]), 0x01020304u);
    EXPECT_EQ(bytes[8], 1);
    EXPECT_EQ(bytes[9], 1);
    EXPECT_EQ(bytes[12], 128);
    EXPECT_EQ(GetText(&bytes[13], 75), "Enter");
    EXPECT_EQ(bytes[88], 'E');
    EXPECT_EQ(GetText(&bytes[89], 80), "/M /T=Sam_Sysop");
    EXPECT_EQ(bytes[169], 14);
    EXPECT_EQ(bytes[170], 1);
    EXPECT_EQ(bytes[171], 0);
}

TEST(MenuRecordLayout, FileWithFullFieldsAndAShortTail) {
    // Two records, the second with text and argument filling their fields
    // (no NUL), then 100 bytes of a third that was cut short.
    std::vector<uint8_t> file(2 * kMenuRecordSize + 100, 0);
    uint8_t* second = file.data() + kMenuRecordSize;
    std::fill(second + 13, second + 13 + 75, 'T');
    std::fill(second + 89, second + 89 + 80, 'A');
    std::vector<MenuRecord> r = DecodeMenuFile(file.data(), file.size());
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].Text, std::string(74, 'T'));
    EXPECT_EQ(r[1].Argument, std::string(79, 'A'));

    // Never more than 50 records, whatever the file holds.
    std::vector<uint8_t> big(60 * kMenuRecordSize, 0);
    EXPECT_EQ(DecodeMenuFile(big.data(), big.size()).size(), kMaxMenuRecords);
}

TEST(MenuLines, KeysAndWorkingCodes) {
    struct Case {
        MenuRecord line;
        int key;
        int code;
    };
    const Case cases[] = {
        {Line(0, 'X'), 0, 0},          // a text line has no key
        {Line(5, 'D'), 'D', 5},
        {Line(2, 'M'), 'M', 2},
        {Line(255, 'B'), 'B', 255},    // a blank line keeps its key
        {Line(5, 'D', 1), 0, -5},      // AutoRun: negated, no key
        {Line(9, 'G', 1), 0, -9},
        {Line(0, 'X', 1), 0, 0},
        {Line(200, 'Z'), 'Z', 200},    // unknown codes are drawn like commands
    };
    std::vector<MenuRecord> lines;
    for (const auto& c : cases) lines.push_back(c.line);
    std::string keys;
    std::vector<int16_t> codes;
    MenuLineKeys(int(lines.size()), keys, codes, lines);
    ASSERT_EQ(keys.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(uint8_t(keys[i]), cases[i].key) << "line " << i;
        EXPECT_EQ(codes[i], cases[i].code) << "line " << i;
    }
    // A count beyond the records given is cut to them.
    MenuLineKeys(99, keys, codes, std::span<const MenuRecord>(lines.data(), 2));
    EXPECT_EQ(keys.size(), 2u);
}

class MenuAccess : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = Call();
        user_ = Call().User;
        SetConfig(ConfigRecord{});
    }
    void TearDown() override {
        Call() = saved_;
        Call().User = user_;
        SetConfig(ConfigRecord{});
    }
    CallState saved_;
    UserRecord user_;
};

TEST_F(MenuAccess, LevelsFlagsAndTheSysop) {
    struct Case {
        const char* what;
        int32_t level;
        FlagGroups flags;
        bool strict;
        const char* device;
        int remoteMenus;
        int32_t lineLevel;
        FlagGroups lineFlags;
        bool shown;
    };
    const Case cases[] = {
        {"level equal", 10, {}, true, "pts/1", 0, 10, {}, true},
        {"level above", 10, {}, true, "pts/1", 0, 11, {}, false},
        {"negative level", 0, {}, true, "pts/1", 0, -5, {}, true},
        {"flag held", 10, {1, 0, 0, 0}, true, "pts/1", 0, 0, {1, 0, 0, 0}, true},
        {"one of two flags", 10, {1, 0, 0, 0}, true, "pts/1", 0, 0, {3, 0, 0, 0}, false},
        {"group D bit 8", 10, {0, 0, 0, 128}, true, "pts/1", 0, 0, {0, 0, 0, 128}, true},
        {"flag of another group", 10, {0, 1, 0, 0}, true, "pts/1", 0, 0, {1, 0, 0, 0}, false},
        {"sysop, strict", 64000, {}, true, "console", 1, 65000, {}, false},
        {"sysop, -f, console", 64000, {}, false, "console", 0, 65000, {255, 0, 0, 0}, true},
        {"sysop, -f, remote line", 64000, {}, false, "pts/1", 0, 65000, {}, false},
        {"sysop, -f, remote menus", 64000, {}, false, "pts/1", 1, 65000, {}, true},
        {"below sysop, -f, console", 63999, {}, false, "console", 1, 65000, {}, false},
    };
    for (const auto& c : cases) {
        Call().User.SecurityLevel = c.level;
        Call().User.Flags = c.flags;
        Call().StrictSysopMenus = c.strict;
        Call().DeviceName = c.device;
        MutableConfig().RemoteSysopMenus = uint8_t(c.remoteMenus);
        std::vector<MenuRecord> lines = {Line(5, 'A'), Line(5, 'B', 0, c.lineLevel, c.lineFlags), Line(9, 'G', 1, c.lineLevel, c.lineFlags)};
        std::string keys;
        std::vector<int16_t> codes;
        MenuLineKeys(3, keys, codes, lines);
        FilterMenuLines(keys, codes, 3, lines);
        EXPECT_EQ(keys[0], 'A') << c.what;
        EXPECT_EQ(codes[0], 5) << c.what;
        // The line and an AutoRun line with the same needs.
        EXPECT_EQ(uint8_t(keys[1]), c.shown ? 'B' : kHiddenLine) << c.what;
        EXPECT_EQ(codes[1], c.shown ? 5 : kHiddenLine) << c.what;
        EXPECT_EQ(codes[2], c.shown ? -9 : kHiddenLine) << c.what;
    }
}

TEST_F(MenuAccess, StackMovesAndAreaSuffixes) {
    ConfigRecord cfg;
    for (int a : {0, 1, 3, 7}) {
        cfg.MsgAreas[size_t(a)].AreaDefined = 1;
        cfg.MsgAreas[size_t(a)].ReadLevel = 10;
    }
    cfg.MsgAreas[5].AreaDefined = 1;
    cfg.MsgAreas[5].ReadLevel = 100;   // defined, but not for this caller
    cfg.FileAreas[0].AreaDefined = 1;
    cfg.FileAreas[2].AreaDefined = 1;
    cfg.FileAreas[4].AreaDefined = 1;
    cfg.FileAreas[4].ListFlags = {1, 0, 0, 0};  // a flag the caller lacks
    SetConfig(cfg);
    Call().User.SecurityLevel = 10;
    Call().User.Flags = {};

    struct Case {
        const char* argument;
        int code;
        int depth;          // before
        int msgArea;        // before
        int fileArea;       // before
        int wantDepth;
        const char* wantCurrent;
        int wantMsgArea;
        int wantFileArea;
    };
    const Case cases[] = {
        {"messages", 1, 0, 0, 0, 0, "messages.mnu", 0, 0},
        {"user", 2, 0, 0, 0, 1, "user.mnu", 0, 0},
        {"user", 2, 23, 0, 0, 23, "m23.mnu", 0, 0},      // full: the current menu again
        {"user", 2, 22, 0, 0, 23, "user.mnu", 0, 0},
        {"ignored", 3, 2, 0, 0, 1, "m1.mnu", 0, 0},
        {"", 3, 0, 0, 0, 0, "m0.mnu", 0, 0},               // nothing below the bottom
        {"top", 4, 5, 0, 0, 0, "top.mnu", 0, 0},
        {"messages /M=+", 1, 0, 1, 0, 0, "messages.mnu", 3, 0},
        {"messages /M=+", 1, 0, 3, 0, 0, "messages.mnu", 7, 0},     // 5 is not readable
        {"messages /M=+", 1, 0, 7, 0, 0, "messages.mnu", 0, 0},     // round to the first
        {"messages/m=-", 1, 0, 3, 0, 0, "messages.mnu", 1, 0},      // letter in any case
        {"messages /M=-", 1, 0, 0, 0, 0, "messages.mnu", 7, 0},     // round to the last
        {"messages /M=5", 1, 0, 0, 0, 0, "messages.mnu", 7, 0},     // the first readable from area 5 on
        {"messages /M=2", 1, 0, 7, 0, 0, "messages.mnu", 1, 0},
        {"files /F=+", 1, 0, 0, 0, 0, "files.mnu", 0, 2},
        {"files /F=+", 1, 0, 0, 2, 0, "files.mnu", 0, 0},           // 4 needs a flag
        {"files /F:3", 2, 0, 0, 0, 1, "files.mnu", 0, 2},           // any separator
        {"x /Q=+", 1, 0, 1, 0, 0, "x.mnu", 1, 0},                   // other letters: no switch
        {"/M=+", 3, 1, 1, 0, 0, "m0.mnu", 3, 0},                    // a return switches too
        {"averyverylongname", 1, 0, 0, 0, 0, "averyveryl.mnu", 0, 0},
        {"", 1, 0, 0, 0, 0, ".mnu", 0, 0},
        {"/", 1, 0, 0, 0, 0, ".mnu", 0, 0},
    };
    for (const auto& c : cases) {
        MenuStack stack;
        for (int i = 0; i < kMenuStackSize; ++i) stack.Entries[size_t(i)] = "m" + std::to_string(i) + ".mnu";
        stack.Depth = c.depth;
        Call().User.MsgArea = int16_t(c.msgArea);
        Call().User.FileArea = int16_t(c.fileArea);
        MenuRecord line = Line(uint8_t(c.code), 'X');
        line.Argument = c.argument;
        ChangeMenu(stack, line, c.code);
        EXPECT_EQ(stack.Depth, c.wantDepth) << c.argument << " code " << c.code;
        EXPECT_EQ(stack.Current(), c.wantCurrent) << c.argument << " code " << c.code;
        EXPECT_EQ(Call().User.MsgArea, c.wantMsgArea) << c.argument << " code " << c.code;
        EXPECT_EQ(Call().User.FileArea, c.wantFileArea) << c.argument << " code " << c.code;
        for (const auto& e : stack.Entries) EXPECT_LT(e.size(), kMenuEntryWidth);
    }
}

}  // namespace
