#include "caller/term/display_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "caller/term/call_state.h"
#include "caller/term/external_programs.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "common/users.h"

namespace kv::caller {
namespace {

constexpr int kTabBlanks = 8;
constexpr const char* kStopPauseKeys = "SP";  // stop, pause
constexpr uint8_t kFlagSet = 254, kFlagClear = 249;  // code-page-437 marks

// Whether "S" may stop a display; a file switches it with ~b and ~c, and
// the setting holds for the next display too.
bool gAbortAllowed = true;

// Closes the file and puts the line back to blocking input however a
// display ends.
class OpenDisplay {
public:
    explicit OpenDisplay(const std::string& path) {
        file_ = std::fopen(path.c_str(), "rb");
        struct stat st {};
        if (file_ != nullptr && (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode))) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    ~OpenDisplay() {
        if (file_ != nullptr) std::fclose(file_);
    }
    OpenDisplay(const OpenDisplay&) = delete;
    OpenDisplay& operator=(const OpenDisplay&) = delete;
    FILE* get() const { return file_; }

private:
    FILE* file_ = nullptr;
};

// Input is non-blocking while a file runs (so keys are polled between
// bytes) and blocking for every real wait inside it.
class BlockingInput {
public:
    BlockingInput() { SetNonBlocking(false); }
    ~BlockingInput() { SetNonBlocking(true); }
    BlockingInput(const BlockingInput&) = delete;
    BlockingInput& operator=(const BlockingInput&) = delete;
};

struct Display {
    FILE* in = nullptr;
    int16_t fg = 7, bg = 0;     // the display's current colours
    bool pausing = false;       // the caller's page pause, ~d/~e
    int pageLength = 23;
    int lines = 0;              // lines since the last pause
    bool lineStart = true;
    bool hot = false;           // keys are a menu's hot keys, not "S"/"P"
    std::string keys;
    bool stopped = false;
    int16_t result = kNoHotKey;
};

std::string YesNo(bool on) { return GetText(on ? 52 : 53); }

std::string AreaName(int area, bool fileArea) {
    const ConfigRecord& cfg = Config();
    if (fileArea) return area >= 0 && area < kFileAreaCount ? cfg.FileAreas[size_t(area)].AreaName : "";
    return area >= 0 && area < kMsgAreaCount ? cfg.MsgAreas[size_t(area)].AreaName : "";
}

int MinutesOnLine() { return int(SecondsSince(Call().LogonTime) / 60); }

std::string FlagMarks(uint8_t bits) {
    bool color = Call().ColorOn;
    std::string out;
    for (int b = 0; b < 8; ++b) {
        bool set = (bits >> b) & 1;
        out += char(color ? (set ? kFlagSet : kFlagClear) : (set ? 'o' : '-'));
    }
    return out;
}

std::string LanguageName() {
    SegmentHeader h;
    if (Call().Segment == nullptr) return "";
    DecodeRecord(Call().Segment, h);
    int lang = h.Language[size_t(Call().MessageFileIndex & 1)];
    return lang < 0 ? "" : GetText(570 + lang);
}

// ~fX: the caller.
std::string CallerValue(int x) {
    const CallState& c = Call();
    const UserRecord& u = Call().User;
    switch (x) {
        case 'a': return c.CallerName;
        case 'b': return u.Location;
        case 'c': return u.Password;
        case 'd': return FormatChecked("%.20s", u.DataPhone);
        case 'e': return FormatChecked("%.20s", u.HomePhone);
        case 'f': return u.LastCallDate;
        case 'g': return u.LastCallTime;
        case 'h': case 'i': case 'j': case 'k': return FlagMarks(u.Flags[size_t(x - 'h')]);
        case 'l': return std::to_string(u.Credit);
        case 'm': return std::to_string(u.MessagesPosted);
        case 'n': return std::to_string(c.HighestRead);
        case 'o': return FormatChecked("%05ld", long(u.SecurityLevel));
        case 'p': return std::to_string(u.TotalCalls + 1);
        case 'q': return std::to_string(u.UploadedFiles);
        case 'r': return std::to_string(u.UploadedKb);
        case 's': return std::to_string(u.DownloadedFiles);
        case 't': return std::to_string(u.DownloadedKb);
        case 'u': return std::to_string(u.MinutesToday + MinutesOnLine());
        case 'v': return std::to_string(u.ScreenLength);
        case 'w': return c.CallerName.substr(0, c.CallerName.find(' '));
        case 'x': return YesNo(c.ColorOn);
        case 'y': return YesNo(u.Options & USER_PAGE_BREAK);
        case 'z': return YesNo(u.Options & USER_CLEAR_SCREEN);
        case '1': return YesNo(u.Options & USER_NO_DISTURB);
        case '2': return YesNo(u.Options2 & USER_HOT_KEYS);
        case '4': return LanguageName();
        default: return "";
    }
}

// ~kX: the system and the call.  The weekday codes write themselves.
std::string SystemValue(int x) {
    const CallState& c = Call();
    const UserRecord& u = Call().User;
    const ConfigRecord& cfg = Config();
    auto info = [] {
        MsgInfoRecord r;
        if (!ReadMessageInfo(r)) r = MsgInfoRecord{};
        return r;
    };
    switch (x) {
        case '<': return cfg.OpenHours.Start;
        case '>': return cfg.OpenHours.End;
        case '{': return cfg.DownloadHours.Start;
        case '}': return cfg.DownloadHours.End;
        case 'a': return std::to_string(c.PreviousCall.TotalCalls);
        case 'b': return c.PreviousCall.Name;
        case 'c': return std::to_string(info().TotalMessages);
        case 'd': return std::to_string(info().LowestNumber);
        case 'e': return std::to_string(info().HighestNumber);
        case 'f': return std::to_string(c.PagesMade);
        case 'g': ShowWeekday(false); return "";
        case 'h': return std::to_string(kv::UpdateUserCount());
        case 'i': return TimeString();
        case 'j': return DateString();
        case 'k': return std::to_string(MinutesOnLine());
        case 'm': return std::to_string(u.MinutesToday + MinutesOnLine());
        case 'o': return std::to_string(c.CallMinutes - MinutesOnLine());
        case 'q': return std::to_string(c.DailyMinutes);
        case 'r': return std::to_string(GetLineSpeed());
        case 's': ShowWeekday(true); return "";
        case 't': return std::to_string(c.DownloadLimitKB);
        case '#': return c.DeviceName;
        case 'w': return std::to_string(c.LineNumber);
        case 'y': return AreaName(u.MsgArea, false);
        case 'z': return AreaName(u.FileArea, true);
        case '0': {
            MsgInfoRecord r = info();
            return u.MsgArea >= 0 && u.MsgArea < kMsgAreaCount ? std::to_string(r.AreaCounts[size_t(u.MsgArea)]) : "0";
        }
        case '1': return std::to_string(u.MsgArea);
        case '2': return std::to_string(u.FileArea);
        case '3': return std::to_string(u.CallsToday + 1);
        case '4': return std::to_string(cfg.MaxCallsPerDay);
        case '5': return std::to_string(cfg.PasswordChangeCalls);
        case '6': return cfg.PagingHours.Start;
        case '7': return cfg.PagingHours.End;
        case '8': return std::to_string(cfg.MaxPages);
        case '9': return cfg.SysopName;
        default: return "";
    }
}

int DefinedMessageAreas() {
    int n = 0;
    for (const MsgAreaDef& a : Config().MsgAreas)
        if (a.AreaDefined != 0) ++n;
    return n;
}

void SetCurrentColors(const Display& d) {
    if (Call().ColorOn) SetColor(d.fg, d.bg);
}

// A line of the file ended: the page pause when the screen is full.
void CountLine(Display& d) {
    if (!d.pausing || ++d.lines < d.pageLength) return;
    int key;
    {
        BlockingInput wait;
        key = PausePrompt();
    }
    if (key == std::toupper(uint8_t(Call().NoKey)))
        d.stopped = true;
    else if (key == '=')
        d.pausing = false;
    d.lines = 0;
    SetCurrentColors(d);
}

// A waiting key: a menu's hot key ends the display; otherwise "P" waits for
// any key and "S" stops, unless the file switched stopping off.
void PollKeys(Display& d) {
    int index;
    if (d.hot) {
        if (HotKeyPressed(index, int(d.keys.size()), d.keys)) {
            d.stopped = true;
            d.result = int16_t(index);
        }
        return;
    }
    if (!HotKeyPressed(index, 2, kStopPauseKeys)) return;
    if (index == 1) {
        BlockingInput wait;
        GetKey();
    } else if (gAbortAllowed) {
        d.stopped = true;
    }
}

// Skips the rest of the line, its line feed included.
void SkipLine(Display& d) {
    for (int c; (c = std::getc(d.in)) != EOF;)
        if (c == '\n') break;
    d.lineStart = true;
}

// ~!N: the word after the code names the text; the blank or line end after
// it is the file's own and is shown as such.
void ShowNumberedText(Display& d) {
    std::string word;
    int c;
    while ((c = std::getc(d.in)) != EOF && c != ' ' && c != '\n' && c != '\r' && c != '\t') word += char(c);
    if (c != EOF) std::ungetc(c, d.in);
    if (!word.empty() && std::isdigit(uint8_t(word[0]))) PutString(GetText(std::atoi(word.c_str())));
}

// ~x: the sysop's command, the file's text up to "|" on this line.
void RunCommand(Display& d) {
    std::string command;
    int c;
    while ((c = std::getc(d.in)) != EOF && c != '|' && c != '\n') command += char(c);
    if (c == '\n') {
        d.lineStart = true;  // no "|": nothing runs, the line is gone
        return;
    }
    if (c == '|' && Config().AllowShellEscapes != 0) RunExternal(0, 0, 0, command);
    SkipLine(d);
}

int ColorDigit(int c, int highest) {
    if (c >= '0' && c <= '9') return c - '0' <= highest ? c - '0' : -1;
    if (c >= 'A' && c <= 'F') return 10 + c - 'A' <= highest ? 10 + c - 'A' : -1;
    return -1;
}

void Macro(Display& d) {
    int code = std::getc(d.in);
    if (code == EOF) return;
    switch (code) {
        case '~': PutChar('~'); break;
        case '!': ShowNumberedText(d); break;
        case '@': PutString(Config().BbsName); break;
        case 'a': {
            BlockingInput wait;
            GetKey();
            break;
        }
        case 'b': gAbortAllowed = false; break;
        case 'c': gAbortAllowed = true; break;
        case 'd': d.pausing = false; break;
        case 'e': d.pausing = true; break;
        case 'f': {
            int x = std::getc(d.in);
            if (x != EOF) PutString(CallerValue(x));
            break;
        }
        case 'g': PutChar(7); break;
        case 'h': PutChar(8); break;
        case 'i': RepeatChar(' ', kTabBlanks, false); break;
        case 'j': PutChar(10); break;
        case 'k': {
            int x = std::getc(d.in);
            if (x != EOF) PutString(SystemValue(x));
            break;
        }
        case 'l':
            if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
            break;
        case 'm': PutChar(13); break;
        case 'r': PutString(std::to_string(DefinedMessageAreas())); break;
        case 'w': TimedPause(1); break;
        case 'x': RunCommand(d); break;
        case '=':
            ResetAttributes();
            d.fg = 7;
            d.bg = 0;
            break;
        case '+': SetBlink(); break;
        case '(': {
            int c = std::getc(d.in);
            if (c == EOF) break;
            ResetAttributes();
            int color = ColorDigit(c, 15);
            if (color >= 0) {
                SetForeground(int16_t(color));
                d.fg = int16_t(color);
            }
            break;
        }
        case ')': {
            int c = std::getc(d.in);
            int color = c == EOF ? -1 : ColorDigit(c, 8);
            if (color >= 0) {
                SetBackground(int16_t(color));
                d.bg = int16_t(color);
            }
            break;
        }
        default: break;  // ~n, ~o, ~p and unknown codes show nothing
    }
}

void ShowBytes(Display& d) {
    for (int c; !d.stopped && (c = std::getc(d.in)) != EOF;) {
        if (d.lineStart && c == '#') {
            SkipLine(d);
        } else {
            d.lineStart = false;
            if (c == '\t') {
                RepeatChar(' ', kTabBlanks, false);
            } else if (c == '\n') {
                PutChar('\n');
                PutChar('\r');
                d.lineStart = true;
                CountLine(d);
            } else if (c == '~') {
                Macro(d);
            } else {
                PutChar(uint8_t(c));
            }
        }
        if (!d.stopped) PollKeys(d);
    }
}

std::string DisplayPath(int mode, const std::string& name) {
    if (mode == 0) return name;
    std::string base = Config().TextDir + "/" + name;
    return base + (Call().ColorOn && FileExists(name, kAnsiDisplay) ? ".ans" : ".asc");
}

// The keys of a menu shown under a missing screen: its letters, from the
// second one on.
std::string KeyLetters(const std::string& keys) {
    std::string letters;
    for (char k : keys)
        if (k != ' ' && k != 0 && uint8_t(k) != 254) letters += k;
    return letters.size() > 1 ? letters.substr(1) : "";
}

}  // namespace

int16_t DisplayFile(int mode, const std::string& name, const std::string& hotKeys, int keyCount) {
    const UserRecord& u = Call().User;
    Display d;
    d.pageLength = ScreenLength() - 1;
    d.pausing = (u.Options & USER_PAGE_BREAK) != 0;
    if (Call().ColorOn) ResetAttributes();

    bool keysGiven = !hotKeys.empty() && keyCount > 0;
    std::string keys = keysGiven ? hotKeys.substr(0, size_t(keyCount)) : std::string();
    d.hot = keysGiven && (u.Options2 & USER_HOT_KEYS) != 0;
    if (d.hot) d.keys = keys;

    OpenDisplay file(DisplayPath(mode, name));
    if (file.get() == nullptr) {
        if (!keysGiven) return -1;
        PutLine();
        PutLine(GetText(99));
        PutLine(">> " + KeyLetters(keys) + " <<");
        return kNoHotKey;
    }
    d.in = file.get();

    SetNonBlocking(true);
    const ColorPair& normal = Config().Colors[kColorNormal];
    d.fg = normal.Foreground;
    d.bg = normal.Background;
    SetCurrentColors(d);
    ShowBytes(d);
    SetNonBlocking(false);
    ResetAttributes();
    return d.result;
}

void ShowWeekday(bool shortForm) {
    std::string day = GetText(23 + LocalNow().tm_wday);
    if (shortForm && day.size() > 3) day.resize(3);
    PutString(day);
}

}  // namespace kv::caller
