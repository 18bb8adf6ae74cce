// The "*" codes of a command line: what each becomes, which flags it sets,
// and the lines that are refused rather than run.
#include <gtest/gtest.h>

#include <string>

#include "caller/term/call_state.h"
#include "caller/term/external_programs.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

CommandValues Sample() {
    CommandValues v;
    v.AreaDir = "/board/files/one";
    v.MsgArea = 4;
    v.Speed = 2400;
    v.FirstName = "Terry";
    v.LastName = "Tester";
    v.Color = true;
    v.Line = 3;
    v.Device = "pts/7";
    v.UserNumber = 12;
    v.MinutesLeft = 25;
    return v;
}

TEST(ExpandCommand, CodesBecomeQuotedValues) {
    struct Case {
        const char* command;
        const char* want;
    } cases[] = {
        {"door *N *T *B", "door '3' '25' '2400'"},
        {"door *n *t *b", "door '3' '25' '2400'"},  // any case
        {"*C -c ls *0", "'/bin/sh' -c ls '/board/files/one'"},
        {"door *F *L *R *1 *G *P", "door 'Terry' 'Tester' '12' '4' '1' 'pts/7'"},
        {"cfg.*N.txt", "cfg.'3'.txt"},  // one word with the text around it
        {"a ** b", "a * b"},
        {"a *x*? b", "a  b"},            // unknown codes vanish with their "*"
        {"ends with *", "ends with *"},   // a lone "*" at the end stays
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string out;
        CommandFlags flags;
        EXPECT_EQ(ExpandCommand(c.command, Sample(), out, flags), Expansion::kDone) << c.command;
        EXPECT_EQ(out, c.want) << c.command;
    }
}

TEST(ExpandCommand, FlagCodesLeaveNothingBehind) {
    std::string out;
    CommandFlags flags;
    ASSERT_EQ(ExpandCommand("*&door*Z *! x*#", Sample(), out, flags), Expansion::kDone);
    EXPECT_EQ(out, "door  x");
    EXPECT_TRUE(flags.NoDropFile && flags.TerminalModes && flags.CreditTime && flags.ClearPaging);
    ASSERT_EQ(ExpandCommand("door", Sample(), out, flags), Expansion::kDone);
    EXPECT_FALSE(flags.NoDropFile || flags.TerminalModes || flags.CreditTime || flags.ClearPaging);
}

TEST(ExpandCommand, ValuesNeverBecomeShellSyntaxOrCodes) {
    CommandValues v = Sample();
    v.FirstName = "Bob;rm";
    v.LastName = "O'Brien *N $(id) `id`";
    std::string out;
    CommandFlags flags;
    ASSERT_EQ(ExpandCommand("door *F *L", v, out, flags), Expansion::kDone);
    EXPECT_EQ(out, "door 'Bob;rm' 'O'\\''Brien *N $(id) `id`'");
    // A one-word name has no last name: no word at all, as before.
    v.LastName.clear();
    ASSERT_EQ(ExpandCommand("door *F *L end", v, out, flags), Expansion::kDone);
    EXPECT_EQ(out, "door 'Bob;rm'  end");
}

TEST(ExpandCommand, RefusesCodesWhereQuotingCannotHold) {
    struct Case {
        const char* command;
        Expansion want;
    } cases[] = {
        {"door \"*F\"", Expansion::kCodeInQuotes},
        {"door '*N'", Expansion::kCodeInQuotes},
        {"door \"x $y *L\"", Expansion::kCodeInQuotes},
        {"door \\*F", Expansion::kCodeInQuotes},       // the backslash would eat the quote
        {"door $*F", Expansion::kCodeInQuotes},
        {"door 'a' *F \"b\"", Expansion::kDone},        // quotes closed again
        {"door \"a\\\"\" *F", Expansion::kDone},        // an escaped quote inside quotes
        {"door 'a\\' *F", Expansion::kDone},            // no escapes inside single quotes
        {"door \"*Z*&\" x", Expansion::kDone},          // flags put nothing there
        {"door \"**\"", Expansion::kDone},
    };
    for (const auto& c : cases) {
        std::string out;
        CommandFlags flags;
        EXPECT_EQ(ExpandCommand(c.command, Sample(), out, flags), c.want) << c.command;
    }
}

TEST(ExpandCommand, RefusesALineLongerThanItsRoom) {
    CommandValues v = Sample();
    v.AreaDir = std::string(80, 'd');
    std::string out;
    CommandFlags flags;
    // Six quoted directories fit (82 characters each), seven do not.
    EXPECT_EQ(ExpandCommand("*0*0*0*0*0*0 123", v, out, flags), Expansion::kDone);
    EXPECT_EQ(out.size(), 6u * 82 + 4);
    EXPECT_EQ(ExpandCommand("*0*0*0*0*0*0*0", v, out, flags), Expansion::kTooLong);
    EXPECT_EQ(ExpandCommand(std::string(kCommandRoom, 'x'), v, out, flags), Expansion::kDone);
    EXPECT_EQ(ExpandCommand(std::string(kCommandRoom + 1, 'x'), v, out, flags), Expansion::kTooLong);
}

TEST(CallCommandValues, TheConsoleHasNoLineSpeed) {
    CallState& c = Call();
    CallState saved = c;
    c.DeviceName = "console";
    c.LineNumber = 3;
    c.LogonTime = Now() - 5 * 60 - 10;
    c.CallMinutes = 30;
    c.CallerName = "Mary Ann Smith";
    CommandValues v = CallCommandValues();
    EXPECT_EQ(v.Line, 3);
    EXPECT_EQ(v.MinutesLeft, 25);
    EXPECT_EQ(v.Speed, 0);
    EXPECT_EQ(v.FirstName, "Mary");
    EXPECT_EQ(v.LastName, "Ann Smith");
    c.DeviceName = "VT02";
    EXPECT_EQ(CallCommandValues().Speed, 0);
    c = saved;
}

}  // namespace
}  // namespace kv::caller
