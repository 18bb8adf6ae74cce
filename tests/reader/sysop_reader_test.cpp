// The reader's "*", "=" and "F" keys on a line: a message printed through
// a recording program and saved into the save directory, the author's
// record edited, the header edited and moved, with the files read back.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/msgbase.h"
#include "common/users.h"
#include "tests/reader/reader_fixture.h"
#include "tests/support/msgbase_reader.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// Message #1 to Terry and #2 from Terry in General, #3 in Private mail.
std::vector<TestMessage> SysopBase() {
    std::vector<TestMessage> m(3);
    m[0].number = 1, m[0].to = "Terry Tester", m[0].subject = "Hi Terry", m[0].lines = {"Hello Terry,", "", "Bye."};
    m[0].timesRead = 3;
    m[1].number = 2, m[1].from = "Terry Tester", m[1].subject = "From Terry";
    m[2].number = 3, m[2].area = 1;
    return m;
}

class SysopReader : public ReaderSession {
protected:
    void SetUp() override {
        ReaderSession::SetUp();
        WriteBase(SysopBase());
    }
    // Reads message number in area 0 prompted and waits for the prompt; a
    // long screen, so that no page pause comes between the commands.
    void ReadOne(int user, const std::string& number) {
        Start(user, {"read=/M"}, {"options=0", "screen=250"});
        ASSERT_TRUE(Next("Reading mode", "O"));
        ASSERT_TRUE(Next("Message number", number + "\r"));
        ASSERT_TRUE(Next("ause?"));
    }
    void StopReading() {
        session->Send("s");
        EXPECT_TRUE(Next("done"));
        EXPECT_EQ(session->Wait(), 0);
    }
    std::string ReaderLog() const { return board.ReadFile(board.DataDir() / "reader.log"); }
    fs::path SaveDir() const { return fs::path(board.config().WorkDir) / "saved"; }
    // A printer that records what it is given, or fails.
    std::string Printer(const std::string& body) {
        fs::path script = board.root() / "printer.sh";
        board.WriteFile(script, "#!/bin/sh\n" + body + "\n");
        fs::permissions(script, fs::perms::owner_all);
        return script.string();
    }
};

// Message #1 as the sysop prints it.
const std::string kPrinted =
    "Message #1 in General - Local \n"
    "Date   : 03/04/24 10:20:30  (read 3 times)\n"
    "From   : Sam Sysop\n"
    "To     : Terry Tester\n"
    "Subject: Hi Terry\n" +
    std::string(80, '-') + "\n" +
    "PID: Kivo v1.0\n"
    "Hello Terry,\n"
    "\n"
    "Bye.\n"
    "\n";

TEST_F(SysopReader, PrintsThroughTheSpoolerAndSavesIntoTheSaveDirectory) {
    const fs::path printed = board.root() / "printed";
    env = {"KV_TEST_PRINTER=" + Printer("cat > '" + printed.string() + "'")};
    ReadOne(kSam, "1");
    session->Send("*");
    ASSERT_TRUE(Next("or [Q]uit message #1", "p"));
    ASSERT_TRUE(Next("rint"));
    // Saved under the offered name, then appended to it.
    for (const char* choice : {"", "a"}) {
        ASSERT_TRUE(Next("ause?", "*"));
        ASSERT_TRUE(Next("or [Q]uit message #1", "s"));
        ASSERT_TRUE(Next("File name: ", "\r"));
        if (*choice) {
            ASSERT_TRUE(Next("[A]ppend or [Q]uit", choice));
        }
    }
    // Names that are not one plain file name are asked again.
    ASSERT_TRUE(Next("ause?", "*"));
    ASSERT_TRUE(Next("or [Q]uit message #1", "s"));
    const std::string erase(4, '\b');
    for (const char* name : {"../x", "a/b", ".x", "-rf"}) {
        ASSERT_TRUE(Next("File name: ", erase + name + "\r"));
        ASSERT_TRUE(Next("Give one file name"));
    }
    ASSERT_TRUE(Next("File name: ", erase + "\r"));
    ASSERT_TRUE(Next("ause?"));
    StopReading();

    EXPECT_EQ(board.ReadFile(printed), kPrinted);
    EXPECT_EQ(board.ReadFile(SaveDir() / "m1a0"), kPrinted + kPrinted);
    std::vector<std::string> saved;
    for (const auto& e : fs::directory_iterator(SaveDir())) saved.push_back(e.path().filename().string());
    EXPECT_EQ(saved, (std::vector<std::string>{"m1a0"}));
    EXPECT_FALSE(fs::exists(board.root() / "x"));
    EXPECT_FALSE(fs::exists(fs::path(board.config().WorkDir) / "x"));
}

// A name of the full fourteen places, asked again (refused, or taken and
// a new one wanted), is offered one place shorter: a full input would end
// by itself, refused without end or taken without end.
TEST_F(SysopReader, AFullLengthSaveNameAskedAgainCanBeEdited) {
    board.WriteFile(SaveDir() / "abcdefghijklmn", "kept\n");
    ReadOne(kSam, "1");
    session->Send("*");
    ASSERT_TRUE(Next("or [Q]uit message #1", "s"));
    const std::string erase(4, '\b');
    ASSERT_TRUE(Next("File name: ", erase + "-bcdefghijklmn"));
    ASSERT_TRUE(Next("Give one file name"));
    ASSERT_TRUE(Next("File name: -bcdefghijklm", std::string(13, '\b') + "abcdefghijklmn"));
    ASSERT_TRUE(Next("[A]ppend or [Q]uit", "n"));
    ASSERT_TRUE(Next("File name: abcdefghijklm", "x"));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    EXPECT_EQ(board.ReadFile(SaveDir() / "abcdefghijklmx"), kPrinted);
    EXPECT_EQ(board.ReadFile(SaveDir() / "abcdefghijklmn"), "kept\n");
}

TEST_F(SysopReader, APrinterThatFailsIsReportedAndTheReadingGoesOn) {
    for (const std::string& printer : {Printer("exit 3"), (board.root() / "no-such-printer").string()}) {
        env = {"KV_TEST_PRINTER=" + printer};
        ReadOne(kSam, "1");
        session->Send("*");
        ASSERT_TRUE(Next("or [Q]uit message #1", "p"));
        ASSERT_TRUE(Next("The printer could not be reached."));
        ASSERT_TRUE(Next("ause?"));
        StopReading();
        EXPECT_NE(ReaderLog().find("Message #1 not printed"), std::string::npos) << printer;
    }
}

TEST_F(SysopReader, TheAuthorsLocationAndLevelAreWrittenBack) {
    ReadOne(kSam, "2");
    session->Send("=");
    ASSERT_TRUE(Next("Terry Tester"));
    ASSERT_TRUE(Next("done: ", "1"));
    ASSERT_TRUE(Next("Internet address: ", std::string(9, '\b') + "bigtown\r"));
    ASSERT_TRUE(Next("done: ", "2"));
    ASSERT_TRUE(Next("Security: ", std::string(5, '\b') + "00020\r"));
    ASSERT_TRUE(Next("done: ", " "));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    UserRecord terry;
    ASSERT_TRUE(ReadUserRecord(kTerry, terry));
    EXPECT_EQ(terry.Location, "Bigtown");
    EXPECT_EQ(terry.SecurityLevel, 20);
    EXPECT_EQ(terry.Password, "Keyboard");  // the rest as it was
}

// The sysop on a UTF-8 terminal types the author's location in his own
// letters: "users.bbs" gets their PC bytes, and the record shows them back.
TEST_F(SysopReader, ALocationTypedInUtf8IsStoredInThePcSet) {
    utf8 = true;
    Start(kSam, {"read=/M"}, {"ansi", "options=0", "screen=250"});
    ASSERT_TRUE(Next("Reading mode", "O"));
    ASSERT_TRUE(Next("Message number", "2\r"));
    ASSERT_TRUE(Next("ause?", "="));
    ASSERT_TRUE(Next("done: ", "1"));
    ASSERT_TRUE(Next("Internet address: ", std::string(9, '\b') + "z\xC3\xBCrich\r"));
    ASSERT_TRUE(Next("done: ", " "));
    ASSERT_TRUE(Next("ause?", "="));
    ASSERT_TRUE(Next("Z\xC3\xBCrich"));
    EXPECT_NE(session->Screen().find("Terry Tester"), std::string::npos);
    EXPECT_NE(session->Screen().find("Zürich"), std::string::npos) << session->Screen();
    ASSERT_TRUE(Next("done: ", " "));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    UserRecord terry;
    ASSERT_TRUE(ReadUserRecord(kTerry, terry));
    EXPECT_EQ(terry.Location, "Z\x81rich");
}

TEST_F(SysopReader, AnAreaSysopCannotGiveALevelAboveHisOwn) {
    board.Set("MsgAreas[0].AreaSysopLevel", "10");
    ReadOne(kUrsula, "2");
    session->Send("=");
    ASSERT_TRUE(Next("done: ", "2"));
    ASSERT_TRUE(Next("Security: ", std::string(5, '\b') + "64000\r"));
    ASSERT_TRUE(Next("You cannot give a level above your own."));
    ASSERT_TRUE(Next("done: ", " "));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    UserRecord terry;
    ASSERT_TRUE(ReadUserRecord(kTerry, terry));
    EXPECT_EQ(terry.SecurityLevel, 10);
}

TEST_F(SysopReader, TheHeaderEditorMovesAndSavesOnlyOnX) {
    // Quit after choosing another area: nothing changes.
    ReadOne(kSam, "1");
    session->Send("f");
    ASSERT_TRUE(Next("Choice: ", "1"));
    ASSERT_TRUE(Next("Area number: ", "2"));
    ASSERT_TRUE(Next("Choice: ", "q"));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    MsgBaseContents before = ReadMsgBase(board.MsgBaseDir());
    EXPECT_EQ(before.messages[0].index.MsgArea, 0);
    EXPECT_EQ(before.info->AreaCounts[0], 2);

    // A new recipient and area, saved.
    ReadOne(kSam, "1");
    session->Send("f");
    ASSERT_TRUE(Next("Choice: ", "3"));
    ASSERT_TRUE(Next("New recipient: ", "ursula user\r"));
    ASSERT_TRUE(Next("Choice: ", "1"));
    ASSERT_TRUE(Next("Area number: ", "2"));
    ASSERT_TRUE(Next("Choice: ", "6"));
    ASSERT_TRUE(Next("Times read: ", "\b-5\r"));
    ASSERT_TRUE(Next("Choice: ", "x"));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    MsgBaseContents after = ReadMsgBase(board.MsgBaseDir());
    ASSERT_TRUE(after.InStep()) << after.Problem();
    const StoredMessage& one = after.messages[0];
    EXPECT_EQ(one.index.MsgArea, 1);
    EXPECT_EQ(one.header.MsgArea, 1);
    EXPECT_EQ(one.header.ToName, "Ursula User");  // capitalised in a local area
    EXPECT_EQ(one.recipient, "Ursula User");       // her mail check finds it
    EXPECT_EQ(one.header.TimesRead, 1);  // -5 made 0, then shown once more
    EXPECT_EQ(after.info->AreaCounts[0], 1);
    EXPECT_EQ(after.info->AreaCounts[1], 2);
    EXPECT_EQ(after.info->TotalMessages, 3);
}

// A read count that fills the input's five places can still be edited:
// the input does not end by itself before a key.
TEST_F(SysopReader, AFiveDigitReadCountCanBeEdited) {
    std::vector<TestMessage> m = SysopBase();
    m[0].timesRead = 12345;
    WriteBase(m);
    ReadOne(kSam, "1");
    session->Send("f");
    ASSERT_TRUE(Next("Choice: ", "6"));
    ASSERT_TRUE(Next("Times read: 12345", std::string(5, '\b') + "7\r"));
    ASSERT_TRUE(Next("Choice: ", "x"));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    EXPECT_EQ(ReadMsgBase(board.MsgBaseDir()).messages[0].header.TimesRead, 8);  // then shown once more
}

// Mail stored before the gateway blanked control bytes: the editor's menu
// shows its names and subject with blanks, and changes nothing unasked;
// the author edit names the sender the same way.
TEST_F(SysopReader, TheHeaderEditorShowsStoredControlBytesAsBlanks) {
    std::vector<TestMessage> m = SysopBase();
    m[0].from = "Ev\x1b]0;owned\x07" "e", m[0].to = "A\x1b[2Jll", m[0].subject = "Hi\x1b[5n\x7f!";
    WriteBase(m);
    ReadOne(kSam, "1");
    session->Send("f");
    ASSERT_TRUE(Next("Choice: ", "q"));
    ASSERT_TRUE(Next("ause?", "="));
    ASSERT_TRUE(Next("Ev ]0;owned e has no user record here."));
    ASSERT_TRUE(Next("ause?"));
    StopReading();
    const std::string& out = session->Output();
    for (const char* shown : {"Ev ]0;owned e", "A [2Jll", "Hi [5n !"}) EXPECT_NE(out.find(shown), std::string::npos) << shown;
    for (const char* sequence : {"\x1b]0;owned", "\x1b[2J", "\x1b[5n", "\x07", "\x7f"})
        EXPECT_EQ(out.find(sequence), std::string::npos) << "sequence " << sequence + 1;
    EXPECT_EQ(ReadMsgBase(board.MsgBaseDir()).messages[0].header.Subject, "Hi\x1b[5n\x7f!");
}

TEST_F(SysopReader, TheDeletedFlagSetInTheEditorDeletesTheMessage) {
    ReadOne(kSam, "2");
    session->Send("f");
    ASSERT_TRUE(Next("Choice: ", "5"));
    ASSERT_TRUE(Next("Choice: ", "1"));
    ASSERT_TRUE(Next("Choice: ", "1"));  // twice: as it was
    ASSERT_TRUE(Next("Choice: ", "1"));
    ASSERT_TRUE(Next("Choice: ", "\r"));
    ASSERT_TRUE(Next("Choice: ", "x"));
    // Nothing follows #2 in General.
    ASSERT_TRUE(Next("No more messages."));
    EXPECT_TRUE(Next("done"));
    EXPECT_EQ(session->Wait(), 0);
    MsgBaseContents base = ReadMsgBase(board.MsgBaseDir());
    const StoredMessage& two = base.messages[1];
    EXPECT_EQ(two.index.MsgNumber, -2);
    EXPECT_TRUE(two.header.Status & MSG_DELETED);
    EXPECT_EQ(two.recipient, "Deleted");
    EXPECT_EQ(base.info->TotalMessages, 2);
    EXPECT_EQ(base.info->AreaCounts[0], 1);
}

}  // namespace
}  // namespace kv::test
