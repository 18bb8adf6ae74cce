#include "caller/call/registration.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "caller/areas/area_access.h"
#include "caller/areas/file_areas.h"
#include "caller/areas/watchdog.h"
#include "caller/call/questionnaire.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/runtime.h"
#include "common/users.h"

namespace kv::caller {
namespace {

constexpr int kPasswordRoom = 15;
constexpr int kLocationRoom = 25;
constexpr int kDefaultScreenLength = 24;
const std::string kEscape = "\x1b";

void Warn(const std::string& text) {
    SetColorPair(kColorWarning);
    PutLine(text);
    SetColorPair(kColorNormal);
}

void Prompt(const std::string& text) {
    SetColorPair(kColorPrompt);
    PutString(text);
    SetColorPair(kColorNormal);
}

// A password as typed, without echo, capitalised; ESC stays ESC.
std::string ReadPassword() {
    std::string typed;
    InputLine(false, kPasswordRoom, typed);
    PutLine();
    return typed == kEscape ? typed : CapitalizePassword(typed);
}

// A yes/no setting of the configuration for a new user: 2 asks the
// question, 1 is yes, anything else no.
bool NewUserChoice(uint8_t setting, int question, int keys) {
    if (setting == 2) return ChoicePrompt(GetText(question), true, true, true, false, GetText(keys)) == Call().YesKey;
    return setting == 1;
}

void SetOption(uint8_t& bits, uint8_t bit, bool on) { bits = on ? uint8_t(bits | bit) : uint8_t(bits & ~bit); }

// One try at a new password: long enough, allowed, different from the
// current one when asked, and typed the same twice.  Empty after ESC or any
// refusal (each refusal rings the bell).
std::string TryNewPassword(const std::string& prompt, bool mustDiffer) {
    Prompt(prompt);
    std::string pw = ReadPassword();
    if (pw == kEscape) return {};
    int refusal = pw.empty() ? 85 : 0;
    switch (refusal == 0 ? CheckNewPassword(pw, Call().CallerName) : PasswordVerdict::kAllowed) {
        case PasswordVerdict::kTooShort: refusal = 85; break;
        case PasswordVerdict::kRefused: refusal = 93; break;
        case PasswordVerdict::kAllowed: break;
    }
    if (refusal == 0 && mustDiffer && pw == CurrentPassword()) refusal = 89;
    if (refusal == 0) {
        Prompt(GetText(86));
        if (ReadPassword() == pw) return pw;
        refusal = 87;
    }
    Warn(GetText(refusal));
    RingBell();
    return {};
}

bool CanReadMessageArea(int area) { return CanUseMessageArea(area, kAreaRead) != 0; }
bool CanListFileArea(int area) { return CanUseFileArea(area, kFileList) != 0; }

}  // namespace

bool NewUserQuestions(const std::string& name) {
    CallState& c = Call();
    const ConfigRecord& cfg = Config();
    UserRecord& u = c.User;
    u.Name = name;

    c.AnsiOn = NewUserChoice(cfg.NewUserAnsi, 693, 35);
    SetOption(u.Options2, USER_NO_ESCAPES, !c.AnsiOn);
    bool color = c.AnsiOn && NewUserChoice(cfg.NewUserColor, 75, 76);
    SetOption(u.Options, USER_ANSI, color);
    c.ColorOn = color;
    if (color) SetColorPair(kColorNormal);
    SetOption(u.Options, USER_CLEAR_SCREEN, NewUserChoice(cfg.NewUserClearScreen, 77, 35));
    SetOption(u.Options, USER_PAGE_BREAK, NewUserChoice(cfg.NewUserPause, 78, 35));

    for (;;) {
        std::string answer;
        AskInput(true, false, GetText(79), answer, 2);
        int lines = kDefaultScreenLength;
        if (answer.empty()) {
            PutString(std::to_string(kDefaultScreenLength));
        } else {
            lines = std::atoi(answer.c_str());
        }
        PutLine();
        if (lines >= 10 && lines <= 52) {
            u.ScreenLength = uint32_t(lines);
            break;
        }
        Warn(GetText(80));
    }

    do {
        u.Location.clear();
        AskInput(false, true, GetText(81), u.Location, kLocationRoom);
    } while (u.Location.empty() || u.Location == kEscape);

    if (cfg.AskHomePhone == 1) InputPhone(GetText(82), u.HomePhone);
    if (cfg.AskDataPhone == 1) InputPhone(GetText(83), u.DataPhone);

    ChooseNewPassword();

    u.FirstCallDate = DateString();
    u.Comment1 = FormatChecked("Inserted by Kivo on %s at %s", DateString(), TimeString());
    u.Comment2 = "Kivo bulletin-board system";
    return true;
}

void ChooseNewPassword() {
    DisplayFile(1, GetText(650));
    std::string pw;
    std::string prompt = FormatText(84, int(Config().MinPasswordLength));
    while (pw.empty()) pw = TryNewPassword(prompt, false);
    Call().User.Password = pw;
    CurrentPassword() = pw;
}

bool ChangePassword(bool forced) {
    if (forced) {
        DisplayFile(1, GetText(651));
    } else {
        PutLine();
    }
    std::string prompt = FormatText(88, int(Config().MinPasswordLength));
    std::string pw;
    do {
        pw = TryNewPassword(prompt, true);
    } while (pw.empty() && forced);
    bool changed = !pw.empty();
    if (changed) {
        LogText(90);
        Warn(GetText(91));
        Call().User.Password = pw;
        Call().User.PasswordCalls = 0;
        CurrentPassword() = pw;
    } else {
        Warn(GetText(92));
    }
    TimedPause(2);
    return changed;
}

bool AskPassword() {
    const ConfigRecord& cfg = Config();
    // The passwords tried go to the account's owner with the watchdog
    // message; a file only this process can read.
    std::string tried;
    FILE* list = nullptr;
    if (cfg.WatchdogArea > 0) {
        char tmpl[] = "/tmp/kvpwdXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) {
            tried = tmpl;
            list = fdopen(fd, "w");
            if (list == nullptr) close(fd);
        }
    }
    bool ok = false;
    for (int i = 0; i < cfg.PasswordTries && !ok;) {
        PutString(GetText(94));
        std::string typed = ReadPassword();
        if (PasswordMatches(Call().User, typed)) {
            CurrentPassword() = CapitalizePassword(typed);
            ok = true;
            break;
        }
        // An Enter alone is no try at the password: a newcomer types one
        // after the single key that confirms the name.  It is asked again,
        // without counting it, logging it or telling the owner.
        if (typed.empty()) continue;
        ++i;
        if (list != nullptr && !typed.empty() && typed != kEscape) std::fprintf(list, "%s\n", typed.c_str());
        LogText(95);
        PutLine(GetText(96));
        RingBell();
    }
    if (list != nullptr) std::fclose(list);
    if (!ok) {
        PostWatchdogMessage(tried);
        PutLine(GetText(97));
    }
    if (!tried.empty()) unlink(tried.c_str());
    return ok;
}

Registration RegisterNewUser(const std::string& name) {
    CallState& c = Call();
    bool registered = false;
    for (;;) {
        // Each round starts from a blank record: no answer of a round the
        // caller rejected stays behind.
        kv::ClearUserRecord(Call().User);
        if (ChoicePrompt(GetText(62), false, true, true, false, GetText(35)) != c.YesKey) break;
        DisplayFile(1, GetText(647));
        NewUserQuestions(name);
        if (ChoicePrompt(GetText(514), false, true, true, false, GetText(35)) == c.YesKey) {
            registered = true;
            break;
        }
    }
    if (!registered) {
        LogText(63);
        DisplayFile(1, GetText(648));
        return Registration::kDeclined;
    }
    DisplayFile(1, GetText(649));
    SetNewUserDefaults(Call().User, CanReadMessageArea, CanListFileArea);
    int number = AppendNewUser(Call().User);
    if (number == kNameTaken) {
        LogText(961, name);
        Warn(GetText(960));
        return Registration::kNameTaken;
    }
    if (number < 0) {
        ShowNewUserNotice();
        return Registration::kRegistered;
    }
    LogText(64);
    c.CurrentUserNumber = number;
    UpdateUserCount();
    if (!AddLastReadRecord(number, CallerLastRead())) LogText(65);
    if (FindPhoneOwner(number, Call().User.DataPhone, Call().User.HomePhone) >= 0) {
        LogText(66);
        Warn(GetText(67));
        TimedPause(3);
    }
    RunQuestionnaire("newuser");
    return Registration::kRegistered;
}

void ShowNewUserNotice() {
    LogText(68);
    RingBell();
    RingBell();
    SetColorPair(kColorWarning);
    for (int t = 69; t <= 72; ++t) PutLine(GetText(t));
    SetColorPair(kColorNormal);
}

void UpdateUserAtLogoff() {
    IgnoreEndSignals();
    CallState& c = Call();
    if (c.CurrentUserNumber >= 0) WriteLastRead(c.CurrentUserNumber, CallerLastRead());
    CallSummary call{c.LogonTime, c.HighestRead};
    if (!kv::UpdateUserAtLogoff(c.User, c.CurrentUserNumber, call)) {
        Warn(GetText(74));
        TimedPause(2);
    }
}

}  // namespace kv::caller
