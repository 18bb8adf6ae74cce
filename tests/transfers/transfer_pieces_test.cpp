// The pieces of a transfer that need no line: the limits of a download,
// the protocol's log after a failed batch, its command line and file list,
// the names asked and found, and the totals of the caller's record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "caller/areas/transfers.h"
#include "caller/areas/uploads.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"

using namespace kv;
using namespace kv::caller;
namespace fs = std::filesystem;

namespace {

class TransferFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("transfers_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        SetConfig(ConfigRecord{});
    }
    std::string Write(const std::string& name, size_t bytes) {
        std::string path = (dir_ / name).string();
        std::ofstream(path) << std::string(bytes, 'x');
        return path;
    }
    std::string Read(const std::string& name) {
        std::ifstream in(dir_ / name);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path dir_;
};

TEST(DownloadRefusalCode, FirstRefusalThatHolds) {
    // Level 10, 20 KB in 2 files; 90 of 100 KB taken today; 30 minutes
    // left of 5 needed; ratios 5 files and 10 KB per upload.
    DownloadState base;
    base.level = 10;
    base.kilobytes = 5;
    base.files = 2;
    base.todayKb = 50;
    base.dailyLimitKb = 100;
    base.minutesLeft = 30;
    base.minutesNeeded = 5;
    base.fileRatio = 5;
    base.byteRatio = 10;
    base.uploadedFiles = 1;
    base.downloadedFiles = 2;
    base.uploadedKb = 10;
    base.downloadedKb = 50;

    struct Case {
        const char* what;
        void (*change)(DownloadState&);
        int want;
    } cases[] = {
        {"everything passes", [](DownloadState&) {}, kDownloadAllowed},
        {"the day's kilobytes, even with ratios passing",
         [](DownloadState& s) { s.todayKb = 90; s.kilobytes = 20; }, kDailyLimit},
        {"exactly the daily limit passes", [](DownloadState& s) { s.todayKb = 95; }, kDownloadAllowed},
        {"too little time", [](DownloadState& s) { s.minutesNeeded = 31; }, kTimeLeft},
        {"the daily limit before the time", [](DownloadState& s) { s.todayKb = 99; s.minutesNeeded = 31; },
         kDailyLimit},
        {"the byte ratio", [](DownloadState& s) { s.downloadedKb = 96; }, kByteRatio},
        {"the byte ratio before the file ratio", [](DownloadState& s) { s.downloadedKb = 96; s.downloadedFiles = 4; },
         kByteRatio},
        {"the file ratio", [](DownloadState& s) { s.downloadedFiles = 4; }, kFileRatio},
        {"a byte ratio of 0 leaves the file ratio", [](DownloadState& s) { s.byteRatio = 0; s.downloadedFiles = 4; },
         kFileRatio},
        {"ratios off: a failing byte ratio lets it go, file ratio untested",
         [](DownloadState& s) { s.ratios = false; s.downloadedKb = 500; s.downloadedFiles = 40; }, kDownloadAllowed},
        {"ratios off still count the day", [](DownloadState& s) { s.ratios = false; s.todayKb = 99; }, kDailyLimit},
        {"the sysop level passes everything",
         [](DownloadState& s) { s.level = 64000; s.todayKb = 1000; s.minutesNeeded = 99; }, kDownloadAllowed},
        {"a level above passes too", [](DownloadState& s) { s.level = 65000; s.downloadedKb = 500; },
         kDownloadAllowed},
    };
    for (const Case& t : cases) {
        DownloadState s = base;
        t.change(s);
        EXPECT_EQ(DownloadRefusalCode(s), t.want) << t.what;
    }
}

TEST(TransferMinutes, RateOfTheLine) {
    EXPECT_EQ(TransferMinutes(0, 2400), 1);
    EXPECT_EQ(TransferMinutes(760, 2400), 61);  // 760 KB an hour at 2400 bps
    EXPECT_EQ(TransferMinutes(95, 300), 61);
    EXPECT_EQ(TransferMinutes(95, 0), 61);      // an unknown speed counts as 300
}

TEST(AccountTransfer, DownloadsAndUploadsInWholeKilobytes) {
    UserRecord& u = Call().User;
    u = UserRecord{};
    u.TodayKb = 7;
    AccountTransfer(kDownload, 2, 3 * 1024 + 1023);
    EXPECT_EQ(u.DownloadedFiles, 2u);
    EXPECT_EQ(u.DownloadedKb, 3u);
    EXPECT_EQ(u.TodayKb, 10u);
    AccountTransfer(kUpload, 1, 1023);
    EXPECT_EQ(u.UploadedFiles, 1u);
    EXPECT_EQ(u.UploadedKb, 0u);
    EXPECT_EQ(u.DownloadedFiles, 2u);
    u = UserRecord{};
}

TEST(SplitTransferNames, SeparatorsRepeatsAndLimit) {
    EXPECT_EQ(SplitTransferNames("a.zip, b.zip;c.zip  a.zip"),
              (std::vector<std::string>{"a.zip", "b.zip", "c.zip"}));
    EXPECT_EQ(SplitTransferNames(" ;, "), std::vector<std::string>{});
    EXPECT_EQ(SplitTransferNames("1 2 3 4 5 6 7 8 9 10 11 12").size(), size_t(kMaxTransferNames));
}

TEST(TransferCommandLine, EveryNameIsOneQuotedWord) {
    size_t used = 0;
    std::string line = TransferCommandLine("/usr/bin/env", "sz -b", {"/f/it's;$(rm x)", "/f/star*.txt", "/f/-x"},
                                           false, used);
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(line, "/usr/bin/env sz -b '/f/it'\\''s;$(rm x)' '/f/star**.txt' '/f/-x' *&");
    line = TransferCommandLine("prog", "", {"/a"}, true, used);
    EXPECT_EQ(line, "prog '/a' *&*!");
}

TEST(TransferCommandLine, NamesPastTheLimitAreLeftOff) {
    std::vector<std::string> names = {std::string(200, 'a'), std::string(200, 'b'), std::string(200, 'c'), "d"};
    size_t used = 0;
    std::string line = TransferCommandLine("prog", "", names, false, used);
    EXPECT_EQ(used, 2u);  // not "d" either: what follows a name left off stays off
    EXPECT_LE(line.size(), 511u);
    EXPECT_EQ(line.find('c'), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 2), "*&");
    TransferCommandLine("prog", "", {std::string(600, 'a')}, false, used);
    EXPECT_EQ(used, 0u);
}

TEST_F(TransferFiles, ParseDownloadLogCountsAllButTheLastNamed) {
    std::vector<std::string> paths = {Write("one.zip", 3000), Write("two.zip", 5000), Write("three.zip", 7000)};
    ProtocolDef p;
    p.ProtocolName = "Fake";
    p.LogFile = (dir_ / "xfer.log").string();
    p.DownloadKeyword = "Sent:";
    p.DownloadNameOffset = 1;
    std::ofstream(p.LogFile) << "Started\n"
                                "Sent: /elsewhere/one.zip 3000 bytes\n"
                                "Sent: nothree.zip\n"          // not a requested base name
                                "Sent: " + dir_.string() + "/two.zip   \n";
    int files = -1;
    int64_t bytes = -1;
    EXPECT_EQ(ParseDownloadLog(paths, p, files, bytes), 1);
    EXPECT_EQ(files, 1);   // two.zip was on the line when it broke
    EXPECT_EQ(bytes, 3000);

    std::ofstream(p.LogFile) << "Sent: one.zip\n";
    EXPECT_EQ(ParseDownloadLog(paths, p, files, bytes), 0);
    EXPECT_EQ(files, 0);

    // A file the log names again is one file of the batch.
    std::ofstream(p.LogFile) << "Sent: one.zip\nSent: one.zip\nSent: one.zip\nSent: two.zip\n";
    EXPECT_EQ(ParseDownloadLog(paths, p, files, bytes), 1);
    EXPECT_EQ(files, 1);
    EXPECT_EQ(bytes, 3000);

    // The name a negative offset back from the keyword's end.
    p.DownloadKeyword = "<-sent";
    p.DownloadNameOffset = -16;
    std::ofstream(p.LogFile) << "three.zip <-sent\none.zip   <-sent\ntwo.zip   <-sent\n";
    EXPECT_EQ(ParseDownloadLog(paths, p, files, bytes), 1);
    EXPECT_EQ(files, 2);
    EXPECT_EQ(bytes, 10000);

    p.LogFile = (dir_ / "missing.log").string();
    EXPECT_EQ(ParseDownloadLog(paths, p, files, bytes), 0);
}

TEST_F(TransferFiles, WriteProtocolListByTemplate) {
    ProtocolDef p;
    p.ListFile = (dir_ / "list").string();
    std::vector<std::string> paths = {"/a/one", "/a/two"};
    EXPECT_EQ(WriteProtocolList(kDownload, p, paths), 1);
    EXPECT_EQ(Read("list"), "/a/one\n/a/two\n");
    p.DownloadListLine = "send %F now";
    p.UploadListLine = "get %F";
    EXPECT_EQ(WriteProtocolList(kDownload, p, paths), 1);
    EXPECT_EQ(Read("list"), "send /a/one now\nsend /a/two now\n");
    EXPECT_EQ(WriteProtocolList(kUpload, p, {"x%sy"}), 1);
    EXPECT_EQ(Read("list"), "get x%sy\n");  // a path is never a format
    p.UploadListLine = "no code";
    EXPECT_EQ(WriteProtocolList(kUpload, p, paths), 0);
    p.ListFile.clear();
    EXPECT_EQ(WriteProtocolList(kDownload, p, paths), 0);
    p.ListFile = (dir_ / "no" / "such" / "dir" / "list").string();
    EXPECT_EQ(WriteProtocolList(kDownload, p, paths), 0);
}

TEST_F(TransferFiles, ExpandRequestedFilesOncePerFileNoDirectories) {
    Write("a.txt", 1);
    Write("b.txt", 2);
    Write("c.zip", 3);
    fs::create_directories(dir_ / "d.txt");
    std::string d = dir_.string();
    EXPECT_EQ(ExpandRequestedFiles({"*.txt", "a.txt", "c.zip", "none", ".."}, d),
              (std::vector<std::string>{d + "/a.txt", d + "/b.txt", d + "/c.zip"}));
    EXPECT_TRUE(ExpandRequestedFiles({"*.none"}, d).empty());
}

TEST_F(TransferFiles, ShowTransferListTotalsWhatExists) {
    std::vector<std::string> paths = {Write("a", 100), Write("b", 50), (dir_ / "gone").string()};
    EXPECT_EQ(ShowTransferList(paths, false), 150);
}

TEST_F(TransferFiles, TransferDirIsTheLinesOwnAndGoesBack) {
    ConfigRecord c;
    c.WorkDir = dir_.string();
    c.MultiLine = 1;
    SetConfig(c);
    std::string before = fs::current_path().string();
    ASSERT_EQ(ChangeTransferDir(0, 3), 1);
    EXPECT_EQ(fs::current_path(), dir_ / "kvcarry3");
    ASSERT_EQ(ChangeTransferDir(1, 0), 1);
    EXPECT_EQ(fs::current_path().string(), before);

    c.MultiLine = 0;
    SetConfig(c);
    EXPECT_EQ(TransferDirName(3), dir_.string() + "/kvcarry");
    c.WorkDir = (dir_ / "missing").string();
    SetConfig(c);
    EXPECT_EQ(ChangeTransferDir(0, 0), 0);
    EXPECT_EQ(fs::current_path().string(), before);
}

}  // namespace



TEST(UploadNames, PlainTypedNamesAndReceivedNamesMadePlain) {
    struct Case {
        const char* name;
        bool plain;
        const char* made;
    } cases[] = {
        {"report.txt", true, "report.txt"},
        {"A-b_c.1.zip", true, "A-b_c.1.zip"},
        {"", false, ""},
        {".profile", false, "_profile"},
        {"-rf", false, "_rf"},
        {"it's;$(x).txt", false, "it_s___x_.txt"},
        {"a b*?/c", false, "a_b___c"},
        {"caf\xe9.txt", false, "caf_.txt"},
    };
    for (const Case& t : cases) {
        EXPECT_EQ(UploadNameIsPlain(t.name), t.plain) << t.name;
        EXPECT_EQ(PlainUploadName(t.name), t.made) << t.name;
        EXPECT_TRUE(std::string(t.made).empty() || UploadNameIsPlain(PlainUploadName(t.name))) << t.name;
    }
}

TEST(UploadNames, AreaCaseAndShortName) {
    EXPECT_EQ(AreaUploadName("Long-Report.Text", 0), "Long-Report.Text");
    EXPECT_EQ(AreaUploadName("Long-Report.Text", 1), "LONG-REP.TEX");
    EXPECT_EQ(AreaUploadName("Long-Report.Text", 2), "long-rep.tex");
    EXPECT_EQ(AreaUploadName("README", 2), "readme");
    EXPECT_EQ(AreaUploadName(".zip", 1), "_.ZIP");
}

TEST(UploadNames, RescuedLogTakesTheProcessId) {
    EXPECT_EQ(RescuedLogName("xfer.log", 4711), "xfer.4711");
    EXPECT_EQ(RescuedLogName("/var/log/xferlog", 4711), "xferlog.4711");
    EXPECT_EQ(RescuedLogName("a.b.log", 7), "a.b.7");
}



TEST_F(TransferFiles, FindDuplicateByWholeNameInLowerOrUpperCase) {
    ConfigRecord c;
    for (int a : {0, 1, 3}) {
        c.FileAreas[size_t(a)].AreaDefined = 1;
        c.FileAreas[size_t(a)].AreaDir = (dir_ / std::to_string(a)).string();
        fs::create_directories(dir_ / std::to_string(a));
    }
    c.FileAreas[2].AreaDir = (dir_ / "2").string();  // not defined: never looked at
    fs::create_directories(dir_ / "2");
    SetConfig(c);
    Write("1/REPORT.TXT", 1);
    Write("2/notes.txt", 1);
    Write("3/Mixed.txt", 1);
    Write("0/a-very-long-name-of-many-characters.zip", 1);
    EXPECT_EQ(FindDuplicate("report.txt"), 1);
    EXPECT_EQ(FindDuplicate("/work/kvcarry/Report.txt"), 1);
    EXPECT_EQ(FindDuplicate("notes.txt"), -1);
    EXPECT_EQ(FindDuplicate("Mixed.txt"), 3);   // the name as it stands
    EXPECT_EQ(FindDuplicate("mixed.TXT"), -1);  // another mixed spelling is not
    EXPECT_EQ(FindDuplicate("a-very-long-name-of-many-characters.zip"), 0);
    EXPECT_EQ(FindDuplicate("a-very-long-name-of-many-other.zip"), -1);  // whole names, not 15 characters
}
