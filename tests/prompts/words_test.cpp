// The pure pieces behind the prompts: forbidden-word lists, the prefix
// compare, and the log-stamp command's text.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "common/runtime.h"
#include "common/trash_words.h"
#include "tests/support/board.h"

using namespace kv;
using namespace kv::caller;
using namespace kv::test;

namespace {

TEST(TrashWords, ListsRefuseWordsAndNames) {
    TempBoard b;
    SetConfig(b.config());
    // The sample's own lists let its callers in.
    EXPECT_FALSE(IsTrashWord(kTrashNames, "Sam Sysop"));
    EXPECT_FALSE(IsTrashWord(kTrashNames, "Terry Tester"));
    EXPECT_TRUE(IsTrashWord(kTrashNames, "Guest"));
    // The last line has no line feed: it keeps its last letter.
    b.WriteFile("system/trashcan.ctl",
                "# names nobody may take\nSysop\nguest\nnew user\r\nthe quick brown fox jumps\nadministrator");
    b.WriteFile("system/alitrash.ctl", "root\n");
    struct Case {
        int kind;
        const char* word;
        bool listed;
    } cases[] = {
        {kTrashNames, "Sysop Jones", true},        // the first word
        {kTrashNames, "Jones Sysop", true},        // the second
        {kTrashNames, "Guest", true},              // the line capitalised like a name
        {kTrashNames, "New User", true},           // a line of two words, CR LF ended
        {kTrashNames, "The Quick Brown Fox Jumps", true},  // long lines are compared whole
        {kTrashNames, "Administrator", true},
        {kTrashNames, "Administrato", false},
        {kTrashNames, "Terry Tester", false},
        {kTrashNames, "# names nobody may take", false},  // comments are no words
        {kTrashAliases, "root", true},
        {kTrashAliases, "Sysop", false},           // each kind its own list
        {kTrashPasswords, "Secret", true},         // the sample's password list
        {4, "Secret", true},                       // any other kind: passwords
    };
    for (const Case& c : cases) EXPECT_EQ(IsTrashWord(c.kind, c.word), c.listed) << c.kind << " " << c.word;
}

TEST(TrashWords, MissingListForbidsNothing) {
    TempBoard b;
    SetConfig(b.config());
    std::filesystem::remove(b.DataDir() / "alitrash.ctl");
    EXPECT_FALSE(IsTrashWord(kTrashAliases, "root"));
    ConfigRecord none = b.config();
    none.DataDir.clear();
    SetConfig(none);
    EXPECT_FALSE(IsTrashWord(kTrashPasswords, "Secret"));
}

TEST(MatchPrefix, WordBeginsLongerTextCaseIgnored) {
    struct Case {
        const char* a;
        const char* b;
        size_t n;
        bool match;
    } cases[] = {
        {"tty1", "TTY1,2400,0", 4, true},
        {"tty1", "tty10,2400", 4, true},
        {"tty1", "tty", 4, false},      // b shorter than n
        {"ttyS", "ttyA,300", 4, false},
        {"", "anything", 0, true},
        {"abc", "ab", 2, false},         // a longer than b is no prefix of it
    };
    for (const Case& c : cases) EXPECT_EQ(MatchPrefix(c.a, c.b, c.n), c.match) << c.a << " " << c.b;
}

TEST(StampLog, AreaNamesReplaceTheirMarks) {
    TempBoard b;
    ConfigRecord cfg = b.config();
    cfg.MsgAreas[2].AreaName = "Chat";
    cfg.FileAreas[1].AreaName = "Uploads";
    SetConfig(cfg);
    Call() = CallState{};
    Call().User.MsgArea = 2;
    Call().User.FileArea = 1;
    StampLog("read ` then went to @");
    StampLog("");
    StampLog(std::string(300, 'x'));
    std::string log = b.ReadFile(PerProcessLogName());
    EXPECT_NE(log.find(" read Chat then went to Uploads\n"), std::string::npos) << log;
    // Nothing for the empty text.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
}

}  // namespace
