#include "caller/term/external_programs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/exit_info.h"
#include "caller/term/line_status.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/shell_quote.h"

namespace kv::caller {
namespace {

// The door bytes and the door download counter live for the call; only the
// drop file changes them.
uint8_t gDoorBytes[2] = {0, 0};
int16_t gDoorDownloadKb = 0;
// The allowance the last drop file offered, to see what the program used.
int32_t gOfferedKb = 0;

// Where the shell reads the next character of the command line, which
// decides whether a quoted value put there stays one word.
class QuoteState {
public:
    // Quoting holds only where the shell is outside every quote and the
    // character before neither escapes nor introduces anything.
    bool ValueMayStand() const { return quote_ == kNone && !escaped_ && !dollar_; }
    void Take(char ch) {
        bool wasEscaped = escaped_;
        escaped_ = false;
        switch (quote_) {
            case kNone:
                if (wasEscaped) break;
                if (ch == '\\') escaped_ = true;
                else if (ch == '\'') quote_ = kSingle;
                else if (ch == '"') quote_ = kDouble;
                break;
            case kSingle:
                if (ch == '\'') quote_ = kNone;
                break;
            case kDouble:
                if (wasEscaped) break;
                if (ch == '\\') escaped_ = true;
                else if (ch == '"') quote_ = kNone;
                break;
        }
        dollar_ = ch == '$' && quote_ != kSingle;
    }

private:
    enum { kNone, kSingle, kDouble } quote_ = kNone;
    bool escaped_ = false;
    bool dollar_ = false;
};

std::optional<std::string> CodeValue(char code, const CommandValues& v) {
    switch (code) {
        case '0': return v.AreaDir;
        case '1': return std::to_string(v.MsgArea);
        case 'B': return std::to_string(v.Speed);
        case 'C': return std::string("/bin/sh");
        case 'F': return v.FirstName;
        case 'G': return std::string(v.Color ? "1" : "0");
        case 'L': return v.LastName;
        case 'N': return std::to_string(v.Line);
        case 'P': return v.Device;
        case 'R': return std::to_string(v.UserNumber);
        case 'T': return std::to_string(v.MinutesLeft);
        default: return std::nullopt;
    }
}

bool IsConsoleDevice(const std::string& device) {
    if (device == "console") return true;
    return device.size() >= 2 && std::tolower(uint8_t(device[0])) == 'v' && std::tolower(uint8_t(device[1])) == 't';
}

template <class T>
T Clamp(int64_t v, T low, T high) {
    return T(std::clamp<int64_t>(v, low, high));
}

// The program gets standard input blocking (the flag is shared with it
// through the open file) and, for a transfer, a clean 8-bit line: no
// signal characters, no flow control, no stripped eighth bit, so a binary
// transfer cannot raise a signal in the call's process group.  Both come
// back as they were.
class LineHandOver {
public:
    explicit LineHandOver(bool transfer) {
        flags_ = fcntl(0, F_GETFL);
        if (flags_ != -1 && (flags_ & O_NONBLOCK)) fcntl(0, F_SETFL, flags_ & ~O_NONBLOCK);
        if (!transfer || tcgetattr(0, &modes_) != 0) return;
        haveModes_ = true;
        termios clean = modes_;
        clean.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | ICRNL | BRKINT | PARMRK);
        clean.c_oflag &= ~tcflag_t(OPOST);
        clean.c_lflag &= ~tcflag_t(ISIG | ICANON | ECHO | IEXTEN);
        clean.c_cflag = (clean.c_cflag & ~tcflag_t(CSIZE | PARENB)) | CS8;
        clean.c_cc[VMIN] = 1;
        clean.c_cc[VTIME] = 0;
        tcsetattr(0, TCSADRAIN, &clean);
    }
    ~LineHandOver() {
        if (haveModes_) tcsetattr(0, TCSADRAIN, &modes_);
        if (flags_ != -1 && (flags_ & O_NONBLOCK)) fcntl(0, F_SETFL, flags_);
    }
    LineHandOver(const LineHandOver&) = delete;
    LineHandOver& operator=(const LineHandOver&) = delete;

private:
    int flags_ = -1;
    termios modes_{};
    bool haveModes_ = false;
};

// Runs the line through /bin/sh as system() does: the call itself ignores
// the keyboard's interrupt and quit while the program runs, the program
// gets them as they were.  The wait status, or -1 when no shell ran.
int RunShell(const std::string& line) {
    FlushOutput();
    std::fflush(stdout);
    struct sigaction ignore {}, oldInt {}, oldQuit {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    pid_t pid = fork();
    if (pid == 0) {
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = -1;
    if (pid > 0) {
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                status = -1;
                break;
            }
        }
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    std::fflush(stdout);
    return status;
}

// The program's exit status as the transfer form reports it.
int ExitStatus(int waitStatus) {
    if (waitStatus == -1) return -1;
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

}  // namespace

Expansion ExpandCommand(std::string_view command, const CommandValues& values, std::string& out,
                        CommandFlags& flags) {
    out.clear();
    flags = CommandFlags{};
    QuoteState shell;
    auto plain = [&](char ch) {
        out += ch;
        shell.Take(ch);
    };
    for (size_t i = 0; i < command.size(); ++i) {
        if (command[i] != '*' || i + 1 == command.size()) {
            plain(command[i]);
        } else {
            char code = char(std::toupper(uint8_t(command[++i])));
            if (auto value = CodeValue(code, values)) {
                if (!shell.ValueMayStand()) return Expansion::kCodeInQuotes;
                // An empty value is no word at all, as it always was.
                if (!value->empty()) out += ShellQuote(*value);
                shell.Take(' ');
            } else {
                switch (code) {
                    case '*': plain('*'); break;
                    case '#': flags.ClearPaging = true; break;
                    case '!': flags.CreditTime = true; break;
                    case '&': flags.NoDropFile = true; break;
                    case 'Z': flags.TerminalModes = true; break;
                    default: break;  // an unknown code is dropped
                }
            }
        }
        if (out.size() > kCommandRoom) return Expansion::kTooLong;
    }
    return Expansion::kDone;
}

CommandValues CallCommandValues() {
    const CallState& c = Call();
    CommandValues v;
    int16_t area = c.User.FileArea;
    if (area >= 0 && size_t(area) < Config().FileAreas.size()) v.AreaDir = Config().FileAreas[size_t(area)].AreaDir;
    v.MsgArea = c.User.MsgArea;
    v.Speed = IsConsoleDevice(c.DeviceName) ? 0 : GetLineSpeed();
    size_t blank = c.CallerName.find(' ');
    v.FirstName = c.CallerName.substr(0, blank);
    if (blank != std::string::npos) v.LastName = c.CallerName.substr(blank + 1);
    v.Color = c.ColorOn;
    v.Line = c.LineNumber;
    v.Device = c.DeviceName;
    v.UserNumber = c.CurrentUserNumber;
    v.MinutesLeft = c.CallMinutes - long(Now() - c.LogonTime) / 60;
    return v;
}

std::string ExitInfoPath() {
    const ConfigRecord& cfg = Config();
    std::string path = cfg.DataDir + "/exitinfo";
    if (cfg.MultiLine) path += FormatChecked("%03d", int(Call().LineNumber));
    return path;
}

int WriteExitInfo() {
    const CallState& c = Call();
    ExitInfoRecord r;
    r.Speed = int32_t(GetLineSpeed());
    r.LastCall = c.PreviousCall;
    r.TimeLog = c.TimeLogLoaded;
    r.User = c.User;
    r.DoorByte1 = gDoorBytes[0];
    r.DoorByte2 = gDoorBytes[1];
    std::tm on{};
    localtime_r(&c.LogonTime, &on);
    r.LogonTime = FormatTime(on);
    r.LogonDate = FormatDate(on);
    r.CallMinutes = c.CallMinutes;
    r.SecondsOn = int32_t(Now() - c.LogonTime);
    r.Credit = c.User.Credit;
    r.UserNumber = c.CurrentUserNumber;
    r.HighestRead = c.HighestRead;
    r.PagesMade = c.PagesMade;
    gOfferedKb = int32_t(c.DownloadLimitKB) - gDoorDownloadKb;
    r.DownloadKb = gOfferedKb;
    r.TimeNow = TimeString();
    r.Password = CurrentPassword();
    r.Paging = PagingFlag() ? 1 : 0;

    // It holds the caller's password: readable by the board's user alone,
    // also when an older file was left with another mode.
    std::string path = ExitInfoPath();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        WriteLog("Cannot write %s: %s", path, std::strerror(errno));
        return 0;
    }
    ExitInfoBytes bytes = EncodeExitInfo(r);
    bool ok = fchmod(fd, 0600) == 0 && WriteFully(fd, bytes.data(), bytes.size());
    if (close(fd) != 0) ok = false;
    if (!ok) WriteLog("Cannot write %s: %s", path, std::strerror(errno));
    return ok ? 1 : 0;
}

int ReadExitInfo() {
    CallState& c = Call();
    std::string path = ExitInfoPath();
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    ExitInfoBytes bytes{};
    bool whole = ReadFully(fd, bytes.data(), bytes.size());
    close(fd);
    unlink(path.c_str());
    if (!whole) return 0;
    ExitInfoRecord r = DecodeExitInfo(bytes.data());
    // A file some other program left there is not this call's state.
    if (r.UserNumber != c.CurrentUserNumber || r.User.Name != c.User.Name) {
        WriteLog("%s does not belong to this caller; nothing taken back", path);
        return 0;
    }

    c.PreviousCall = r.LastCall;
    if (!c.TimeLogLoaded.Date.empty()) c.TimeLogLoaded = r.TimeLog;
    c.User = r.User;
    c.User.Credit = r.Credit;
    // Numbers that index the call's tables are held to their ranges.
    c.User.MsgArea = Clamp<int16_t>(c.User.MsgArea, 0, int16_t(Config().MsgAreas.size() - 1));
    c.User.FileArea = Clamp<int16_t>(c.User.FileArea, 0, int16_t(Config().FileAreas.size() - 1));
    c.User.ClearScreenLength =
        Clamp<uint8_t>(c.User.ClearScreenLength, 0, uint8_t(c.User.ClearScreenCodes.size()));
    gDoorBytes[0] = r.DoorByte1;
    gDoorBytes[1] = r.DoorByte2;
    c.HighestRead = std::max<int32_t>(r.HighestRead, 0);
    c.PagesMade = std::max<int16_t>(int16_t(uint16_t(uint32_t(r.PagesMade))), 0);
    // What the program lowered the allowance by is what it used.
    int64_t used = int64_t(gOfferedKb) - r.DownloadKb;
    gDoorDownloadKb = Clamp<int16_t>(gDoorDownloadKb + used, std::numeric_limits<int16_t>::min(),
                                     std::numeric_limits<int16_t>::max());
    SetPagingFlag(r.Paging != 0);
    return 1;
}

int RunExternal(int pause, int transfer, int quiet, const std::string& command) {
    const int notRun = transfer ? -1 : 0;
    if (command.empty()) return notRun;
    CallState& c = Call();

    std::string line;
    CommandFlags flags;
    switch (ExpandCommand(command, CallCommandValues(), line, flags)) {
        case Expansion::kDone: break;
        case Expansion::kTooLong:
            WriteLog("Command refused, longer than %d characters: %.60s", int(kCommandRoom), command);
            return notRun;
        case Expansion::kCodeInQuotes:
            WriteLog("Command refused, a * code inside quotes: %.80s", command);
            return notRun;
    }

    time_t started = Now();
    if (pause) {
        if (c.User.Options & USER_CLEAR_SCREEN) EraseScreen();
        else PutLine();
        SetColorPair(kColorWarning);
        PutLine(Config().ShellNotice);
        PutLine();
        ResetAttributes();
    } else {
        PutLine();
    }

    bool dropFile = !flags.NoDropFile;
    if (dropFile && !WriteExitInfo()) {
        LogText(100, "exitinfo");
        dropFile = false;
    }
    if (flags.TerminalModes) RestoreTtyMode();
    int mark = transfer ? kLineTransfer : kLineExternal;
    if (transfer) {
        SetLineStatus(c.LineNumber, kLineTransfer, 1);
    } else if (!quiet) {
        LogText(101, line);
        SetLineStatus(c.LineNumber, kLineExternal, 1);
    }

    int status;
    {
        LineHandOver handOver(transfer != 0);
        status = RunShell(line);
    }

    if (transfer || !quiet) SetLineStatus(c.LineNumber, mark, 0);
    ResetAttributes();
    if (dropFile && !ReadExitInfo()) LogText(102, "exitinfo");
    if (flags.TerminalModes) SetRawMode();
    if (flags.CreditTime) {
        auto minutes = int16_t((Now() - started) / 60);
        c.CallMinutes = int16_t(c.CallMinutes + minutes);
        c.User.MinutesToday = int16_t(c.User.MinutesToday - minutes);
    }
    if (!transfer && flags.ClearPaging && status != -1) SetPagingFlag(false);
    if (pause) {
        SetColorPair(kColorPrompt);
        PutString(GetText(103));
        SetColorPair(kColorNormal);
        GetKey();
    }
    PutLine();
    if (transfer) return int16_t(ExitStatus(status));
    return status != -1 ? 1 : 0;
}

}  // namespace kv::caller
