#include "caller/term/line_status.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/user_record.h"

namespace kv::caller {
namespace {

constexpr const char* kSysopBusyFile = "6opbusy.bbs";
constexpr int kKeyAbortPage = 0x03;  // Ctrl-C stops a page
constexpr uint16_t kNoLine = 65535;

// The state of the call this piece keeps.
uint8_t gSysopChat = 0;      // 1 sysop chat, 2 chat with another line
bool gPaging = false;
bool gChatRunning = false;   // a sysop's SIGPIPE during the chat is dropped

uint8_t ModeBit(int mode) {
    switch (mode) {
        case kLinePaging: return LINE_PAGING;
        case kLineMonitored: return LINE_MONITORED;
        case kLineExternal: return LINE_EXTERNAL;
        case kLineNoDisturb: return LINE_NODISTURB;
        case kLineTransfer: return LINE_TRANSFER;
        case kLineChat: return LINE_CHAT;
        case kLineWriting: return LINE_WRITING;
        default: return 0;
    }
}

bool ClearScreenWanted() { return (Call().User.Options & USER_CLEAR_SCREEN) != 0; }

// A display file, or when it is missing the fallback text in the warning
// colour and a pause.
void DisplayOrWarn(int fileText, int fallbackText, int seconds) {
    if (DisplayFile(1, GetText(fileText)) != -1) return;
    PutColorText(GetText(fallbackText), true, false, 0, kColorWarning);
    PauseWithSignals(seconds);
}

std::string ConsolePath() { return "/dev/" + Config().SysopConsole; }

// The console is the terminal SysopConsole names at this moment: the
// sysop's console program names its own while it runs, and the server's
// reload of that may have come during the key wait that led here.
//
// Only a terminal open to the board's group for reading and writing is
// the console, as that program makes its own.  A name left behind by a
// console that was killed outright may by now stand for somebody else's
// terminal (the system hands pseudo-terminal numbers out again): that
// one gets neither the page nor the chat.
int OpenConsole(int access) {
    RefreshConfig();
    const std::string path = ConsolePath();
    // Not blocking on the open: a FIFO named there would hold the line.
    int fd = open(path.c_str(), access | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st, board;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd) || stat(Config().DataDir.c_str(), &board) != 0 ||
        st.st_gid != board.st_gid || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        WriteLog("%s is no terminal open to the board's group", path);
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The console of a chat is read as well, for the sysop's keys; one that
// this line may only write to gives a chat in which the sysop reads.
int OpenChatConsole(bool& readable) {
    int fd = OpenConsole(O_RDWR);
    readable = fd >= 0;
    return fd >= 0 ? fd : OpenConsole(O_WRONLY);
}

// A caller's name or device inside a text for the console: its control
// bytes left out, so that it cannot move or retitle the sysop's screen.
std::string ConsoleValue(std::string_view value) {
    std::string out;
    for (char ch : value)
        if (IsChatText(uint8_t(ch))) out += ch;
    return out;
}

// To the sysop's terminal; a console that went away loses the text.
void ToConsole(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(size_t(n));
    }
}

void ConsoleFailed() {
    PutColorText(GetText(127), true, false, 0, kColorWarning);
    LogText(128, ConsolePath());
}

// Waits for Enter (carriage return or line feed).
void WaitEnter() {
    for (;;) {
        int k = GetKey();
        if (k == '\r' || k == '\n') return;
    }
}

}  // namespace

void PauseWithSignals(int seconds, const bool* whileSet) {
    FlushOutput();
    timespec left{seconds, 0};
    for (;;) {
        if (SignalsPending()) ActOnSignals();
        if (whileSet != nullptr && !*whileSet) return;
        if (nanosleep(&left, &left) == 0 || errno != EINTR) return;
    }
}

int ChatKey(int alsoFd) {
    unsigned work = SignalWorkCount();
    int k = TryReadKey();
    if (k != 0) return k;
    // The read may have done a signal's work already (the end of the
    // chat): waiting now would wait for a key that never needs to come.
    if (SignalWorkCount() != work) return 0;
    if (!WaitForInput(alsoFd)) ActOnSignals();
    return 0;
}

bool IsChatText(int key) { return key >= ' ' && key != 127 && key <= 255; }

uint8_t SysopChatFlag() { return gSysopChat; }
void SetSysopChatFlag(uint8_t value) { gSysopChat = value; }
bool PagingFlag() { return gPaging; }
void SetPagingFlag(bool on) { gPaging = on; }

int RegisterLine(int line) {
    if (!CreateOnlineFile()) return 0;
    return SetLineStatus(line, kLineFresh, 0);
}

int SetLineStatus(int line, int mode, int on) {
    OnlineEntry e;
    if (mode == kLineFresh) {
        e.Pid = int32_t(getpid());
        e.LogonTime = TimeString();
    } else if (!ReadOnlineEntry(line, e)) {
        return 0;
    } else if (mode == kLineFree) {
        e = OnlineEntry{};
    } else if (mode == kLineUser) {
        e.User = Call().CurrentUserNumber;
    } else if (uint8_t bit = ModeBit(mode)) {
        e.Flags = on ? uint8_t(e.Flags | bit) : uint8_t(e.Flags & ~bit);
    }
    return WriteOnlineEntry(line, e) ? 1 : 0;
}

int ReadLineStatus(int line, OnlineEntry& entry) {
    if (!ReadOnlineEntry(line, entry)) return 0;
    // A line whose kivo died without logging off is free for every reader.
    if (!LineInUse(entry)) entry = OnlineEntry{};
    return 1;
}

uint16_t FindUserLine(int line, int32_t user) {
    int found = -1;
    if (!FindUserOnOtherLine(line, user, found)) {
        LogText(131);
        return kNoLine;
    }
    return found < 0 ? kNoLine : uint16_t(found);
}

bool SysopBusy() { return FileExists(kSysopBusyFile, kDataFile); }

void PageSysop() {
    CallState& c = Call();
    if (!InTimeWindow(kPagingHours)) {
        DisplayOrWarn(626, 121, 2);
        return;
    }
    if (SysopBusy()) {
        DisplayOrWarn(625, 120, 2);
        return;
    }
    if (Config().MaxPages != 0 && c.PagesMade >= int16_t(Config().MaxPages)) {
        DisplayOrWarn(624, 119, 2);
        return;
    }
    ++c.PagesMade;
    gPaging = true;
    SetLineStatus(c.LineNumber, kLinePaging, 1);
    RingSysop();
    // The line's entry marks a caller who pages: an unanswered page stays
    // marked for the call, until the sysop answers it with a chat.  One the
    // sysop answered, one the caller stopped and one that never reached the
    // console leave no mark.
    if (!gPaging) SetLineStatus(c.LineNumber, kLinePaging, 0);
}

void RingSysop() {
    CallState& c = Call();
    if (ClearScreenWanted()) EraseScreen();
    bool aborted = false;
    int fd = OpenConsole(O_WRONLY);
    if (fd < 0) {
        ConsoleFailed();
        PauseWithSignals(2);
    } else {
        PutColorText(FormatText(122, Config().SysopName), true, false, 0, kColorHighlight);
        std::string call = FormatText(123, ConsoleValue(c.CallerName), ConsoleValue(c.DeviceName));
        ToConsole(fd, call);
        SetColorPair(kColorNormal);
        SetNonBlocking(true);
        for (int ring = 1; !aborted && gPaging && ring <= Config().PageRings; ++ring) {
            PutLine(FormatText(124, ring));
            for (int k; (k = TryReadKey()) != 0;)
                if (k == kKeyAbortPage) aborted = true;
            if (aborted) {
                SetNonBlocking(false);
                ToConsole(fd, FormatText(125, ConsoleValue(c.CallerName)));
                PutColorText(GetText(126), true, false, 0, kColorWarning);
                PauseWithSignals(2);
                break;
            }
            if (Config().PageSound == 2) {
                ToConsole(fd, "\a\a");
            } else {
                PlayTones(fd, Config().PageSound);
            }
            PauseWithSignals(4, &gPaging);
        }
        if (!aborted) {
            SetNonBlocking(false);
            if (gPaging) ToConsole(fd, call);
        }
        close(fd);
    }
    if (!aborted && gPaging) DisplayOrWarn(623, 121, 2);
    // Nobody was rung, or the caller took the page back: no page waits.
    if (fd < 0 || aborted) gPaging = false;
}

void SpeakerTone(int fd, int period) { ioctl(fd, KIOCSOUND, period); }

void TimedTone(int fd, int n) {
    // The console plays the tone and returns at once; waiting out its
    // length keeps the next one from cutting it short.  Not a console: no
    // tone and no wait.
    if (ioctl(fd, KDMKTONE, long(n) | (long(n) << 16)) == 0) {
        FlushOutput();
        usleep(useconds_t(n) * 1000);
    }
}

void PlayTones(int fd, int kind) {
    struct ToneStep {
        int32_t period, length, pause;
    };
    static constexpr ToneStep kTune[] = {
        {800, 100, 50}, {750, 40, 50}, {800, 40, 50},  {900, 100, 50}, {800, 40, 50},
        {900, 40, 50},  {1000, 100, 50}, {900, 40, 50}, {800, 40, 50}, {750, 100, 50},
        {665, 40, 50},  {750, 40, 50},  {800, 100, 0},  {0, 0, 0},
    };
    if (kind == 0) {
        for (int round = 0; round < 10; ++round) {
            for (int period : {1000, 500, 1000, 3000}) {
                SpeakerTone(fd, period);
                TimedTone(fd, 30);
            }
        }
        SpeakerTone(fd, 0);
    } else if (kind == 1) {
        for (const ToneStep* s = kTune; s->period != 0; ++s) {
            SpeakerTone(fd, s->period);
            TimedTone(fd, s->length);
            SpeakerTone(fd, 0);
            TimedTone(fd, s->pause);
        }
    }
}

void SysopChatBanner() {
    const std::string& name = Call().CallerName;
    std::string line = GetText(517) + name.substr(0, name.find(' ')) + FormatText(130, Config().SysopName);
    if (ClearScreenWanted()) EraseScreen();
    PutColorText(line, true, false, 0, kColorWarning);
    SetColorPair(kColorNormal);
}

void SysopChat() {
    if (gChatRunning) return;
    gChatRunning = true;
    CallState& c = Call();
    InactivityPause idle;
    time_t start = Now();
    bool readable = false;
    int fd = OpenChatConsole(readable);
    if (fd < 0) {
        ConsoleFailed();
    } else {
        gSysopChat = 1;
        // The chat answers any page of this call, one that rang out before
        // included: the line no longer shows as paging.
        gPaging = false;
        SetLineStatus(c.LineNumber, kLinePaging, 0);
        DisplayFile(1, GetText(658));
        SysopChatBanner();
        // A key of either side shows on both screens.  Only text and the
        // chat's editing keys pass, as in the chat between lines: nothing
        // either side types reaches the other's terminal as a control.
        auto echo = [fd](int k, bool sysop) {
            if (k == 8 || (sysop && k == 127)) {  // a terminal's backspace key sends 127
                PutString("\b \b");
                ToConsole(fd, "\b \b");
            } else if (k == '\r') {
                PutLine();
                ToConsole(fd, "\r\n");
            } else if (IsChatText(k)) {
                PutChar(uint8_t(k));
                char b = char(k);
                ToConsole(fd, std::string_view(&b, 1));
            }
        };
        // Input is read without blocking, so that the signal that ends the
        // chat is seen even when it comes between two reads.
        {
            NonBlockingInput input;
            if (readable) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            while (gSysopChat == 1) {
                int k = ChatKey(readable ? fd : -1);
                if (k != 0) echo(k, false);
                uint8_t keys[64];
                ssize_t n = readable ? read(fd, keys, sizeof keys) : -1;
                for (ssize_t i = 0; i < n; ++i)
                    if (keys[i] != 0) echo(keys[i], true);
                // A console that closed (its window gone) is read no more.
                if (readable && (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))) readable = false;
            }
        }
        close(fd);
        DisplayFile(1, GetText(652));
        int minutes = int(SecondsSince(start) / 60);
        c.CallMinutes = int16_t(c.CallMinutes + minutes);
        c.User.MinutesToday = int16_t(c.User.MinutesToday - minutes);
        PutColorText(GetText(129), false, false, 0, kColorPrompt);
        WaitEnter();
        SetColorPair(kColorNormal);
    }
    gChatRunning = false;
}

void ToggleMonitor() {
    CallState& c = Call();
    if (gSysopChat != 0) {
        gSysopChat = 0;  // the chat loop sees it and ends
        return;
    }
    // What was written before the toggle goes out as it was written: copied
    // to the monitor or not.
    FlushOutput();
    if (!c.Monitoring) {
        SetLineStatus(c.LineNumber, kLineMonitored, 1);
        RefreshConfig();  // the path as the configuration names it now
        const std::string path = Config().MonitorPath;
        // Not blocking on the open: a FIFO that nobody reads must not hang
        // the line.  Appending: a file keeps what earlier calls left.  Made
        // for the board's group: the sysop of the group follows it, and the
        // kivo of every line writes it.
        int fd = path.empty() ? -1
                              : open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                                     0660);
        if (fd < 0) {
            SetLineStatus(c.LineNumber, kLineMonitored, 0);
            WriteLog("Cannot open %s for monitoring", path);
            return;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        c.MonitorFd = fd;
        c.Monitoring = true;
    } else {
        SetLineStatus(c.LineNumber, kLineMonitored, 0);
        c.Monitoring = false;
        if (c.MonitorFd >= 0) close(c.MonitorFd);
        c.MonitorFd = -1;
    }
}

void ShowCallStatus() {
    CallState& c = Call();
    int onLine = int(SecondsSince(c.LogonTime) / 60);
    int left = c.CallMinutes - onLine;
    if (ClearScreenWanted()) EraseScreen();
    std::string rule(50, c.ColorOn ? char(196) : '-');
    auto label = [](int n) {
        SetColorPair(kColorNormal);
        PutString(GetText(n));
    };
    auto value = [](const std::string& v, bool lineEnd) {
        SetColorPair(kColorWarning);
        if (lineEnd) PutLine(v); else PutString(v);
    };
    auto ruleLine = [&] {
        SetColorPair(kColorKeys);
        PutString(std::string(13, ' ') + rule);
    };

    PutLine();
    PutColorText(GetText(132), true, false, 0, kColorTitle);
    ruleLine();
    PutLine();
    label(133);
    value(DateString(), false);
    label(134);
    value(TimeString(), true);
    label(135);
    value(FormatChecked("%2d", int(c.User.CallsToday) + 1), false);
    label(136);
    if (Config().MaxCallsPerDay == 0) value(GetText(137), true);
    else value(FormatChecked("%d", int(Config().MaxCallsPerDay)), true);
    label(138);
    PutLine();
    const std::pair<int, int> minutes[] = {
        {139, c.User.MinutesToday + onLine}, {141, onLine}, {142, left}, {143, c.DailyMinutes}};
    for (const auto& [text, n] : minutes) {
        label(text);
        value(FormatText(140, n), true);
    }
    ruleLine();
    PutString("\r\n" + std::string(13, ' '));
    PutColorText(GetText(104), false, false, 0, kColorPrompt);
    GetKey();
    SetColorPair(kColorNormal);
    PutLine();
}

}  // namespace kv::caller
