// Pure pieces of kivo's start-up: the speed table, the line lookup, device
// names, texts and the activity log's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "caller/call/startup.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tests/support/text_segment.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::caller;

namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A fresh call over the sample texts, with DataDir a scratch directory.
class CallFixture : public ::testing::Test {
protected:
    void SetUp() override {
        texts_ = test::SampleTextSegment();
        Call() = CallState{};
        Call().Segment = texts_.data();
        ASSERT_TRUE(SelectMessageFile(0));
        char tmpl[] = "/tmp/kvstart.XXXXXX";
        dir_ = mkdtemp(tmpl);
        ConfigRecord c;
        c.DataDir = dir_.string();
        c.LineLogName = "kivo.log";
        SetConfig(c);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        Call() = CallState{};
        SetConfig(ConfigRecord{});
    }
    void Write(const std::string& name, const std::string& body) { std::ofstream(dir_ / name) << body; }

    std::vector<uint8_t> texts_;
    fs::path dir_;
};

TEST(Startup, SpeedTable) {
    const std::pair<tcflag_t, long> speeds[] = {
        {B0, 0},         {B50, 57600},     {B75, 57600},       {B110, 115200},   {B134, 134},
        {B150, 150},     {B200, 200},      {B300, 300},        {B600, 600},      {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},    {B4800, 4800},      {B9600, 9600},    {B19200, 19200},
        {B38400, 38400}, {B57600, 57600},  {B115200, 115200},  {B230400, 230400},
        {B38400 | CS8 | CREAD | HUPCL, 38400},  // the other control bits do not count
    };
    for (const auto& [code, bps] : speeds) EXPECT_EQ(SpeedOfCode(code), bps) << code;
    EXPECT_EQ(RequiredSpeed(0), 300);
    EXPECT_EQ(RequiredSpeed(1), 1200);
    EXPECT_EQ(RequiredSpeed(2), 2400);
    EXPECT_EQ(RequiredSpeed(5), 2400);
}

TEST(Startup, DeviceNameIsThePathBelowDev) {
    EXPECT_EQ(DeviceNameOf("/dev/pts/3"), "pts/3");
    EXPECT_EQ(DeviceNameOf("/dev/tty1"), "tty1");
    EXPECT_EQ(DeviceNameOf("/dev/console"), "console");
    EXPECT_EQ(DeviceNameOf("/devices/x/ttyS0"), "ttyS0");
}

TEST_F(CallFixture, LookupLineMatchesTheWholeDeviceName) {
    struct Case {
        const char* file;
        const char* device;
        long speed;
        int line, delay;
    };
    const Case cases[] = {
        // "tty1" does not take the entry of "tty10" that stands before it.
        {"# device,speed,delay\nconsole,0,0\ntty10,2400,3\ntty1,1200,7\n", "tty1", 1200, 2, 7},
        {"console,0,0\ntty10,2400,3\n", "tty10", 2400, 1, 3},
        {"TTY1,0,5\n", "tty1", -1, 0, 5},            // case ignored; speed 0 is no requirement
        {"tty1\n", "tty1", -1, 0, 0},                // no speed, no delay
        {"pts/3,9600,2   \n", "pts/3", 9600, 0, 2},  // trailing blanks
        {"#pts/3,0,0\npts/30,0,0\n", "pts/3", 0, 1, 0},
        {"", "tty1", 0, 0, 0},
    };
    for (const Case& c : cases) {
        Write("bbsline.ctl", c.file);
        Call().DeviceName = c.device;
        Call().OutputDelay = 0;
        EXPECT_EQ(LookupLine(), c.speed) << c.file;
        EXPECT_EQ(Call().LineNumber, c.line) << c.file;
        EXPECT_EQ(Call().OutputDelay, c.delay) << c.file;
    }
    fs::remove(dir_ / "bbsline.ctl");
    EXPECT_EQ(LookupLine(), 0);
}

TEST_F(CallFixture, TextsAndAnswerKeys) {
    EXPECT_EQ(Call().NoKey, 'N');
    EXPECT_EQ(Call().YesKey, 'Y');
    EXPECT_EQ(FormatText(18, "limits.ctl"), "ERROR: the control file limits.ctl is missing");
    EXPECT_EQ(GetText(999), "");  // beyond the table
    EXPECT_EQ(GetText(12), "");   // inside it, but no words
    EXPECT_EQ(GetText(-1), "");
    EXPECT_FALSE(SelectMessageFile(1));  // nothing loaded there
    EXPECT_FALSE(SelectMessageFile(2));
    EXPECT_EQ(Call().MessageFileIndex, 0);
    // A text with a wrong value for its "%" code shows its plain words.
    EXPECT_EQ(FormatText(18, 42), "ERROR: the control file  is missing");
    Call().Segment = nullptr;
    EXPECT_EQ(GetText(18), "");
    EXPECT_FALSE(SelectMessageFile(0));
}

TEST_F(CallFixture, SetupErrorTexts) {
    EXPECT_EQ(SetupErrorText(-4), "ERROR: the menu file top.mnu is missing");
    EXPECT_EQ(SetupErrorText(-7), "ERROR: the control file bbsline.ctl is missing");
    EXPECT_EQ(SetupErrorText(-5), "ERROR: no configuration record found in the shared segment (kvconfig.bbs)");
    EXPECT_EQ(SetupErrorText(-8), GetText(713));
    EXPECT_EQ(SetupErrorText(3), "");
}

TEST_F(CallFixture, LineLogNames) {
    struct Case {
        std::string dataDir, name;
        bool multi;
        int line;
        std::string want;
    };
    const std::string d = dir_.string();
    const Case cases[] = {
        {d, "calls.log", false, 3, d + "/calls.log"},
        {d, "calls.log", true, 3, d + "/calls3.log"},
        {d, "calllog", true, 12, d + "/calllog12"},
        {"/tmp/a.b/sys", "calllog", true, 4, "/tmp/a.b/sys/calllog4"},  // a dot of a directory is no extension
        {d, "a.b.log", true, 0, d + "/a.b0.log"},
    };
    for (const Case& c : cases) {
        MutableConfig().DataDir = c.dataDir;
        MutableConfig().LineLogName = c.name;
        MutableConfig().MultiLine = c.multi;
        Call().LineNumber = int16_t(c.line);
        EXPECT_EQ(LogFileName(), c.want);
    }
}

TEST_F(CallFixture, MergeWritesTheHeaderOnceAndCopiesLinesAsTheyStand) {
    MutableConfig().MultiLine = 1;
    Call().LineNumber = 2;
    WriteLog("Caller %s at %d%%", "Ann %d", 50);
    WriteLogLine("100% sure, %s stays");
    std::string own = Slurp(PerProcessLogName());
    EXPECT_NE(own.find(" Caller Ann %d at 50%\n"), std::string::npos) << own;
    EXPECT_EQ(MergeLog(), 1);
    EXPECT_FALSE(fs::exists(PerProcessLogName()));
    std::string log = Slurp(dir_ / "kivo2.log");
    EXPECT_EQ(log.rfind("*\n* @(#)kivo2.log Kivo bulletin board, caller program\n* LOG FILE CREATED: ", 0), 0u)
        << log;
    EXPECT_NE(log.find("*\n\n* "), std::string::npos);
    EXPECT_NE(log.find(own), std::string::npos);
    EXPECT_NE(log.find("100% sure, %s stays\n"), std::string::npos);

    WriteLog("second call");
    EXPECT_EQ(MergeLog(), 1);
    std::string again = Slurp(dir_ / "kivo2.log");
    EXPECT_EQ(again.find("LOG FILE CREATED", again.find("LOG FILE CREATED") + 1), std::string::npos);  // one header
    EXPECT_EQ(again.substr(0, log.size()), log);

    // Nothing to merge: a note of it goes into the line log.
    EXPECT_EQ(MergeLog(), 0);
    EXPECT_NE(Slurp(dir_ / "kivo2.log").find("nothing merged into kivo2.log: kivo." + std::to_string(getpid()) +
                                              " was not found"),
              std::string::npos);
}

TEST_F(CallFixture, EventTextsAreCutAndGoToStderrWithoutDataDir) {
    WriteLog("%s", std::string(200, 'x'));
    std::string own = Slurp(PerProcessLogName());
    EXPECT_NE(own.find(std::string(127, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(own.find(std::string(128, 'x')), std::string::npos);

    MutableConfig().DataDir = "";
    testing::internal::CaptureStderr();
    WriteLog("no home");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" no home\n"), std::string::npos);
    EXPECT_EQ(err.rfind("* ", 0), 0u);
    EXPECT_EQ(MergeLog(), 0);
}

}  // namespace
