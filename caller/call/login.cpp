#include "caller/call/login.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "caller/areas/mail_check.h"
#include "caller/call/registration.h"
#include "caller/call/startup.h"
#include "caller/call/text_display.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/display_file.h"
#include "caller/term/limits.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/trash_words.h"
#include "common/users.h"
#include "common/whole_file.h"

namespace kv::caller {
namespace {

constexpr const char* kLastCallFile = "lastcall.bbs";
// The log-in dialogue's own inactivity limit, in seconds.
constexpr uint16_t kLoginInactivity = 120;
constexpr size_t kNameRoom = 35;
constexpr size_t kOneWordRoom = 33;
constexpr uint16_t kNoOtherLine = 65535;
const std::string kEscape = "\x1b";

std::string Trimmed(std::string s) {
    TrimRight(s);
    return std::string(SkipBlanks(s));
}

// A refusal's display file, or its fallback text and a pause to read it.
void ShowRefusal(int displayText, int fallbackText) {
    if (DisplayFile(1, GetText(displayText)) != -1) return;
    PutLine(GetText(fallbackText));
    TimedPause(2);
}

// Asks the name until the caller confirms it.
std::string AskName() {
    const CallState& c = Call();
    for (;;) {
        PutString(GetText(30));
        std::string name;
        InputName(int(kNameRoom), name);
        name = Trimmed(name);
        PutLine();
        bool oneWord = name.find(' ') == std::string::npos;
        if (oneWord && name.size() > kOneWordRoom) {
            PutLine(GetText(31));
            RingBell();
            continue;
        }
        if (oneWord && !name.empty() && !Config().OneWordNames) {
            name += ' ';
            std::string last;
            AskInput(false, true, GetText(32), last, int(kNameRoom - name.size()));
            if (last == kEscape) last.clear();
            name = Trimmed(name + last);
            if (last.empty()) name.clear();
        }
        if (name.empty() || name == kEscape) {
            RingBell();
            continue;
        }
        CapitalizeName(name);
        PutString(GetText(33));
        PutLine(name);
        char key = ChoicePrompt(GetText(34), true, true, true, false, GetText(35));
        if (key == c.YesKey) return name;
        PutLine();
    }
}

// The steps of Login up to a refusal; 1 logged in, -1 refused.
int LoginSteps() {
    CallState& c = Call();
    const ConfigRecord& cfg = Config();
    UserRecord& user = c.User;
    std::string name;

    // A name that another line registers while this caller answers the
    // new-user questions sends the caller back to the name prompt.
    for (bool asking = true; asking;) {
        asking = false;
        if (!c.FastLogon) {
            name = AskName();
            c.AnsiOn = true;
            LogText(36, name, GetLineSpeed(), c.DeviceName);
            if (IsTrashWord(1, name)) {
                DisplayFile(1, GetText(630));
                LogText(40);
                return -1;
            }
        } else {
            LogText(37);
            if (!ReadUserRecord(0, user)) {
                LogText(38);
                return -1;
            }
            name = user.Name;
            c.CurrentUserNumber = 0;
        }
        c.CallerName = name;

        if (!c.FastLogon) {
            c.CurrentUserNumber = FindUser(name, user);
            if (c.CurrentUserNumber < 0) {
                if (cfg.ClosedSystem) {
                    LogText(707);
                    ShowRefusal(655, 706);
                    return -1;
                }
                LogText(39);
                DisplayFile(1, GetText(629));
                Registration r = RegisterNewUser(name);
                if (r == Registration::kDeclined) return -1;
                if (r == Registration::kNameTaken)
                    asking = true;
                else
                    c.LoggedIn = 2;
            }
        }
    }

    if (c.LoggedIn != 2) {
        if (!c.LocalMode) {
            c.ColorOn = (user.Options & USER_ANSI) != 0;
            c.AnsiOn = (user.Options2 & USER_NO_ESCAPES) == 0;
        } else {
            c.AnsiOn = false;
        }
        if (!c.FastLogon && !AskPassword()) return -1;
        c.LoggedIn = 1;
        if (c.FastLogon) CurrentPassword() = CapitalizePassword(user.Password);
        ReadLastRead(c.CurrentUserNumber, CallerLastRead());
    }

    // New users have made no calls yet today.
    if ((c.LoggedIn == 1 || c.FastLogon) && !CheckDailyCalls()) {
        LogText(49);
        ShowRefusal(636, 50);
        return -1;
    }
    if (!UpdateLastCall()) {
        LogText(48);
        return -1;
    }
    if (!c.FastLogon && !IsSysopLevel(user.SecurityLevel) && !(user.Options & USER_IGNORE_LIMITS) &&
        !cfg.AllowRecall && c.CallerName == c.PreviousCall.Name) {
        LogText(41);
        ShowRefusal(631, 42);
        return -1;
    }
    if (!c.FastLogon && !cfg.AllowMultiLogon && c.LoggedIn == 1 &&
        FindUserLine(c.LineNumber, c.CurrentUserNumber) != kNoOtherLine) {
        ShowRefusal(632, 43);
        LogText(44);
        return -1;
    }
    if (!SetLineStatus(c.LineNumber, 5, 0)) LogText(45);
    if (user.Options & USER_NO_DISTURB) SetLineStatus(c.LineNumber, 6, 1);
    if ((user.Options & USER_DELETED) || user.SecurityLevel == 0) {
        LogText(user.SecurityLevel == 0 ? 686 : 685);
        ShowRefusal(663, 687);
        return -1;
    }

    if (!LoadLimits(user.SecurityLevel, GetLineSpeed())) LogText(46);
    c.DailyMinutes = c.CallMinutes;
    c.HighestRead = user.HighestRead;
    c.CallMinutes = int16_t(c.CallMinutes - user.MinutesToday);
    c.LogonTime = Now();
    if (!c.FastLogon) ClosingTimeCut();
    if (cfg.PasswordChangeCalls != 0 && user.PasswordCalls >= cfg.PasswordChangeCalls) ChangePassword(true);
    if (!ReadTimeLog(c.LineNumber, c.TimeLogLoaded)) {
        c.TimeLogLoaded = TimeLogRecord{};
        LogText(47);
    }
    if (!c.FastLogon) {
        DisplayFile(1, GetText(633));
        DisplayFile(1, GetText(634));
    }
    DisplayFile(1, FormatText(637, user.SecurityLevel));
    if (cfg.MailCheckAtLogon) CheckMail();
    DisplayFile(1, GetText(635));
    return 1;
}

}  // namespace

std::string LastCallPath() {
    const ConfigRecord& cfg = Config();
    std::string name = kLastCallFile;
    if (cfg.MultiLine) {
        std::string line = std::to_string(Call().LineNumber);
        size_t dot = name.rfind('.');
        name = dot == std::string::npos ? name + line : name.substr(0, dot) + line + name.substr(dot);
    }
    return cfg.DataDir + "/" + name;
}

int Login() {
    CallState& c = Call();
    c.InactivityOverride = kLoginInactivity;
    int result = LoginSteps();
    c.InactivityOverride = 0;
    if (result == 1) {
        c.LoggedIn = 1;
    } else {
        LogText(51);
    }
    return result;
}

bool CheckDailyCalls() {
    UserRecord& user = Call().User;
    if (DateString() != user.LastCallDate) {
        user.CallsToday = 0;
        user.MinutesToday = 0;
        user.TodayKb = 0;
        return true;
    }
    uint16_t max = Config().MaxCallsPerDay;
    return max == 0 || user.CallsToday < max || IsSysopLevel(user.SecurityLevel) ||
           (user.Options & USER_IGNORE_LIMITS) != 0;
}

int UpdateLastCall() {
    CallState& c = Call();
    std::string path = LastCallPath();
    LastCallRecord rec;
    std::array<uint8_t, LastCallRecord::kSize> bytes{};
    bool fresh = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) {
        WriteLog("Cannot read %s: %s", path, std::strerror(errno));
        return 0;
    }
    if (fd < 0) {
        fresh = true;
    } else {
        ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
        close(fd);
        if (got < 0) {
            WriteLog("Cannot read %s: %s", path, std::strerror(errno));
            return 0;
        } else if (got == 0) {
            fresh = true;  // an empty file: nobody has called yet
        } else if (got != ssize_t(bytes.size())) {
            // A record cut short (a crash mid-write, a full disk) must not
            // lock every caller out: it is started afresh and rewritten whole.
            WriteLog("Record of %s cut short; started afresh", path);
            fresh = true;
        } else {
            DecodeRecord(bytes.data(), rec);
        }
    }
    if (fresh) {
        c.PreviousCall = LastCallRecord{};
        rec.TotalCalls = 1;
        rec.Name = c.CallerName;
        // Without this the first caller of a new board would be refused as
        // calling twice in a row.
        if (!Config().AllowRecall) c.PreviousCall.Name = GetText(674);
    } else {
        c.PreviousCall = rec;
        rec.TotalCalls += 1;
        if (c.CurrentUserNumber != 0 || Config().ShowSysop) rec.Name = c.CallerName;
    }
    EncodeRecord(rec, bytes.data());
    if (!WriteFileWhole(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
        WriteLog("Cannot write %s: %s", path, std::strerror(errno));
        return 0;
    }
    return 1;
}

void ShowBulletins(const std::string& name) {
    if (name.size() > 7 || !FileExists(name, kAsciiDisplay)) return;
    for (;;) {
        DisplayFile(1, name);
        SetColorPair(kColorPrompt);
        PutString(Config().BulletinPrompt);
        SetColorPair(kColorNormal);
        std::string answer;
        InputLine(true, int(8 - name.size()), answer);
        PutLine();
        if (answer.empty() || answer[0] == ' ') return;
        // The answer picks a bulletin beside the menu's file, never a path.
        std::string bulletin = name + answer;
        bool oneName = answer.find('/') == std::string::npos && answer.find("..") == std::string::npos;
        bool there = FileExists(bulletin, kAsciiDisplay) || (Call().ColorOn && FileExists(bulletin, kAnsiDisplay));
        if (oneName && there) {
            ShowFileAndWait(bulletin, true, true);
            PutLine();
        } else {
            SetColorPair(kColorWarning);
            PutLine(GetText(99));
            SetColorPair(kColorNormal);
            TimedPause(1);
        }
    }
}

}  // namespace kv::caller
