// Downloads and uploads as a caller makes them: kivo on a pseudo-terminal
// against a real kvhubd, the protocol program started by kivo on the line
// and its partner at the far end of it; the files received, the file
// list, the user record and the activity log read back afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/dates.h"
#include "common/menu_record.h"
#include "common/runtime.h"
#include "tests/support/caller_fixture.h"
#include "tests/transfers/far_end.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr const char* kTerry = "terry tester";

MenuRecord Line(uint8_t command, char key, const std::string& argument) {
    MenuRecord r;
    r.Command = command;
    r.HotKey = uint8_t(key);
    r.Text = std::string(1, key) + " - " + (command == 9 ? "log off" : "transfer");
    r.Argument = argument;
    r.LineForeground = 7;
    return r;
}

// rz at the far end of the call's line takes what kivo sends into
// "received" below the board.
fs::path ReceiveAtFarEnd(Caller& c, const TempBoard& b) {
    fs::path received = b.root() / "received";
    fs::create_directories(received);
    EXPECT_EQ(c.session().RunAtFarEnd({"rz", "-b", "-q", "-y"}, received, 20000, b.root() / "rz.err"), 0)
        << b.ReadFile(b.root() / "rz.err");
    return received;
}

class TransferCall : public CallerTest {
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
                            Line(33, 'U', "$F1"), Line(9, 'G', "")});
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

    // A protocol whose program is a script of the test.  By default it
    // writes its arguments, one a line, to args.txt, a log naming the first
    // two as sent, and fails.
    void StandInProtocol(const std::string& body = "") {
        fs::path script = board().root() / "fake.sh";
        board().WriteFile(script, "#!/bin/sh\n" +
                                      (!body.empty() ? body
                                                     : "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                                                           (board().root() / "args.txt").string() +
                                                           "'; done\n"
                                                           "printf 'Sent: %s\\nSent: %s\\n' \"$1\" \"$2\" > fake.log\n"
                                                           "exit 1\n"));
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

    // The board started, Terry logged in, the upload command and the
    // protocol of protocolKey chosen.
    std::unique_ptr<Caller> StartUpload(const std::string& protocolKey) {
        StartBoard();
        auto c = LogIn();
        EXPECT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
        EXPECT_TRUE(c->Answer("(letter, ? or Q): ", protocolKey)) << c->Rest();
        return c;
    }

    // From the menu to the send question: the protocol key and the names.
    static void Request(Caller& c, const std::string& protocolKey, const std::string& names) {
        ASSERT_TRUE(c.Answer("Test menu: ", "d")) << c.Rest();
        ASSERT_TRUE(c.Answer("(letter, ? or Q): ", protocolKey)) << c.Rest();
        ASSERT_TRUE(c.Answer("File names (up to 10): ", names + "\r")) << c.Rest();
    }

    // What the board keeps of an upload is data: no file in the area or
    // in the work and abort directories has an execute, set-id or sticky
    // bit, nothing there is a link, and the receiving directories are
    // closed to other users.
    void ExpectOnlyPlainData() {
        fs::path work = board().config().WorkDir;
        for (const fs::path& dir : {area_, work}) {
            for (const auto& e : fs::recursive_directory_iterator(dir)) {
                struct stat st {};
                ASSERT_EQ(lstat(e.path().c_str(), &st), 0) << e.path();
                EXPECT_FALSE(S_ISLNK(st.st_mode)) << e.path();
                if (S_ISREG(st.st_mode)) {
                    EXPECT_EQ(st.st_mode & (S_ISUID | S_ISGID | S_ISVTX | 0111), 0u) << e.path();
                }
            }
        }
        for (const char* name : {"kvcarry0", "abort"}) {
            struct stat st {};
            ASSERT_EQ(stat((work / name).c_str(), &st), 0) << name;
            EXPECT_EQ(st.st_mode & S_IRWXO, 0u) << name;
        }
    }

    // A program that a caller sends, with the mode a set-user program of
    // the system has.
    fs::path PutSetUserProgram(const fs::path& path) {
        board().WriteFile(path, "#!/bin/sh\nid\n");
        fs::permissions(path, fs::perms(06777));
        return path;
    }

    fs::path area_;
};

// The real thing: lrzsz's sz started by kivo sends two files, one with
// shell characters, a blank and a '*' in its name, and rz at the far end
// receives them byte for byte; the caller chose to be logged off after it.
TEST_F(TransferCall, ZmodemBatchOverTheLineThenLogOff) {
    std::string first = PutFile("first.bin", 5000);
    std::string odd = PutFile("it's $(a) *.dat", 3000);
    GiveTerryUploads();
    StartBoard();
    auto c = LogIn();
    Request(*c, "z", "first.bin it's*");
    ASSERT_TRUE(c->Expect("first.bin")) << c->Rest();
    ASSERT_TRUE(c->Answer("(S)end, send and (L)og off, (C)ancel", "l")) << c->Rest();
    ASSERT_TRUE(c->Expect("Start your transfer now.")) << c->Rest();

    fs::path received = ReceiveAtFarEnd(*c, board());
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
TEST_F(TransferCall, FailedBatchCountsWhatTheLogNamesSent) {
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
TEST_F(TransferCall, ListedFilesWithoutRatios) {
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
    ASSERT_TRUE(c->ExpectShown("Files: 2  Bytes: 4000")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    std::string a = area_.string();
    EXPECT_EQ(board().ReadFile(board().root() / "args.txt"), a + "/one.dat\n" + a + "/two.dat\n");
}

// A directory that is no file area, named by the menu (command 32) or typed
// as a path (command 55), is no open area: the ratios refuse a caller who
// has uploaded nothing, and a download counts into the caller's totals.
TEST_F(TransferCall, APlainDirectoryCountsAsAClosedArea) {
    const fs::path plain = board().root() / "plain";
    fs::create_directories(plain);
    board().WriteFile(plain / "nine.bin", std::string(9000, 'x'));
    StandInProtocol("exit 0\n");
    MenuRecord prompt;
    prompt.Command = 10;
    prompt.Text = "Test menu: ";
    std::vector<uint8_t> menu = EncodeMenuFile({prompt, Line(32, 'P', plain.string()), Line(55, 'Y', ""), Line(9, 'G', "")});
    board().WriteFile(board().config().MenuDir + "/top.mnu", std::string(menu.begin(), menu.end()));
    StartBoard();
    struct Case {
        const char* what;
        std::string key;
        std::vector<std::pair<std::string, std::string>> prompts;  // after the protocol
    } cases[] = {
        {"command 32", "p", {{"File names (up to 10): ", "nine.bin\r"}, {"(S)end, send and (L)og off, (C)ancel", "s"}}},
        {"command 55", "y", {{"Path of the file: ", (plain / "nine.bin").string() + "\r"}}},
    };
    for (const Case& k : cases) {
        for (bool uploaded : {false, true}) {
            SCOPED_TRACE(std::string(k.what) + (uploaded ? ", uploads enough" : ", no uploads"));
            UserRecord before = User(1);
            before.UploadedFiles = uploaded ? 10 : 0;
            before.UploadedKb = uploaded ? 1000 : 0;
            before.DownloadedFiles = 1;
            before.DownloadedKb = 4;
            PutUser(1, before);
            auto c = LogIn();
            ASSERT_TRUE(c->Answer("Test menu: ", k.key)) << c->Rest();
            ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
            for (const auto& [prompt, keys] : k.prompts) ASSERT_TRUE(c->Answer(prompt, keys)) << c->Rest();
            if (!uploaded) {
                EXPECT_TRUE(c->Expect("Byte ratio 1:10 reached.")) << c->Rest();
            }
            ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
            EXPECT_EQ(c->Wait(), 1) << c->Rest();
            UserRecord after = User(1);
            EXPECT_EQ(after.DownloadedFiles, uploaded ? 2u : 1u);
            EXPECT_EQ(after.DownloadedKb, uploaded ? 12u : 4u);  // 9000 bytes are 8 KB
        }
    }
}

// What the README tells a new caller, on the sample board's own menus and
// limits: with nothing uploaded, a file of Utilities is refused by the
// file ratio, and one of Documents, an open area, comes at once and counts
// against no ratio.
class SampleDownloads : public CallerTest {};

TEST_F(SampleDownloads, ANewCallerTakesAFileOfTheOpenAreaFirst) {
    StartBoard();
    auto c = Dial();
    c->LogInAs(kTerry, "keyboard");
    auto toArea = [&](const std::string& area, const std::string& key) {
        ASSERT_TRUE(c->ExpectShown("Files in " + area + ": ")) << c->Rest();
        c->Send(key);
    };
    auto download = [&](const std::string& name, const std::string& choice) {
        ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "z")) << c->Rest();
        ASSERT_TRUE(c->Answer("File names (up to 10): ", name + "\r")) << c->Rest();
        ASSERT_TRUE(c->Answer("(S)end, send and (L)og off, (C)ancel", choice)) << c->Rest();
    };
    ASSERT_TRUE(c->Answer("Your choice: ", "f")) << c->Rest();
    ASSERT_NO_FATAL_FAILURE(toArea("Uploads", "+"));
    ASSERT_NO_FATAL_FAILURE(toArea("Utilities", "d"));
    ASSERT_NO_FATAL_FAILURE(download("notes.txt", "s"));
    ASSERT_TRUE(c->Expect("File ratio 0:5 reached.")) << c->Rest();
    ASSERT_NO_FATAL_FAILURE(toArea("Utilities", "+"));
    ASSERT_NO_FATAL_FAILURE(toArea("Documents", "d"));
    ASSERT_NO_FATAL_FAILURE(download("rules.txt", "l"));
    ASSERT_TRUE(c->Expect("Start your transfer now.")) << c->Rest();
    fs::path received = ReceiveAtFarEnd(*c, board());
    EXPECT_EQ(c->Wait(), 51) << c->Rest();
    EXPECT_EQ(board().ReadFile(received / "rules.txt"), board().ReadFile(SourcePath("sample/files/docs/rules.txt")));
    EXPECT_EQ(User(1).DownloadedFiles, 0u);
}

// An upload through lrzsz's rz started by kivo, sz at the far end: a new
// file lands in the area with its entry, one the area already holds is put
// aside and the old one kept, one named with shell characters lands under
// a plain name as a private upload; the caller's totals count the two.
TEST_F(TransferCall, ZmodemUploadIntoTheArea) {
    board().WriteFile(area_ / "b-exists.txt", "old");
    fs::path out = board().root() / "send";
    std::mt19937 gen{7};
    std::string good, odd;
    for (int i = 0; i < 4000; ++i) good += char(gen() & 0xFF);
    for (int i = 0; i < 2000; ++i) odd += char(gen() & 0xFF);
    board().WriteFile(out / "a-good.txt", good);
    board().WriteFile(out / "b-exists.txt", "new");
    board().WriteFile(out / "c it's;$(x).txt", odd);
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "z")) << c->Rest();
    ASSERT_TRUE(c->Expect("Start your upload now.")) << c->Rest();
    EXPECT_EQ(c->session().RunAtFarEnd({"sz", "-b", "-q", "a-good.txt", "b-exists.txt", "c it's;$(x).txt"}, out,
                                       20000, board().root() / "sz.err"),
              0)
        << board().ReadFile(board().root() / "sz.err");
    NudgeReceiver(c->session());
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Describe a-good.txt", "A good file\r\r")) << c->Rest();
    ASSERT_TRUE(c->Expect("b-exists.txt is already in area 0.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press a key to go on.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Describe c_it_s___x_.txt", "/Odd one\r\r")) << c->Rest();  // private
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    EXPECT_EQ(board().ReadFile(area_ / "a-good.txt"), good);
    EXPECT_EQ(board().ReadFile(area_ / "c_it_s___x_.txt"), odd);
    EXPECT_EQ(board().ReadFile(area_ / "b-exists.txt"), "old");
    EXPECT_EQ(board().ReadFile(fs::path(board().config().WorkDir) / "abort" / "b-exists.txt"), "new");
    std::string list = board().ReadFile(area_ / "files.bbs");
    EXPECT_NE(list.find("a-good.txt"), std::string::npos) << list;
    EXPECT_NE(list.find("A good file"), std::string::npos) << list;
    EXPECT_EQ(list.find("c_it_s___x_.txt"), std::string::npos) << list;
    EXPECT_EQ(list.find("b-exists"), std::string::npos) << list;
    std::string privateLog = board().ReadFile(board().DataDir() / "prvtfile.log");
    EXPECT_NE(privateLog.find("c_it_s___x_.txt"), std::string::npos) << privateLog;
    EXPECT_NE(privateLog.find("Odd one"), std::string::npos) << privateLog;
    UserRecord u = User(1);
    EXPECT_EQ(u.UploadedFiles, 2u);
    EXPECT_EQ(u.UploadedKb, 5u);  // 6000 bytes
    EXPECT_NE(CallerLog().find("Transferred 2 files, 6000 bytes"), std::string::npos) << CallerLog();
}

// A caller sends two set-user programs through rz, which gives a file the
// mode the sender names: the one accepted, the one waiting while its
// description is typed and the duplicate set aside are all kept as data.
TEST_F(TransferCall, AnUploadedSetUserProgramIsKeptAsData) {
    board().WriteFile(area_ / "b-exists.txt", "old");
    fs::path out = board().root() / "send";
    PutSetUserProgram(out / "b-exists.txt");
    PutSetUserProgram(out / "tool.bin");
    fs::path carried = fs::path(board().config().WorkDir) / "kvcarry0" / "tool.bin";
    auto c = StartUpload("z");
    ASSERT_TRUE(c->Expect("Start your upload now.")) << c->Rest();
    EXPECT_EQ(c->session().RunAtFarEnd({"sz", "-b", "-q", "b-exists.txt", "tool.bin"}, out, 20000,
                                       board().root() / "sz.err"),
              0)
        << board().ReadFile(board().root() / "sz.err");
    NudgeReceiver(c->session());
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    ASSERT_TRUE(c->Expect("b-exists.txt is already in area 0.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press a key to go on.", " ")) << c->Rest();
    ASSERT_TRUE(c->Expect("Describe tool.bin")) << c->Rest();
    struct stat st {};
    ASSERT_EQ(stat(carried.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & (S_ISUID | S_ISGID | S_ISVTX | 0111), 0u) << "while its description is typed";
    c->Send("A tool\r\r");
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    EXPECT_EQ(board().ReadFile(area_ / "tool.bin"), "#!/bin/sh\nid\n");
    EXPECT_EQ(board().ReadFile(fs::path(board().config().WorkDir) / "abort" / "b-exists.txt"), "#!/bin/sh\nid\n");
    ExpectOnlyPlainData();
}

// The line drops in the middle of a batch, after rz has received a
// set-user program whole and given it the sender's mode: at the log-off
// it waits in the abort directory as data.
TEST_F(TransferCall, ASetUserProgramOfABrokenUploadIsSetAsideAsData) {
    fs::path out = board().root() / "send";
    PutSetUserProgram(out / "tool.bin");
    ASSERT_EQ(mkfifo((out / "stuck.bin").c_str(), 0600), 0);  // sz waits for it for ever
    fs::path carried = fs::path(board().config().WorkDir) / "kvcarry0" / "tool.bin";
    auto c = StartUpload("z");
    ASSERT_TRUE(c->Expect("Start your upload now.")) << c->Rest();
    // sz runs on in the background, held at the second file, until the
    // first has come whole and rz has given it the sender's mode.
    ASSERT_EQ(c->session().RunAtFarEnd({"sh", "-c",
                                        "sz -b -q tool.bin stuck.bin <&1 2>/dev/null & echo $! > sz.pid\n"
                                        "until [ -u '" + carried.string() + "' ]; do sleep 0.02; done"},
                                       out, 20000),
              0)
        << "rz did not finish the first file";
    kill(pid_t(std::stol(board().ReadFile(out / "sz.pid"))), SIGKILL);
    c->session().Hangup();
    EXPECT_EQ(c->Wait(), 99);

    EXPECT_EQ(board().ReadFile(fs::path(board().config().WorkDir) / "abort" / "tool.bin"), "#!/bin/sh\nid\n");
    ExpectOnlyPlainData();
}

// Another protocol program may leave more than rz does: a set-id file, a
// directory holding one, a link out of the board.  Its failed run keeps
// the files in the abort directory as data, and no link.
TEST_F(TransferCall, WhatAFailedProgramLeftIsSetAsideAsData) {
    StandInProtocol("printf x > mode.dat\nchmod 6777 mode.dat\nmkdir sub\nprintf y > sub/inner.dat\n"
                    "chmod 4755 sub/inner.dat\nchmod 1777 sub\nln -s /etc/passwd link.dat\nexit 1\n");
    auto c = StartUpload("f");
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    fs::path abort = fs::path(board().config().WorkDir) / "abort";
    EXPECT_EQ(board().ReadFile(abort / "mode.dat"), "x");
    EXPECT_EQ(board().ReadFile(abort / "sub" / "inner.dat"), "y");
    EXPECT_FALSE(fs::exists(fs::symlink_status(abort / "link.dat")));
    ExpectOnlyPlainData();
}

// A line that hangs up while the program receives: what it had received
// and its log wait in the abort directory, nothing reached the area and
// nothing was counted.
TEST_F(TransferCall, HangUpDuringUploadKeepsItsFilesAside) {
    // It reads the line as a receiver does, until the line is gone.
    StandInProtocol("echo started > fake.log\nprintf partial > partial.dat\nprintf 'RECEIVING\\r\\n'\n"
                    "cat > /dev/null\nexit 1\n");
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
    ASSERT_TRUE(c->Expect("RECEIVING")) << c->Rest();
    c->session().Hangup();
    EXPECT_EQ(c->Wait(), 99);

    fs::path abort = fs::path(board().config().WorkDir) / "abort";
    EXPECT_EQ(board().ReadFile(abort / "partial.dat"), "partial");
    bool log = false;
    for (const auto& e : fs::directory_iterator(abort)) log = log || e.path().filename().string().rfind("fake.", 0) == 0;
    EXPECT_TRUE(log);
    EXPECT_FALSE(fs::exists(area_ / "partial.dat"));
    EXPECT_TRUE(fs::is_empty(fs::path(board().config().WorkDir) / "kvcarry0"));
    EXPECT_EQ(User(1).UploadedFiles, 0u);
}

// A line that hangs up while a download runs: the call ends, the
// protocol's log waits in the abort directory, nothing was counted.
TEST_F(TransferCall, HangUpDuringDownloadKeepsItsLogAside) {
    PutFile("one.dat", 100);
    GiveTerryUploads();
    StandInProtocol("echo started > fake.log\nprintf 'SENDING\\r\\n'\ncat > /dev/null\nexit 1\n");
    StartBoard();
    auto c = LogIn();
    Request(*c, "f", "one.dat");
    ASSERT_TRUE(c->Answer("(S)end, send and (L)og off, (C)ancel", "s")) << c->Rest();
    ASSERT_TRUE(c->Expect("SENDING")) << c->Rest();
    c->session().Hangup();
    EXPECT_EQ(c->Wait(), 99);

    fs::path abort = fs::path(board().config().WorkDir) / "abort";
    ASSERT_TRUE(fs::is_directory(abort));
    bool log = false;
    for (const auto& e : fs::directory_iterator(abort)) log = log || board().ReadFile(e.path()) == "started\n";
    EXPECT_TRUE(log);
    EXPECT_EQ(User(1).DownloadedFiles, 0u);
}

// A file an earlier call left in the work directory is never taken as
// this caller's upload.
TEST_F(TransferCall, LeftoversOfAnEarlierCallAreNotAnUpload) {
    board().WriteFile(fs::path(board().config().WorkDir) / "kvcarry0" / "stale.dat", "left behind");
    StandInProtocol("exit 0\n");
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_FALSE(fs::exists(area_ / "stale.dat"));
    EXPECT_EQ(User(1).UploadedFiles, 0u);
    EXPECT_NE(CallerLog().find("No file was received."), std::string::npos) << CallerLog();
}

// An area whose list is kept apart gets the upload's entry there, where
// its listing looks, and no files.bbs of its own.
TEST_F(TransferCall, UploadIntoAnAreaWithItsListKeptApart) {
    fs::path list = board().root() / "lists" / "area1.bbs";
    board().WriteFile(list, "");
    board().Set("FileAreas[0].ListingPath", list.string());
    StandInProtocol("printf 'fresh' > new.dat\nexit 0\n");
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Describe new.dat", "Fresh data\r\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(board().ReadFile(area_ / "new.dat"), "fresh");
    std::string entries = board().ReadFile(list);
    EXPECT_NE(entries.find("new.dat"), std::string::npos) << entries;
    EXPECT_NE(entries.find("Fresh data"), std::string::npos) << entries;
    EXPECT_FALSE(fs::exists(area_ / "files.bbs"));
}

// A received "files.bbs" in an area that has no list yet would become the
// list every caller sees: it is set aside as a duplicate, and the list
// holds only the entries the board wrote.
TEST_F(TransferCall, AnUploadedListNeverBecomesTheAreasList) {
    // No area holds a "files.bbs" that would make it a duplicate anyway.
    for (const FileAreaDef& a : board().config().FileAreas)
        if (a.AreaDefined != 0) fs::remove(fs::path(a.AreaDir) / "files.bbs");
    StandInProtocol("printf 'FAKE.ZIP       Not a file of the board\\n' > files.bbs\nprintf 'fresh' > new.dat\n"
                    "exit 0\n");
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    ASSERT_TRUE(c->Expect("files.bbs is already in area 0.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press a key to go on.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Describe new.dat", "Fresh data\r\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(board().ReadFile(area_ / "new.dat"), "fresh");
    std::string list = board().ReadFile(area_ / "files.bbs");
    EXPECT_EQ(list.find("FAKE.ZIP"), std::string::npos) << list;
    EXPECT_NE(list.find("Fresh data"), std::string::npos) << list;
    EXPECT_NE(board().ReadFile(fs::path(board().config().WorkDir) / "abort" / "files.bbs").find("FAKE.ZIP"),
              std::string::npos);
    EXPECT_EQ(User(1).UploadedFiles, 1u);
}

// Only the protocol's log itself is passed over: a received file whose
// name lies inside the log's name ("fake" in "fake.log") is an upload.
TEST_F(TransferCall, AReceivedFileNamedLikePartOfTheLogIsKept) {
    StandInProtocol("echo done > fake.log\nprintf 'mine' > fake\nexit 0\n");
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "f")) << c->Rest();
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Describe fake", "Mine\r\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(board().ReadFile(area_ / "fake"), "mine");
    EXPECT_FALSE(fs::exists(area_ / "fake.log"));
    EXPECT_EQ(User(1).UploadedFiles, 1u);
}

// A name the caller types for a protocol that asks one is a plain name.
TEST_F(TransferCall, TypedUploadNameWithShellCharactersIsRefused) {
    StartBoard();
    auto c = LogIn();
    ASSERT_TRUE(c->Answer("Test menu: ", "u")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "x")) << c->Rest();
    ASSERT_TRUE(c->Answer("File to upload: ", "a;rm x\r")) << c->Rest();
    ASSERT_TRUE(c->Expect("Give one plain file name.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Test menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(CallerLog().find("upload to"), std::string::npos);
}

// The refusals before a download, each with what the caller sees.
struct Refusal {
    const char* name;
    void (*setUp)(TransferCall&);
    bool asksFiles;  // refused after the names are asked
    const char* text;
};

class DownloadRefusals : public TransferCall, public ::testing::WithParamInterface<Refusal> {};

std::string HourText(int hour) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:00", hour % 24);
    return buf;
}

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

const Refusal kRefusals[] = {
    {"LineSpeed",
     [](TransferCall& t) {
         t.board().Set("MinDownloadSpeed", "2");
         t.lineSpeed = B1200;
     },
     false, "Downloads need 2400 bps."},
    {"DownloadHours",
     [](TransferCall& t) {
         int hour = LocalNow().tm_hour;
         t.board().Set("DownloadHours.Start", HourText(hour + 2));
         t.board().Set("DownloadHours.End", HourText(hour + 3));
     },
     false, "Downloads only from "},
    {"DailyLimit",
     [](TransferCall& t) {
         UserRecord u = t.User(1);
         u.UploadedKb = 1000;
         u.UploadedFiles = 10;
         u.TodayKb = 299;  // of 300 a day at this speed
         u.LastCallDate = t.Today();
         t.PutUser(1, u);
     },
     true, "Your daily limit is 300 KB."},
    {"TimeLeft",
     [](TransferCall& t) {
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
    {"ByteRatio", [](TransferCall&) {}, true, "Byte ratio 1:10 reached."},
    {"FileRatio",
     [](TransferCall& t) {
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
