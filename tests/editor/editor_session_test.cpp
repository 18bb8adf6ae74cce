// The line editor as a caller meets it: kveditor_probe runs the editor and
// the save on a pseudo-terminal in a sample board; keys go in, the screen
// is read back, and the message base is read from its five files after.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tests/support/msgbase_reader.h"
#include "tests/support/pty_session.h"

namespace fs = std::filesystem;
using namespace kv;
using kv::test::PtyOptions;
using kv::test::PtySession;
using kv::test::TempBoard;

namespace {

class EditorSession : public ::testing::Test {
protected:
    // With utf8 the line's locale and terminal speak UTF-8.
    PtySession& Start(std::vector<std::string> args, bool utf8 = false) {
        PtyOptions o;
        o.utf8 = utf8;
        o.argv = {std::string(KV_TESTBIN_DIR) + "/kveditor_probe"};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.dir = board_.root();
        session_ = std::make_unique<PtySession>(o);
        return *session_;
    }

    // Sends keys once the output after the last step's text holds prompt;
    // the next step looks behind it.
    void At(const std::string& prompt, const std::string& keys) {
        ASSERT_TRUE(Await(prompt)) << "no \"" << prompt << "\" in:\n" << session_->Output().substr(mark_);
        mark_ = session_->Output().find(prompt, mark_) + prompt.size();
        session_->Send(keys);
    }

    // Waits until the output written since the last step holds text.
    bool Await(const std::string& text, int timeoutMs = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kv::test::ScaledTimeout(timeoutMs));
        while (session_->Output().find(text, mark_) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !session_->Pump(20)) break;
        }
        return session_->Output().find(text, mark_) != std::string::npos;
    }

    // Ends the run: the probe says whether it saved and exits with 0.
    void Finish(const std::string& verdict) {
        ASSERT_TRUE(Await(verdict)) << session_->Output().substr(mark_);
        EXPECT_EQ(session_->Wait(), 0);
    }

    std::string Log() const { return board_.ReadFile(board_.DataDir() / "editor.log"); }

    // A message already in the base, as the tests' own process appends it.
    void PostSource(const std::string& from, const std::string& to, const std::vector<std::string>& lines) {
        SetConfig(board_.config());
        MsgHeader h;
        h.FromName = from;
        BuildMessageHeader(h, to, "Old news", 0, 0, 0, false, std::nullopt, false, false, from);
        int32_t offset = 0;
        ASSERT_TRUE(AppendMessage(MsgText{"Kivo v1.0", lines}, h, offset));
    }

    TempBoard board_;
    std::unique_ptr<PtySession> session_;
    size_t mark_ = 0;
};

constexpr const char* kMenu = "Command [d/e/r/i/l/h/c/s/a] : ";

TEST_F(EditorSession, WriteListEditDeleteAndSave) {
    Start({"to=Sam Sysop", "subject=Three lines", "kill=2", "send=1"});
    At("  1: ", "First line\r");
    At("  2: ", "Second line\r");
    At("  3: ", "Third line\r");
    At("  4: ", "\r");
    At(kMenu, "L");
    At("  1: First line\n\r  2: Second line\n\r  3: Third line\n\r", "");
    At(kMenu, "E");
    At("Edit which line (1-3)? ", "2");
    At("  2: Second line", "\b\b\b\brow\r");
    At(kMenu, "D");
    At("Delete from line (1-3): ", "1");
    At("Delete up to line (1-3): ", "1");
    At(kMenu, "L");
    At("  1: Second row\n\r  2: Third line\n\r", "");
    At(kMenu, "S");
    Finish("saved=1 offset=0");

    test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_TRUE(base.info.has_value());
    EXPECT_EQ(base.info->LowestNumber, 1);
    EXPECT_EQ(base.info->HighestNumber, 1);
    EXPECT_EQ(base.info->TotalMessages, 1);
    EXPECT_EQ(base.info->AreaCounts[0], 1);
    ASSERT_EQ(base.messages.size(), 1u);
    const test::StoredMessage& m = base.messages[0];
    EXPECT_EQ(m.index.MsgNumber, 1);
    EXPECT_EQ(m.index.MsgArea, 0);
    EXPECT_EQ(m.recipient, "Sam Sysop");
    EXPECT_EQ(m.header.MsgNumber, 1);
    EXPECT_EQ(m.header.MsgArea, 0);
    EXPECT_EQ(m.header.TextOffset, 0);
    EXPECT_EQ(m.header.FromName, "Terry Tester");
    EXPECT_EQ(m.header.ToName, "Sam Sysop");
    EXPECT_EQ(m.header.Subject, "Three lines");
    EXPECT_EQ(m.header.Status, MSG_LOCAL);
    EXPECT_EQ(m.header.MailFlags, MAIL_SEND_NOW);  // a kill answer of 2 is no yes
    EXPECT_EQ(m.header.ReplyTo, 0);
    EXPECT_EQ(test::ReadBaseFile(board_.MsgBaseDir(), kMsgTextFile),
              "\x01PID: Kivo v1.0\nSecond row\nThird line\n\x1A");
    EXPECT_TRUE(m.textEnded);
    EXPECT_NE(Log().find("Message #1 written in General\n"), std::string::npos) << Log();
}

TEST_F(EditorSession, WordWrapInsertAndTheLineLimit) {
    board_.Set("MsgAreas[0].LineLimit", "4");
    Start({});
    std::string words;
    for (int i = 0; i < 14; ++i) words += "abcd ";
    // The 72nd column falls inside "xyz": the word moves on to line 2.
    At("Up to 4 lines of 72 columns", "");
    At("  1: ", words + "xyz\r");
    At("  2: xyz", "\r");
    At(kMenu, "I");
    At("Insert before which line (1-2)? ", "1");
    At("  1: ", "Zero\r");
    At("  2: ", "\r");  // insert mode numbers on from the insert position
    At(kMenu, "C");
    At("  1: Zero\n\r  2: abcd", "");
    At("  4: ", "Four\r");
    At("You have reached the line limit of this area.", "");
    At(kMenu, "I");
    At("No room for more lines in this area.", "");
    At(kMenu, "S");
    Finish("saved=1");

    test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    words.pop_back();
    EXPECT_EQ(base.messages[0].text.Lines, (std::vector<std::string>{"Zero", words, "xyz", "Four"}));
}

TEST_F(EditorSession, QuoteWithInitialsAndHeading) {
    board_.Set("QuoteTemplate", "@> ");
    std::string longLine;
    for (int i = 0; i < 20; ++i) longLine += "word ";
    longLine.pop_back();  // 99 characters
    PostSource("Sam Sysop", "Pat Other", {"\x01MSGID: 12", "Short line.", longLine});
    Start({"reply=0", "to=Sam Sysop", "subject=RE: Old news"});
    // The loaded lines are listed first, then writing goes on after them.
    At("  1: *** Written to Pat Other:\n\r  2: SS> Short line.\n\r  3: SS> word", "");
    At("  5: ", "My answer.\r");
    At("  6: ", "\r");
    At(kMenu, "S");
    Finish("saved=2");

    test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 2u);
    const test::StoredMessage& m = base.messages[1];
    // 68 columns are left after "SS> ": thirteen words and a half; the cut
    // comes at the blank after the thirteenth.
    std::string head = longLine.substr(0, 64), tail = longLine.substr(65);
    EXPECT_EQ(m.text.Lines, (std::vector<std::string>{"*** Written to Pat Other:", "SS> Short line.", "SS> " + head,
                                                      "SS> " + tail, "My answer."}));
    EXPECT_EQ(m.header.ReplyTo, 1);
    EXPECT_EQ(m.header.Subject, "RE: Old news");
}

TEST_F(EditorSession, AbortNeedsConfirmationAndSavesNothing) {
    Start({});
    At("  1: ", "\r");
    At(kMenu, "S");  // nothing to save yet
    At("The message has no lines yet.", "");
    At(kMenu, "H");  // no help screen on the board: the built-in help
    At("I - insert lines before a line", "");
    At(kMenu, "C");
    At("  1: ", "Some text\r");
    At("  2: ", "\r");
    At(kMenu, "A");
    At("Abandon this message? [Y/n] : ", "N");
    At(kMenu, "A");
    At("Abandon this message? [Y/n] : ", "Y");
    At("Message abandoned.", "");
    Finish("nothing saved");

    test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
    EXPECT_FALSE(base.info.has_value());
    EXPECT_TRUE(base.messages.empty());
    EXPECT_EQ(base.textBytes, 0u);
}

TEST_F(EditorSession, HighBytesOnlyWhereTheAreaTakesThem) {
    struct Case {
        std::vector<std::string> args;
        const char* heading;
        const char* stored;
    } cases[] = {
        {{}, "Bits: 7", "Caf"},
        {{"high"}, "Bits: 8", "Caf\xe9"},
    };
    int32_t number = 0;
    for (const Case& c : cases) {
        mark_ = 0;
        Start(c.args);
        At(c.heading, "");
        At("  1: ", "Caf\xe9\r");
        At("  2: ", "\r");
        At(kMenu, "S");
        Finish("saved=" + std::to_string(++number));
        test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
        ASSERT_EQ(base.messages.size(), size_t(number));
        EXPECT_EQ(base.messages.back().text.Lines, (std::vector<std::string>{c.stored})) << c.heading;
    }
}

// A caller on a UTF-8 terminal types letters of his own: each is stored as
// its one PC byte and shown back as itself.  A character the PC set lacks
// and a broken sequence ring the bell and leave nothing in the message.
TEST_F(EditorSession, LettersTypedInUtf8AreStoredAsTheirPcBytes) {
    Start({"ansi", "high"}, true);
    At("  1: ", "caf\xC3\xA9 Z\xC3\xBCrich \xE2\x82\xAC\xC3(\r");
    At("  2: ", "\r");
    At(kMenu, "L");
    ASSERT_TRUE(Await("caf\xC3\xA9 Z\xC3\xBCrich (\n\r")) << session_->Output();
    EXPECT_NE(session_->Screen().find("  1: café Zürich ("), std::string::npos) << session_->Screen();
    const std::string& out = session_->Output();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\x07'), 2);
    At(kMenu, "S");
    Finish("saved=1");
    test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    EXPECT_EQ(base.messages[0].text.Lines, (std::vector<std::string>{"caf\x82 Z\x81rich ("}));
}

TEST_F(EditorSession, AliasOfTheArea) {
    board_.Set("MsgAreas[0].AskAlias", "1");
    struct Case {
        const char* typed;
        const char* from;
        bool refused;
    } cases[] = {
        {"blue fox", "Blue Fox", false},
        {"sam sysop", "Terry Tester", true},  // another user's name
    };
    int32_t number = 0;
    for (const Case& c : cases) {
        mark_ = 0;
        Start({});
        At("  1: ", "Hello\r");
        At("  2: ", "\r");
        At(kMenu, "S");
        At("Sign with an alias (Enter for your own name): ", std::string(c.typed) + "\r");
        if (c.refused) At("That name belongs to somebody else", "");
        Finish("saved=" + std::to_string(++number));
        test::MsgBaseContents base = test::ReadMsgBase(board_.MsgBaseDir());
        ASSERT_EQ(base.messages.size(), size_t(number));
        EXPECT_EQ(base.messages.back().header.FromName, c.from) << c.typed;
    }
}

}  // namespace
