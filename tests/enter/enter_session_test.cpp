// Entering messages as a caller does: kivo on a pseudo-terminal against a
// real kvhubd, logged in as a sample caller, through the menus to the
// enter-message command; the message base, the user record and what the
// server did with a mail request read back afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/menu_record.h"
#include "common/msg_records.h"
#include "common/msgbase.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/msgbase_reader.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr const char* kTerry = "terry tester";
constexpr const char* kSam = "sam sysop";

MenuRecord Line(uint8_t command, char key, const std::string& argument) {
    MenuRecord r;
    r.Command = command;
    r.HotKey = uint8_t(key);
    r.Text = std::string(1, key) + " - " + (command == 9 ? "log off" : argument.empty() ? "choose" : argument);
    r.Argument = argument;
    r.LineForeground = 7;
    return r;
}

class EnterMessageCall : public CallerTest {
protected:
    // A top menu that reaches the command with the arguments the tests
    // need (the sample tree is used by the first test).
    void WriteTestMenu() {
        MenuRecord prompt;
        prompt.Command = 10;
        prompt.Text = "Test menu: ";
        prompt.LineForeground = 14;
        std::vector<MenuRecord> records = {prompt,
                                           Line(27, 'A', "1"),
                                           Line(27, 'B', "2 /T=Sysop /L"),
                                           Line(27, 'C', "3"),
                                           Line(27, 'D', ""),
                                           Line(27, 'F', "4"),
                                           Line(9, 'G', "")};
        std::vector<uint8_t> bytes = EncodeMenuFile(records);
        board().WriteFile(board().config().MenuDir + "/top.mnu", std::string(bytes.begin(), bytes.end()));
    }

    // The mail sender the server runs for a send-now request: it keeps
    // the request file's lines.
    fs::path RecordingSender() {
        fs::path script = board().root() / "sender.sh", record = board().root() / "sent.rec";
        board().WriteFile(script, "#!/bin/sh\ncat \"$1\" >> '" + record.string() + "'\n");
        fs::permissions(script, fs::perms::owner_all);
        board().Set("SenderPath", script.string());
        return record;
    }

    std::unique_ptr<Caller> LogIn(const char* name, const char* password) {
        auto c = Dial();
        c->LogInAs(name, password);
        return c;
    }

    // From the menu key to the question about the heading: the recipient
    // (after its prompt) and the subject typed, the heading answered.
    static void Heading(Caller& c, const std::string& menuKey, const std::string& toPrompt,
                        const std::string& recipient, const std::string& subject, const std::string& change) {
        ASSERT_TRUE(c.Answer("Test menu: ", menuKey)) << c.Rest();
        ASSERT_TRUE(c.Answer(toPrompt, recipient + "\r")) << c.Rest();
        ASSERT_TRUE(c.Answer("Subject: ", subject + "\r")) << c.Rest();
        ASSERT_TRUE(c.Answer("Change the heading before writing?", change)) << c.Rest();
    }

    // Writes one line of text in the line editor and saves it.
    static void WriteText(Caller& c, const std::string& line) {
        ASSERT_TRUE(c.Answer("  1: ", line + "\r")) << c.Rest();
        ASSERT_TRUE(c.Answer("  2: ", "\r")) << c.Rest();
        ASSERT_TRUE(c.Answer("Command", "s")) << c.Rest();
    }

    std::string Outgoing() { return board().ReadFile(fs::path(board().config().MailDir) / "outgoing.bbs"); }
    // A message already in the base, so that the new one's header lies at
    // an offset of its own.
    void SeedMessage() {
        SetConfig(board().config());
        MsgText text{"Kivo v1.0", {"Earlier."}};
        MsgHeader h;
        BuildMessageHeader(h, "Sam Sysop", "Earlier", 0, 0, 0, false, std::nullopt, false, false, "Terry Tester");
        int32_t offset = 0;
        ASSERT_TRUE(AppendMessage(text, h, offset));
        SetConfig(ConfigRecord{});
    }
    // The status bits of line 0 in "online.ctl".
    uint8_t LineFlags() {
        std::string bytes = board().ReadFile(board().DataDir() / "online.ctl");
        if (bytes.size() < OnlineEntry::kSize) return 0;
        OnlineEntry e;
        DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data()), e);
        return e.Flags;
    }
    std::string ReadFileIfAny(const fs::path& p) { return fs::exists(p) ? board().ReadFile(p) : ""; }
};

// Through the sample menus: a message to a user in the caller's local
// area, the name looked up in the user list first.
TEST_F(EnterMessageCall, LocalMessageToAUser) {
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "m")) << c->Rest();
    ASSERT_TRUE(c->Answer("Messages in ", "e")) << c->Rest();
    ASSERT_TRUE(c->Expect("New message in LOCAL area General")) << c->Rest();
    ASSERT_TRUE(c->Expect("Terry Tester")) << c->Rest();
    ASSERT_TRUE(c->Expect("To: ")) << c->Rest();
    EXPECT_TRUE(LineFlags() & LINE_WRITING) << "while the message is entered";
    c->Send("nobody known\r");
    ASSERT_TRUE(c->Expect("There is no user of that name.")) << c->Rest();
    ASSERT_TRUE(c->Answer("To: ", "sam sysop\r"));
    ASSERT_TRUE(c->Answer("Subject: ", "Hello Sam\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Make the message private?", "n")) << c->Rest();
    ASSERT_TRUE(c->Answer("Change the heading before writing?", "n")) << c->Rest();
    WriteText(*c, "Just saying hello.");
    ASSERT_TRUE(c->Expect("Messages in ")) << c->Rest();
    EXPECT_FALSE(LineFlags() & LINE_WRITING) << "once it is stored";
    c->Send("q");
    ASSERT_TRUE(c->Answer("Your choice: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 1u);
    const StoredMessage& m = base.messages[0];
    EXPECT_EQ(m.recipient, "Sam Sysop");
    EXPECT_EQ(m.header.FromName, "Terry Tester");
    EXPECT_EQ(m.header.ToName, "Sam Sysop");
    EXPECT_EQ(m.header.Subject, "Hello Sam");
    EXPECT_EQ(m.header.MsgArea, 0);
    EXPECT_EQ(m.header.Status, MSG_LOCAL);
    EXPECT_EQ(m.header.MailFlags, 0);
    EXPECT_EQ(m.text.Lines, (std::vector<std::string>{"Just saying hello."}));
    EXPECT_EQ(User(1).MessagesPosted, 1);
    EXPECT_NE(CallerLog().find("Message #1 written in General"), std::string::npos) << CallerLog();
}

// A caller on a UTF-8 line writes accents in the sample's General area:
// stored as the PC set's letters, shown back as typed.  The Internet mail
// area takes plain ASCII only: there the letter rings the bell.
TEST_F(EnterMessageCall, AccentsOfAUtf8LineWhereTheAreaTakesThem) {
    StartBoard();
    auto c = Dial({}, {}, true);
    c->LogInAs(kTerry, "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "m")) << c->Rest();
    ASSERT_TRUE(c->Answer("Messages in ", "e")) << c->Rest();
    ASSERT_TRUE(c->Answer("To: ", "sam sysop\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Subject: ", "Caf\xC3\xA9 cr\xC3\xA8me\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Make the message private?", "n")) << c->Rest();
    ASSERT_TRUE(c->Answer("Change the heading before writing?", "n")) << c->Rest();
    ASSERT_TRUE(c->ExpectShown("Bits: 8")) << c->Rest();
    WriteText(*c, "Un caf\xC3\xA9 cr\xC3\xA8me, s'il vous pla\xC3\xAEt.");
    ASSERT_TRUE(c->Answer("Messages in ", "r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Reading mode", "o")) << c->Rest();
    ASSERT_TRUE(c->Answer("Message number", "1\r")) << c->Rest();
    ASSERT_TRUE(c->ExpectShown("Subject : Caf\xC3\xA9 cr\xC3\xA8me")) << c->Rest();
    ASSERT_TRUE(c->Expect("Un caf\xC3\xA9 cr\xC3\xA8me, s'il vous pla\xC3\xAEt.")) << c->Rest();
    ASSERT_TRUE(c->Answer("]ause? ", "s")) << c->Rest();

    // Two areas on: Internet mail.
    for (const char* area : {"General", "Private mail"}) {
        ASSERT_TRUE(c->ExpectShown(std::string("Messages in ") + area + ": ")) << c->Rest();
        c->Send("+");
    }
    ASSERT_TRUE(c->ExpectShown("Messages in Internet mail: ")) << c->Rest();
    c->Send("e");
    ASSERT_TRUE(c->Answer("Internet address: ", "sam@example.org\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Subject: ", "Caf\xC3\xA9!\r")) << c->Rest();
    ASSERT_TRUE(c->Expect("Caf\a!")) << c->Rest();
    ASSERT_TRUE(c->Answer("Change the heading before writing?", "n")) << c->Rest();
    ASSERT_TRUE(c->Answer("Delete the message once it is sent?", "n")) << c->Rest();
    ASSERT_TRUE(c->ExpectShown("Bits: 7")) << c->Rest();
    ASSERT_TRUE(c->Answer("  1: ", "\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Command", "a")) << c->Rest();
    ASSERT_TRUE(c->Answer("Abandon this message?", "y")) << c->Rest();
    ASSERT_TRUE(c->Answer("Messages in ", "q")) << c->Rest();
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    EXPECT_EQ(base.messages[0].header.Subject, "Caf\x82 cr\x8Ame");
    EXPECT_EQ(base.messages[0].text.Lines, (std::vector<std::string>{"Un caf\x82 cr\x8Ame, s'il vous pla\x8Ct."}));
}

// "Sysop" typed as the recipient is stored under the configured name; an
// area of PostingMode 0 makes every message private without asking.
TEST_F(EnterMessageCall, ToSysopIsPrivateByPostingModeZero) {
    WriteTestMenu();
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    ASSERT_TRUE(c->Answer("Test menu: ", "d")) << c->Rest();
    // The area list leaves out the restricted area for a caller.
    ASSERT_TRUE(c->Answer("Area number: ", "2")) << c->Rest();
    EXPECT_EQ(c->session().Output().find("Announcements"), std::string::npos);
    ASSERT_TRUE(c->Expect("New message in LOCAL area Private mail")) << c->Rest();
    ASSERT_TRUE(c->Answer("To: ", "sysop\r"));
    ASSERT_TRUE(c->Answer("Subject: ", "A word\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Change the heading before writing?", "n")) << c->Rest();
    WriteText(*c, "Only for you.");
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(c->Rest().find("Make the message private?"), std::string::npos);

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    EXPECT_EQ(base.messages[0].header.ToName, "Sam Sysop");
    EXPECT_EQ(base.messages[0].header.MsgArea, 1);
    EXPECT_EQ(base.messages[0].header.Status, MSG_LOCAL | MSG_PRIVATE);
}

// A message to all is public without a question; the heading's options
// change the recipient, after which privacy becomes a choice.
TEST_F(EnterMessageCall, OptionsChangeRecipientAndPrivacy) {
    WriteTestMenu();
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    Heading(*c, "a", "To: ", "all", "News", "y");
    ASSERT_TRUE(c->Answer("bandon", "r")) << c->Rest();
    ASSERT_TRUE(c->Answer("To: ", "sam sysop\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("ublic", "p")) << c->Rest();
    ASSERT_TRUE(c->Expect("the message is now private")) << c->Rest();
    ASSERT_TRUE(c->Answer("bandon", "c")) << c->Rest();
    WriteText(*c, "For your eyes.");
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(c->session().Output().find("Make the message private?"), std::string::npos);

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    EXPECT_EQ(base.messages[0].header.ToName, "Sam Sysop");
    EXPECT_EQ(base.messages[0].header.Status, MSG_LOCAL | MSG_PRIVATE);
}

// A fixed recipient "/T=Sysop" with "/L": the option loop changes the
// subject, and after the store the call ends with status 51.
TEST_F(EnterMessageCall, FixedRecipientThenLogOff) {
    WriteTestMenu();
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    ASSERT_TRUE(c->Answer("Test menu: ", "b")) << c->Rest();
    ASSERT_TRUE(c->Expect("To: ")) << c->Rest();
    ASSERT_TRUE(c->Expect("Sysop")) << c->Rest();
    ASSERT_TRUE(c->Answer("Subject: ", "First try\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Change the heading before writing?", "y")) << c->Rest();
    ASSERT_TRUE(c->Answer("bandon", "s")) << c->Rest();
    // The subject typed so far stands ready for editing.
    ASSERT_TRUE(c->Expect("First try")) << c->Rest();
    c->Send("\b\bried\r");
    ASSERT_TRUE(c->Answer("bandon", "c")) << c->Rest();
    WriteText(*c, "Logging off now.");
    EXPECT_EQ(c->Wait(), 51) << c->Rest();

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    EXPECT_EQ(base.messages[0].header.ToName, "Sam Sysop");
    EXPECT_EQ(base.messages[0].header.Subject, "First tried");
    EXPECT_EQ(base.messages[0].header.Status, MSG_LOCAL | MSG_PRIVATE);
    EXPECT_EQ(User(1).MessagesPosted, 1);
    EXPECT_NE(CallerLog().find("Logged off after entering a message"), std::string::npos) << CallerLog();
}

// A write level above the caller's refuses the area, and so does the
// restricted area, whose write level is the sysop's.
TEST_F(EnterMessageCall, RefusedByLevel) {
    WriteTestMenu();
    board().Set("MsgAreas[0].WriteLevel", "11");
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    ASSERT_TRUE(c->Answer("Test menu: ", "a")) << c->Rest();
    ASSERT_TRUE(c->Expect("You may not write in this area.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "f")) << c->Rest();
    ASSERT_TRUE(c->Expect("You may not write in this area.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(c->Rest().find("To: "), std::string::npos);
    EXPECT_EQ(ReadMsgBase(board().MsgBaseDir()).messages.size(), 0u);
    EXPECT_EQ(User(1).MessagesPosted, 0);
}

// In the UUCP area a message to an Internet address makes the server
// record a request: code 1 (the sender runs at once) at a level that may
// send now, code 2 (a line of "outgoing.bbs") below it.
struct MailCase {
    const char* what;
    int32_t level;        // Terry's level for the call
    bool askedSendNow;    // text 731 comes
    const char* answer;   // to text 731
    bool sentNow;
};
void PrintTo(const MailCase& m, std::ostream* os) { *os << m.what; }

class MailRequest : public EnterMessageCall, public ::testing::WithParamInterface<MailCase> {};

TEST_P(MailRequest, ReachesTheServer) {
    const MailCase& t = GetParam();
    WriteTestMenu();
    fs::path sent = RecordingSender();
    UserRecord terry = User(1);
    terry.SecurityLevel = t.level;
    PutUser(1, terry);
    SeedMessage();
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    Heading(*c, "c", "Internet address: ", "someone@example.org", "Out there", "n");
    EXPECT_NE(c->session().Output().find("New message in UUCP area Internet mail"), std::string::npos);
    ASSERT_TRUE(c->Answer("Delete the message once it is sent?", "y")) << c->Rest();
    if (t.askedSendNow) {
        ASSERT_TRUE(c->Answer("Send it at once?", t.answer)) << c->Rest();
    }
    WriteText(*c, "Hello from the board.");
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    if (!t.askedSendNow) {
        EXPECT_EQ(c->session().Output().find("Send it at once?"), std::string::npos);
    }

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 2u);
    const MsgHeader& h = base.messages[1].header;
    EXPECT_EQ(h.MsgNumber, 2);
    EXPECT_EQ(h.ToName, "someone@example.org");
    EXPECT_EQ(h.MsgArea, 2);
    EXPECT_EQ(h.MailFlags, MAIL_KILL_SENT | (t.sentNow ? MAIL_SEND_NOW : 0));
    std::string line = "Terry Tester|terry|" + std::to_string(h.MsgNumber) + "|" +
                       std::to_string(MsgHeader::kSize) + "\n";
    std::string logged = "Message #" + std::to_string(h.MsgNumber) + " from Terry Tester ";
    ASSERT_TRUE(WaitForLog(board(), logged + (t.sentNow ? "sent" : "queued"))) << ServerLog(board());
    EXPECT_EQ(ReadFileIfAny(sent), t.sentNow ? line : "");
    EXPECT_EQ(Outgoing(), t.sentNow ? "" : line);
    EXPECT_EQ(User(1).MessagesPosted, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, MailRequest,
    ::testing::Values(MailCase{"below SendNowLevel: queued without a question", 10, false, "", false},
                      MailCase{"between the levels, asked, yes", 500, true, "y", true},
                      MailCase{"between the levels, asked, no", 500, true, "n", false},
                      MailCase{"at AlwaysSendLevel: sent without a question", 1000, false, "", true}),
    [](const auto& info) {
        // "between the levels, asked, yes" is named BetweenTheLevelsAskedYes.
        std::string name;
        bool upper = true;
        for (const char* p = info.param.what; *p != '\0'; ++p) {
            bool alnum = std::isalnum(static_cast<unsigned char>(*p)) != 0;
            if (alnum) name += upper ? char(std::toupper(static_cast<unsigned char>(*p))) : *p;
            upper = !alnum;
        }
        return name;
    });

// Shell syntax in an address never gets past the question; nothing is
// stored and the server gets no request.
TEST_F(EnterMessageCall, AddressesWithShellSyntaxAreRefused) {
    WriteTestMenu();
    fs::path sent = RecordingSender();
    StartBoard();
    auto c = LogIn(kTerry, "keyboard");
    ASSERT_TRUE(c->Answer("Test menu: ", "c")) << c->Rest();
    for (const char* address : {"a;reboot@example.org", "$(id)@example.org", "@example.org"}) {
        ASSERT_TRUE(c->Answer("Internet address: ", std::string(address) + "\r")) << c->Rest();
        ASSERT_TRUE(c->Expect("Give an Internet address")) << address << c->Rest();
    }
    ASSERT_TRUE(c->Answer("Internet address: ", "\x1b")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(c->session().Output().find("Subject: "), std::string::npos);
    EXPECT_EQ(ReadMsgBase(board().MsgBaseDir()).messages.size(), 0u);
    EXPECT_EQ(ServerLog(board()).find("Message #"), std::string::npos) << ServerLog(board());
    EXPECT_FALSE(fs::exists(sent));
    EXPECT_EQ(Outgoing(), "");
    EXPECT_EQ(User(1).MessagesPosted, 0);
}

// The sysop attaches a file of the work directory: names that lead out of
// it are refused, the message holds the notice and the path, and the
// server sends it at once.
TEST_F(EnterMessageCall, SysopAttachesAFileOfTheWorkDirectory) {
    WriteTestMenu();
    fs::path sent = RecordingSender();
    fs::path work = board().config().WorkDir;
    board().WriteFile(work / "report.txt", "sixteen bytes!!\n");
    fs::create_directories(work / "sub");
    board().WriteFile(board().root() / "secret.txt", "x");
    StartBoard();
    auto c = LogIn(kSam, "lighthouse");
    Heading(*c, "c", "Internet address: ", "someone@example.org", "The report", "n");
    ASSERT_TRUE(c->Answer("Delete the message once it is sent?", "n")) << c->Rest();
    ASSERT_TRUE(c->Answer("Attach a file?", "y")) << c->Rest();
    for (const char* name : {"../secret.txt", "/etc/passwd", "sub/../../secret.txt"}) {
        ASSERT_TRUE(c->Answer("File name: ", std::string(name) + "\r")) << c->Rest();
        ASSERT_TRUE(c->Expect("not a path")) << name << c->Rest();
    }
    ASSERT_TRUE(c->Answer("File name: ", "missing.txt\r")) << c->Rest();
    ASSERT_TRUE(c->Expect("missing.txt: no such file.")) << c->Rest();
    ASSERT_TRUE(c->Answer("File name: ", "report.txt\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    const StoredMessage& m = base.messages[0];
    std::string path = fs::canonical(work / "report.txt").string();
    EXPECT_EQ(m.header.FromName, "Sam Sysop");
    EXPECT_EQ(m.header.Subject, path);
    EXPECT_EQ(m.header.MailFlags, MAIL_FILE_ATTACHED | MAIL_SEND_NOW);
    EXPECT_EQ(m.text.Lines, (std::vector<std::string>{path + " (16 bytes)"}));
    std::string number = std::to_string(m.header.MsgNumber);
    ASSERT_TRUE(WaitForLog(board(), "Message #" + number + " from Sam Sysop sent")) << ServerLog(board());
    EXPECT_EQ(ReadFileIfAny(sent), "Sam Sysop|sysop|" + number + "|0\n");
}

}  // namespace
}  // namespace kv::test
