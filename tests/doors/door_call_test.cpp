// Doors as a caller meets them: a menu line runs a script the test wrote,
// through kivo on a pseudo-terminal against a real kvhubd; the drop file
// the script saw, what it changed and the user record read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "caller/term/exit_info.h"
#include "caller/term/time_log.h"
#include "common/strings.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

using caller::ExitInfoRecord;
using caller::TimeLogRecord;

class DoorCall : public CallerTest {
protected:
    // A top menu whose lines run the given commands as doors (keys A, B,
    // ...), shows the caller's account (key I) and logs off (key G).
    void WriteDoorMenu(const std::vector<std::string>& commands) {
        std::vector<MenuLine> lines;
        char key = 'A';
        for (const auto& command : commands) lines.push_back({7, key++, command});
        lines.push_back({5, 'I', "account"});
        lines.push_back({9, 'G', ""});
        WriteTopMenu("[~ min left] Door menu: ", lines);
    }

    // A POSIX sh script below the board, executable.
    std::string WriteScript(const std::string& name, const std::string& body) {
        fs::path script = board().root() / name;
        board().WriteFile(script, "#!/bin/sh\n" + body);
        fs::permissions(script, fs::perms::owner_all);
        return script.string();
    }

    // The drop file of line 0 on the sample's multi-line board.
    std::string DropFile() { return (board().DataDir() / "exitinfo000").string(); }

    // Runs the door behind key, past the notice and the closing key wait.
    static void RunDoor(Caller& c, char key) {
        ASSERT_TRUE(c.Answer("Door menu: ", std::string(1, key))) << c.Rest();
        ASSERT_TRUE(c.Expect("Please wait, starting the program...")) << c.Rest();
        ASSERT_TRUE(c.Answer("Press any key to return to the board...", " ")) << c.Rest();
    }
};

// Little-endian bytes of a number as printf octal escapes, for the door.
std::string Octal32(uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\%03o", (v >> (8 * i)) & 0xFF);
        out += buf;
    }
    return out;
}

// A door that keeps what it was given, then raises the caller's security
// level in the drop file's user record, sets the credit field and also the
// credit inside the record copy (which does not count), and sets the first
// door byte.
TEST_F(DoorCall, DropFileCarriesTheCallAndTheDoorsChangesComeBack) {
    fs::path root = board().root();
    std::string drop = DropFile();
    auto patch = [&](int offset, const std::string& bytes) {
        return "printf '" + bytes + "' | dd of='" + drop + "' bs=1 seek=" + std::to_string(offset) +
               " conv=notrunc 2>/dev/null\n";
    };
    std::string door = WriteScript(
        "door.sh", "cd '" + root.string() + "'\n"
                   "printf '%s\\n' \"$@\" > args\n"
                   "cp '" + drop + "' seen.bin\n"
                   "stat -c %a '" + drop + "' > mode\n" +
                   patch(308 + 160, Octal32(777)) + patch(308 + 144, Octal32(1)) + patch(748, Octal32(4242)) +
                   patch(720, "\\011"));
    WriteDoorMenu({door + " *N *T *B"});
    caller::LastCallRecord before;
    before.Name = "Sam Sysop";
    before.TotalCalls = 41;
    auto beforeBytes = EncodeRecord(before);
    board().WriteFile(board().DataDir() / "lastcall0.bbs", std::string(beforeBytes.begin(), beforeBytes.end()));
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    RunDoor(*c, 'A');
    EXPECT_FALSE(fs::exists(drop)) << "the drop file outlives its program";

    // The level the door gave holds in the call at once.
    ASSERT_TRUE(c->Answer("Door menu: ", "i")) << c->Rest();
    ASSERT_TRUE(c->Expect("Minutes today")) << c->Rest();
    const std::string& shown = c->session().Output();
    EXPECT_NE(shown.find("Security level .. \x1b[0m\x1b[1;37m00777"), std::string::npos) << shown;
    ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    EXPECT_EQ(board().ReadFile(root / "mode"), "600\n");
    std::string args = board().ReadFile(root / "args");
    EXPECT_TRUE(args.starts_with("0\n")) << args;   // line 0
    EXPECT_TRUE(args.ends_with("\n38400\n")) << args;  // the pty's speed
    std::string seenBytes = board().ReadFile(root / "seen.bin");
    ASSERT_EQ(seenBytes.size(), ExitInfoRecord::kSize);
    ExitInfoRecord seen = caller::DecodeExitInfo(reinterpret_cast<const uint8_t*>(seenBytes.data()));
    EXPECT_EQ(seen.Speed, 38400);
    EXPECT_EQ(seen.User.Name, "Terry Tester");
    EXPECT_EQ(seen.User.SecurityLevel, 10);
    EXPECT_EQ(seen.UserNumber, 1);
    EXPECT_EQ(seen.Credit, seen.User.Credit);
    EXPECT_EQ(seen.Password, "Keyboard");
    EXPECT_EQ(seen.LogonDate, Today());
    EXPECT_EQ(seen.TimeLog.Date, Today());
    EXPECT_EQ(seen.LastCall.Name, "Sam Sysop");
    EXPECT_EQ(seen.LastCall.TotalCalls, 41u);
    EXPECT_EQ(seen.CallMinutes, 60);
    EXPECT_EQ(seen.DownloadKb, 300);  // level 10 at other speeds, nothing used yet
    EXPECT_EQ(seen.DoorByte1, 0);
    EXPECT_EQ(args, "0\n" + std::to_string(seen.CallMinutes - seen.SecondsOn / 60) + "\n38400\n");

    UserRecord terry = User(1);
    EXPECT_EQ(terry.SecurityLevel, 777);
    EXPECT_EQ(terry.Credit, 4242);  // field 748, not the record copy's
    EXPECT_NE(CallerLog().find("Runs: " + door + " '0' '"), std::string::npos) << CallerLog();
}

// A drop file that names another caller is not taken back at all; one of
// this caller gets the numbers that index the call's tables held to their
// ranges.
TEST_F(DoorCall, ReadBackOnlyForThisCallerAndWithinRanges) {
    std::string drop = DropFile();
    auto patch = [&](int offset, const std::string& bytes) {
        return "printf '" + bytes + "' | dd of='" + drop + "' bs=1 seek=" + std::to_string(offset) +
               " conv=notrunc 2>/dev/null\n";
    };
    std::string level = patch(308 + 160, Octal32(777));
    std::string foreign = WriteScript("foreign.sh", level + patch(752, Octal32(5)));
    // Message area 4000, file area -1 (as 16 bits), a clear-screen length of 200.
    std::string wild = WriteScript("wild.sh", patch(308 + 256, "\\240\\017") + patch(308 + 258, "\\377\\377") +
                                                  patch(308 + 217, "\\310"));
    WriteDoorMenu({foreign, wild});
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    RunDoor(*c, 'A');
    RunDoor(*c, 'B');
    ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    UserRecord terry = User(1);
    EXPECT_EQ(terry.SecurityLevel, 10);
    EXPECT_EQ(terry.MsgArea, 99);
    EXPECT_EQ(terry.FileArea, 0);
    EXPECT_EQ(terry.ClearScreenLength, 15);
    EXPECT_NE(CallerLog().find("does not belong to this caller; nothing taken back"), std::string::npos)
        << CallerLog();
}

// The door download allowance: what a door takes off it is used; a door
// that leaves it alone uses nothing.
TEST_F(DoorCall, DownloadAllowanceShrinksByWhatDoorsUse) {
    std::string drop = DropFile(), seen = (board().root() / "seen").string();
    // Notes the allowance it finds (field 764), then, when asked, uses 40 KB.
    std::string door = WriteScript(
        "dl.sh", "kb=$(od -An -tu4 -j764 -N4 '" + drop + "' | tr -d ' ')\n"
                 "echo \"$kb\" >> '" + seen + "'\n"
                 "[ \"$1\" = use ] || exit 0\n"
                 "left=$((kb - 40))\n"
                 "printf \"$(printf '\\\\%03o\\\\%03o\\\\000\\\\000' $((left % 256)) $((left / 256)))\" | "
                 "dd of='" + drop + "' bs=1 seek=764 conv=notrunc 2>/dev/null\n");
    WriteDoorMenu({door + " use", door});
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    for (char key : {'B', 'A', 'B', 'A', 'B'}) RunDoor(*c, key);
    ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(board().ReadFile(seen), "300\n300\n260\n260\n220\n");
}

// A caller whose name holds shell syntax: each name reaches the door as one
// argument, and nothing the name says is run.
TEST_F(DoorCall, ShellCharactersInANameStayOneArgument) {
    std::string name = "Bob;touch Pwned O'Brien$(touch X)";
    CapitalizeName(name);
    UserRecord terry = User(1);
    terry.Name = name;
    PutUser(1, terry);
    fs::path root = board().root();
    std::string door = WriteScript("door.sh", "printf '%s|' \"$#\" \"$@\" > '" + (root / "args").string() + "'\n");
    WriteDoorMenu({door + " *F *L"});
    StartBoard();
    auto c = Dial();
    c->LogInAs(name, "keyboard");
    RunDoor(*c, 'A');
    ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    EXPECT_EQ(board().ReadFile(root / "args"), "2|Bob;touch|Pwned O'Brien$(touch X)|");
    for (const fs::path& dir : {root, board().DataDir()})
        for (const char* made : {"Pwned", "X", "pwned", "x"}) EXPECT_FALSE(fs::exists(dir / made)) << dir / made;
}

// What the board wrote before it ran the door reaches the line before the
// door's own output.
TEST_F(DoorCall, TheNoticeComesBeforeWhatTheDoorWrites) {
    WriteDoorMenu({WriteScript("hello.sh", "echo 'the door speaks'\n")});
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    RunDoor(*c, 'A');
    const std::string& shown = c->session().Output();
    EXPECT_LT(shown.find("Please wait, starting the program..."), shown.find("the door speaks")) << shown;
    ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
}

// Lines that must not run: one that would expand beyond its room, one with
// a code inside quotes.  Each leaves a log line, and the call goes on.
TEST_F(DoorCall, RefusedCommandsRunNothing) {
    fs::path root = board().root();
    board().Set("FileAreas[0].AreaDir", "/" + std::string(79, 'd'));
    std::string door = WriteScript("d.sh", "touch '" + (root / "ran").string() + "'\n");
    WriteDoorMenu({door + " *0*0*0*0*0*0*0", door + " \"*F\""});
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Door menu: ", "a")) << c->Rest();
    ASSERT_TRUE(c->Answer("Door menu: ", "b")) << c->Rest();
    ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    EXPECT_FALSE(fs::exists(root / "ran"));
    EXPECT_FALSE(fs::exists(DropFile()));
    std::string log = CallerLog();
    EXPECT_NE(log.find("Command refused, longer than 511 characters: " + door), std::string::npos) << log;
    EXPECT_NE(log.find("Command refused, a * code inside quotes: " + door + " \"*F\""), std::string::npos) << log;
    EXPECT_EQ(log.find("Runs: "), std::string::npos) << log;
}

// A door that runs two and a half minutes: with "*!" its two whole
// minutes are given back to the call and taken off the minutes of today.
TEST_F(DoorCall, CreditedDoorTimeIsGivenBack) {
    std::string clock = ClockFile().string();
    time_t start = Now();
    SetClock(start);
    // The door moves the board's clock on by 150 seconds.
    std::string door = WriteScript("slow.sh", "echo $(( $(cat '" + clock + "') + 150 )) > '" + clock +
                                                  ".new'\nmv '" + clock + ".new' '" + clock + "'\n");
    WriteDoorMenu({door + " *!", door});
    StartBoard();
    struct Case {
        char key;
        const char* left;   // the menu's minutes left after the door
        int16_t today;      // the record's minutes today after log-off
    } cases[] = {{'A', "[60 min left]", 0}, {'B', "[58 min left]", 2}};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.key);
        SetClock(start);
        devices_.clear();
        auto c = Dial({}, ClockEnv());
        c->LogInAs("terry tester", "keyboard");
        RunDoor(*c, t.key);
        ASSERT_TRUE(c->Expect(t.left)) << c->Rest();
        ASSERT_TRUE(c->Answer("Door menu: ", "g")) << c->Rest();
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
        UserRecord terry = User(1);
        EXPECT_EQ(terry.MinutesToday, t.today);
        // The next call starts on a fresh day again.
        terry.MinutesToday = 0;
        terry.LastCallDate = "01/02/24";
        PutUser(1, terry);
    }
}

// The sample board's door: the location the caller gives the town crier
// is the caller's location as soon as the door ends, and stays so.
TEST_F(DoorCall, TheSampleDoorChangesTheCallersLocation) {
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "d")) << c->Rest();
    ASSERT_TRUE(c->Answer("Doors: ", "t")) << c->Rest();
    ASSERT_TRUE(c->Expect("Hear ye, Terry!  Terry Tester of Testville is in the town square.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Where do you call from today (Enter keeps it)? ", "Lighthouse Point\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press any key to return to the board...", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Doors: ", "a")) << c->Rest();
    ASSERT_TRUE(c->Expect("Minutes today")) << c->Rest();
    const std::string& shown = c->session().Output();
    EXPECT_NE(shown.find("Location ........ \x1b[0m\x1b[1;37mLighthouse Point"), std::string::npos) << shown;
    ASSERT_TRUE(c->Answer("Press Enter to go on.", "\r")) << c->Rest();  // the account stays until read
    ASSERT_TRUE(c->Answer("Doors: ", "q")) << c->Rest();
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(User(1).Location, "Lighthouse Point");
}

// Two calls on line 0 on two days: each call's minutes count for the hour
// and weekday it started in; the count keeps the date of the first call.
TEST_F(DoorCall, TimeLogAddsEachCallToItsHourAndWeekday) {
    WriteDoorMenu({});
    StartBoard();
    struct OneCall {
        time_t start;
        int minutes;
    } calls[] = {{LocalTime(2026, 3, 3, 10, 15), 7}, {LocalTime(2026, 3, 5, 21, 40), 3}};
    for (const auto& call : calls) {
        devices_.clear();  // the next call comes in on line 0 again
        SetClock(call.start);
        auto c = Dial({}, ClockEnv());
        c->LogInAs("terry tester", "keyboard");
        ASSERT_TRUE(c->Expect("Door menu: ")) << c->Rest();
        SetClock(call.start + call.minutes * 60 + 30);
        c->Send("g");
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
    }

    std::string bytes = board().ReadFile(board().DataDir() / "timelog0.bbs");
    ASSERT_EQ(bytes.size(), TimeLogRecord::kSize);
    TimeLogRecord log;
    DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data()), log);
    std::tm first{};
    localtime_r(&calls[0].start, &first);
    EXPECT_EQ(log.Date, FormatDate(first, board().config().DateOrder));
    TimeLogRecord want;
    for (const auto& call : calls) {
        std::tm t{};
        localtime_r(&call.start, &t);
        want.Hours[size_t(t.tm_hour)] += uint32_t(call.minutes);
        want.Days[size_t(t.tm_wday)] += uint32_t(call.minutes);
    }
    EXPECT_EQ(log.Hours, want.Hours);
    EXPECT_EQ(log.Days, want.Days);
}

}  // namespace
}  // namespace kv::test
