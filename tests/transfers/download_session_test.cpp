// Downloads as a caller makes them: kivo on a pseudo-terminal against a
// real kvhubd, the protocol program started by kivo on the line and its
// partner at the far end of it; the files received, the user record and
// the activity log read back afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/dates.h"
#include "common/menu_record.h"
#include "common/runtime.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr const char* kTerry = "terry tester";

MenuRecord Line(uint8_t command, char key, const std::string& argument) {
    MenuRecord r;
    r.Command = command;
    r.HotKey = uint8_t(key);
    r.Text = std::string(1, key) + " - " + (command == 9 ? "log off" : "download");
    r.Argument = argument;
    r.LineForeground = 7;
    return r;
}

class DownloadCall : public CallerTest {
protected:
    void SetUp() override {
        CallerTest::SetUp();
        area_ = board().config().FileAreas[0].AreaDir;
        fs::create_directories(area_);
        MenuRecord prompt;
        prompt.Command = 10;
        prompt.Text = "Test menu: ";
        prompt.LineForeground = 14;
        std::vector<uint8_t> bytes =
            EncodeMenuFile({prompt, Line(32, 'D', "$F1"), Line(48, 'L', area_.string() + "/*.dat /ratio=no"),
                            Line(9, 'G', "")});
        board().WriteFile(board().config().MenuDir + "/top.mnu", std::string(bytes.begin(), bytes.end()));
    }

    // A file of the area with bytes that a text-mode line would spoil.
    std::string PutFile(const std::string& name, size_t size) {
        std::mt19937 gen{static_cast<std::mt19937::result_type>(size)};
        std::string body;
        for (size_t i = 0; i < size; ++i) body += char(gen() & 0xFF);
        board().WriteFile(area_ / name, body);
        return body;
    }

    // Terry has uploaded enough that the ratios let downloads through.
    void GiveTerryUploads() {
        UserRecord u = User(1);
        u.UploadedFiles = 10;
        u.UploadedKb = 1000;
        PutUser(1, u);
    }

    // A protocol whose program is a script of the test: it writes its
    // arguments, one a line, to args.txt, a log naming the first two as
    // sent, and fails.
    void StandInProtocol() {
        fs::path script = board().root() / "fake.sh";
        board().WriteFile(script, "#!/bin/sh\n"
                                  "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                                      (board().root() / "args.txt").string() +
                                      "'; done\n"
                                      "printf 'Sent: %s\\nSent: %s\\n' \"$1\" \"$2\" > fake.log\n"
                                      "exit 1\n");
        fs::permissions(script, fs::perms::owner_all);
        board().Set("Protocols[3].ProtocolDefined", "1");
        board().Set("Protocols[3].ProtocolName", "Fake");
        board().Set("Protocols[3].ProgramPath", script.string());
        board().Set("Protocols[3].KeyLetter", "70");  // F
        board().Set("Protocols[3].Batch", "1");
        board().Set("Protocols[3].LogFile", "fake.log");
        board().Set("Protocols[3].DownloadKeyword", "Sent:");
        board().Set("Protocols[3].DownloadNameOffset", "1");
    }

    std::unique_ptr<Caller> LogIn() {
        auto c = Dial();
        c->LogInAs(kTerry, "keyboard");
        return c;
    }

    // From the menu to the send question: the protocol key and the names.
    static void Request(Caller& c, const std::string& protocolKey, const std::string& names) {
        ASSERT_TRUE(c.Answer("Test menu: ", "d")) << c.Rest();
        ASSERT_TRUE(c.Answer("(letter, ? or Q): ", protocolKey)) << c.Rest();
        ASSERT_TRUE(c.Answer("File names (up to 10): ", names + "\r")) << c.Rest();
    }

    fs::path area_;
};

// The real thing: lrzsz's sz started by kivo sends two files, one with
// shell characters, a blank and a '*' in its name, and rz at the far end
// receives them byte for byte; the caller chose to be logged off after it.
TEST_F(DownloadCall, ZmodemBatchOverTheLineThenLogOff) {
    std::string first = PutFile("first.bin", 5000);
    std::string odd = PutFile("it's $(a) *.dat", 3000);
    GiveTerryUploads();
    StartBoard();
    auto c = LogIn();
    Request(*c, "z", "first.bin it's*");
    ASSERT_TRUE(c->Expect("first.bin")) << c->Rest();
    ASSERT_TRUE(c->Answer("(S)end, send and (L)og off, (C)ancel", "l")) << c->Rest();
    ASSERT_TRUE(c->Expect("Start your transfer now.")) << c->Rest();

    fs::path received = board().root() / "received";
    fs::create_directories(received);
    EXPECT_EQ(c->session().RunAtFarEnd({"rz", "-b", "-q", "-y"}, received, 20000, board().root() / "rz.err"), 0)
        << board().ReadFile(board().root() / "rz.err");
    // The far end may still read what follows the transfer: no text of it
    // is looked for, the exit status and the log tell how it ended.
    EXPECT_EQ(c->Wait(), 51) << c->Rest();

    EXPECT_EQ(board().ReadFile(received / "first.bin"), first);
    EXPECT_EQ(board().ReadFile(received / "it's $(a) *.dat"), odd);
    UserRecord u = User(1);
    EXPECT_EQ(u.DownloadedFiles, 2u);
    EXPECT_EQ(u.DownloadedKb, 7u);  // 8000 bytes
    EXPECT_EQ(u.TodayKb, 7u);
    std::string log = CallerLog();
    EXPECT_NE(log.find("Zmodem sent " + (area_ / "it's $(a) *.dat").string()), std::string::npos) << log;
    EXPECT_NE(log.find("Transferred 2 files, 8000 bytes"), std::string::npos) << log;
    EXPECT_NE(log.find("Logged off after a download"), std::string::npos) << log;
}

// A failed batch: the protocol's log names two of three files, so the
// first counts as sent and the second as broken off.  The names reached
// the program exactly, each one argument.
TEST_F(DownloadCall, FailedBatchCountsWhatTheLogNamesSent) {
    PutFile("a.dat", 4096);
    PutFile("b.dat", 2048);
    PutFile("c;rm -rf x $(touch y) `z`.dat", 100);
    GiveTerryUploads();
    StandInProtocol();
    StartBoard();
    auto c = LogIn();
    Request(*c, "f", "*.dat");
    ASSERT_TRUE(c->Answer("(S)end, send and (L)og off, (C)ancel", "s")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    std::string a = area_.string();
    EXPECT_EQ(board().ReadFile(board().root() / "args.txt"),
              a + "/a.dat\n" + a + "/b.dat\n" + a + "/c;rm -rf x $(touch y) `z`.dat\n");
    UserRecord u = User(1);
    EXPECT_EQ(u.DownloadedFiles, 1u);
    EXPECT_EQ(u.DownloadedKb, 4u);
    std::string log = CallerLog();
    EXPECT_NE(log.find("Transferred 1 files, 4096 bytes"), std::string::npos) << log;
    EXPECT_NE(log.find("The transfer failed."), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(board().config().WorkDir + "/kvcarry0/fake.log"));
}

// Command 48 with "/ratio=no": a caller whose ratios would refuse gets the
// files of the menu's pattern.
TEST_F(DownloadCall, ListedFilesWithoutRatios) {
    PutFile("one.dat", 1500);
    PutFile("two.dat", 2500);
    StandInProtocol();
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "l")) << c->Rest();
    ASSERT_TRUE(c->Expect("one.dat")) << c->Rest();
    ASSERT_TRUE(c->Expect("2 files, 4000 bytes")) << c->Rest();
    ASSERT_TRUE(c->Answer("Send them?", "y")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press any key", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
    ASSERT_TRUE(c->session().WaitForText("Files: 2")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    std::string a = area_.string();
    EXPECT_EQ(board().ReadFile(board().root() / "args.txt"), a + "/one.dat\n" + a + "/two.dat\n");
}

// The refusals before a download, each with what the caller sees.
struct Refusal {
    const char* name;
    void (*setUp)(DownloadCall&);
    bool asksFiles;  // refused after the names are asked
    const char* text;
};

class DownloadRefusals : public DownloadCall, public ::testing::WithParamInterface<Refusal> {};

std::string HourText(int hour) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:00", hour % 24);
    return buf;
}

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

const Refusal kRefusals[] = {
    {"LineSpeed",
     [](DownloadCall& t) {
         t.board().Set("MinDownloadSpeed", "2");
         t.lineSpeed = B1200;
     },
     false, "Downloads need 2400 bps."},
    {"DownloadHours",
     [](DownloadCall& t) {
         int hour = LocalNow().tm_hour;
         t.board().Set("DownloadHours.Start", HourText(hour + 2));
         t.board().Set("DownloadHours.End", HourText(hour + 3));
     },
     false, "Downloads only from "},
    {"DailyLimit",
     [](DownloadCall& t) {
         UserRecord u = t.User(1);
         u.UploadedKb = 1000;
         u.UploadedFiles = 10;
         u.TodayKb = 299;  // of 300 a day at this speed
         u.LastCallDate = t.Today();
         t.PutUser(1, u);
     },
     true, "Your daily limit is 300 KB."},
    {"TimeLeft",
     [](DownloadCall& t) {
         t.board().WriteFile(t.board().DataDir() / "limits.ctl", "10 60 5000 5000 5000 5000 5000 800 5 10\n");
         UserRecord u = t.User(1);
         u.UploadedKb = 1000;
         u.UploadedFiles = 10;
         u.MinutesToday = 50;  // 10 minutes left, 20 needed at 2400 bps
         u.LastCallDate = t.Today();
         t.PutUser(1, u);
         t.lineSpeed = B2400;
     },
     true, "Only 10 minutes left."},
    {"ByteRatio", [](DownloadCall&) {}, true, "Byte ratio 1:10 reached."},
    {"FileRatio",
     [](DownloadCall& t) {
         t.board().WriteFile(t.board().DataDir() / "limits.ctl", "10 60 50 100 150 200 300 800 5 0\n"
                                                                  "64000 480 1000 2000 3000 4000 5000 800 0 0\n");
     },
     true, "File ratio 0:5 reached."},
};

TEST_P(DownloadRefusals, IsToldAndNothingRuns) {
    const Refusal& r = GetParam();
    PutFile("big.dat", 250 * 1024);
    StandInProtocol();
    r.setUp(*this);
    StartBoard();
    auto c = LogIn();
    if (r.asksFiles) {
        Request(*c, "f", "big.dat");
        ASSERT_TRUE(c->Answer("(S)end, send and (L)og off, (C)ancel", "s")) << c->Rest();
    } else {
        ASSERT_TRUE(c->Answer("Test menu: ", "d")) << c->Rest();
    }
    EXPECT_TRUE(c->Expect(r.text)) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_FALSE(fs::exists(board().root() / "args.txt"));
    EXPECT_EQ(User(1).DownloadedFiles, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadRefusals, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kv::test
