#include "caller/call/startup.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "caller/call/call_handlers.h"
#include "caller/call/callers_log.h"
#include "caller/call/login.h"
#include "caller/call/logoff.h"
#include "caller/call/menus.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/display_file.h"
#include "caller/term/line_status.h"
#include "caller/term/screen.h"
#include "caller/term/term_charset.h"
#include "caller/term/terminal.h"
#include "common/attach.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"

namespace kv::caller {
namespace {

constexpr const char* kFastLogonDevice = "tty1";
constexpr const char* kLogSeparator = "------------------------------------------\n";

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToUpperChar(a[i]) != ToUpperChar(b[i])) return false;
    return true;
}

[[noreturn]] void EndRefusal() {
    if (Call().RawMode) RestoreTtyMode();
    ExitProgram(1);
}

// The end of a call that got a line number (step 18 of the start-up).
[[noreturn]] void EndCall() {
    LogOff(kLogOffNormal);
    PutLine();
    if (Call().RawMode) RestoreTtyMode();
    ExitProgram(1);
}

void Refuse(int displayText, const std::string& fallback, unsigned pause) {
    if (DisplayFile(1, GetText(displayText)) == -1) {
        PutLine(fallback);
        TimedPause(pause);
    }
}

// The board is closed now: the display file or its fallback, then out.
[[noreturn]] void RefuseClosedHours() {
    const TimeWindow& w = Config().OpenHours;
    Refuse(665, FormatText(696, w.Start, w.End), 2);
    LogText(705);
    WriteLog(kLogSeparator);
    MergeLog();
    EndRefusal();
}

// Too slow for this hour or for the board.  The line is not registered,
// so there is no log-off and no merge.
[[noreturn]] void RefuseSpeed(long lineSpeed, long required) {
    if (lineSpeed >= required) {
        Refuse(642, GetText(695), 4);
    } else {
        Refuse(641, FormatChecked("Sorry, minimum speed required is %d!.", int(required)), 4);
    }
    EndRefusal();
}

}  // namespace

int ReadOptions(std::vector<std::string>& args) {
    CallState& c = Call();
    while (!args.empty() && !args.front().empty() && args.front()[0] == '-') {
        std::string opt = args.front();
        args.erase(args.begin());
        char letter = opt.size() > 1 ? opt[1] : '\0';
        switch (letter) {
            case 'f': c.StrictSysopMenus = false; break;
            case 'g':
                if (opt.size() != 3 || (opt[2] != '0' && opt[2] != '1')) {
                    std::fputs("Message file number must be 0 or 1\n", stderr);
                    return 1;
                }
                c.MessageFileIndex = int8_t(opt[2] - '0');
                break;
            case 'k': ExitHook(1); break;
            case 'l':
                if (c.DeviceName == kFastLogonDevice) {
                    c.FastLogon = true;
                } else {
                    std::printf("Fast logons are only available from \"%s\".\n", kFastLogonDevice);
                }
                break;
            case 't': c.LocalMode = true; break;
            case 'v':
                std::printf("%s\n", ProgramBanner());
                std::printf("%s (b%d)\n", "01/01/2000 00h00", 1);
                return 0;
            default: break;  // other letters are ignored
        }
    }
    return -1;
}

std::string DeviceNameOf(const std::string& ttyPath) {
    if (ttyPath.rfind("/dev/", 0) == 0) return ttyPath.substr(5);
    size_t slash = ttyPath.rfind('/');
    return slash == std::string::npos ? ttyPath : ttyPath.substr(slash + 1);
}

void GetDeviceName() {
    const char* name = ttyname(0);
    Call().DeviceName = name == nullptr ? "" : DeviceNameOf(name);
}

const char* ProgramBanner() { return "kivo v1.0 - Kivo bulletin board, caller program"; }

long RequiredSpeed(int minLogonSpeed) {
    switch (minLogonSpeed) {
        case 0: return 300;
        case 1: return 1200;
        default: return 2400;  // 2, and any higher value a sysop may set
    }
}

bool ReadLineTable(std::vector<LineTableEntry>& lines) {
    return kv::ReadLineTable(Config().DataDir + "/" + kLineTableFile, lines);
}

long LookupLine() {
    CallState& c = Call();
    c.LineNumber = 0;
    std::vector<LineTableEntry> lines;
    ReadLineTable(lines);
    for (const LineTableEntry& e : lines) {
        // The whole device name: "tty1" must not take the entry of "tty10".
        if (SameNameIgnoringCase(e.Device, c.DeviceName)) {
            c.OutputDelay = int16_t(e.Delay);
            return e.Speed == 0 ? -1 : e.Speed;
        }
        ++c.LineNumber;
    }
    return 0;
}

bool LocateConfig() { return RefreshConfig(); }

int CheckSetup() {
    const ConfigRecord& cfg = Config();
    if (!IsDirectory(cfg.DataDir)) return -3;
    if (!IsDirectory(cfg.MenuDir)) return -2;
    if (!IsDirectory(cfg.TextDir)) return -1;
    if (!IsDirectory(cfg.MsgBaseDir)) return -8;
    if (!FileExists("top", kMenuFile)) return -4;
    if (!FileExists("limits.ctl", kDataFile)) return -6;
    if (!FileExists("bbsline.ctl", kDataFile)) return -7;
    if (!LocateConfig()) return -5;
    return 1;
}

std::string SetupErrorText(int code) {
    switch (code) {
        case -3: return GetText(15);
        case -2: return GetText(14);
        case -1: return GetText(13);
        case -8: return GetText(713);
        case -4: return FormatText(16, "top.mnu");
        case -6: return FormatText(18, "limits.ctl");
        case -7: return FormatText(18, "bbsline.ctl");
        case -5: return FormatText(17, "kvconfig.bbs");
        default: return {};
    }
}

void FatalError(int code, int where, bool exitNow) {
    std::string text = SetupErrorText(code);
    if (where == 0) {
        std::fprintf(stderr, "%s\r\n", text.c_str());
        std::fflush(stderr);
    } else {
        PutLine(text);
        WriteLog("%s\n", text);
    }
    if (!exitNow) return;
    if (Call().RawMode) RestoreTtyMode();
    ExitProgram(code & 0xFF);
}

void StartConsoleMonitor() {
    for (int line = 0; line < 256; ++line) {
        OnlineEntry e;
        if (!ReadLineStatus(line, e)) return;  // no readable file: nothing
        if (line != Call().LineNumber && (e.Flags & LINE_MONITORED)) return;
    }
    ToggleMonitor();
}

int CallerMain(int argc, char** argv) {
    CallState& c = Call();
    KeepNewFilesFromOthers();
    InstallCallHandlers();
    InstallCallerServices();

    DecideTerminalCharset();
    c.ProgramName = argc > 0 ? argv[0] : "kivo";
    c.TimeLogLoaded = TimeLogRecord{};
    c.CallerName = "Unknown";
    GetDeviceName();
    if (argc > 1) {
        std::vector<std::string> args(argv + 1, argv + argc);
        int status = ReadOptions(args);
        if (status >= 0) return status;
    }

    ResetAttributes();
    std::printf("%s\n", ProgramBanner());
    std::fflush(stdout);

    c.Segment = AttachSharedMemory();
    if (c.Segment == nullptr) return 255;
    if (!SelectMessageFile(c.MessageFileIndex)) {
        std::fputs("ERROR: cannot load the message file \"message.usa\".\n", stderr);
        return 255;
    }
    c.LogonTime = Now();
    if (!SetRawMode()) {
        std::fprintf(stderr, "%s\n", GetText(7).c_str());
        return 255;
    }
    if (!LocateConfig()) FatalError(-5, 0, true);
    LogText(1);
    if (c.FastLogon && !Config().AllowFastLogon) c.FastLogon = false;

    if (!c.FastLogon && !InTimeWindow(kOpenHours)) RefuseClosedHours();

    long required = RequiredSpeed(Config().MinLogonSpeed);
    long speed = GetLineSpeed();
    if ((speed == 300 && !InTimeWindow(kLowSpeedHours)) || speed < required) RefuseSpeed(speed, required);

    int setup = CheckSetup();
    if (setup != 1) FatalError(setup, 0, true);

    long lineSpeed = LookupLine();
    if (lineSpeed == 0) {
        LogText(5, c.DeviceName);
        Refuse(640, GetText(6), 2);
        EndCall();
    }
    if (lineSpeed > GetLineSpeed()) {
        WriteLog("Speed required on \"%s\" is %ld", c.DeviceName, lineSpeed);
        Refuse(639, FormatChecked("This line is reserved for speed of %ld and up, acces denied!", lineSpeed), 2);
        EndCall();
    }
    if (!RegisterLine(c.LineNumber)) {
        PutLine(GetText(3));
        LogText(4, "online.ctl");
        EndCall();
    }
    c.LineRegistered = true;
    // With the line marked, kvprune will not start a pack or a renumbering;
    // one that runs already holds the base lock to its end, so the call
    // waits for it here, and finishes one that was killed halfway, before
    // any message is read.
    { MsgBaseLock waitForMaintenance; }
    // And the users lock clears away the copies of the users that a killed
    // rewrite left (every password in them).
    { UsersFileLock tidy; }

    RotateCallersLog();
    ClearUserRecord();
    UpdateUserCount();
    if (Config().AutoMonitor && c.DeviceName != "console" && c.DeviceName.rfind("vt0", 0) != 0)
        StartConsoleMonitor();
    if (!c.FastLogon) DisplayFile(1, GetText(638));
    if (Login() == 1) {
        MenuLoop();
        LogText(2);
    }
    EndCall();
}

}  // namespace kv::caller
