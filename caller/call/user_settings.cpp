#include "caller/call/user_settings.h"

#include <cstdint>
#include <cstdlib>

#include "caller/term/call_state.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "common/strings.h"
#include "common/user_record.h"

namespace kv::caller {
namespace {

constexpr int kLocationMax = 25;
constexpr uint32_t kFewestLines = 10;
constexpr uint32_t kMostLines = 52;

// The one frame of the option switches: the bit flipped in its option
// byte, then the text saying which way it went.
void Toggle(uint8_t& options, uint8_t bit, int offText, int onText) {
    PutLine();
    SetColorPair(kColorPrompt);
    options ^= bit;
    PutLine(GetText((options & bit) ? onText : offText));
    SetColorPair(kColorNormal);
    PauseWithSignals(2);
}

void InPair(int pair, const std::string& text, bool lineEnd = true) {
    SetColorPair(pair);
    if (lineEnd) PutLine(text);
    else PutString(text);
    SetColorPair(kColorNormal);
}

}  // namespace

void ToggleClearScreen() { Toggle(Call().User.Options, USER_CLEAR_SCREEN, 153, 154); }
void TogglePageBreak() { Toggle(Call().User.Options, USER_PAGE_BREAK, 155, 156); }
void ToggleHotKeys() { Toggle(Call().User.Options2, USER_HOT_KEYS, 159, 160); }

void ToggleColor() {
    CallState& c = Call();
    PutLine();
    SetColorPair(kColorPrompt);
    c.User.Options ^= USER_ANSI;
    bool on = (c.User.Options & USER_ANSI) != 0;
    if (on) {
        c.ColorOn = true;
        SetColorPair(kColorPrompt);
    } else {
        // The off text already comes in plain attributes.
        c.ColorOn = false;
        ResetAttributes();
    }
    PutLine(GetText(on ? 158 : 157));
    SetColorPair(kColorNormal);
    PauseWithSignals(2);
}

void ToggleFullScreenEditor() {
    CallState& c = Call();
    if (!c.AnsiOn) {
        InPair(kColorWarning, GetText(701));
        PauseWithSignals(3);
        return;
    }
    PutLine();
    SetColorPair(kColorPrompt);
    c.User.Options ^= USER_FULL_EDITOR;
    PutLine(GetText((c.User.Options & USER_FULL_EDITOR) ? 700 : 699));
    SetColorPair(kColorNormal);
    PauseWithSignals(3);
}

void ToggleDoNotDisturb() {
    CallState& c = Call();
    Toggle(c.User.Options, USER_NO_DISTURB, 162, 161);
    SetLineStatus(c.LineNumber, kLineNoDisturb, (c.User.Options & USER_NO_DISTURB) ? 1 : 0);
}

void ChangeLocation() {
    CallState& c = Call();
    bool changed = false;
    for (;;) {
        SetColorPair(kColorPrompt);
        PutLine(GetText(145) + c.User.Location);
        PutString(GetText(146));
        SetColorPair(kColorNormal);
        std::string typed;
        InputLine(true, kLocationMax, typed);
        PutLine();
        if (typed.empty() || typed == kEscAnswer) break;
        CapitalizeName(typed);
        PutString(GetText(147));
        InPair(kColorKeys, typed);
        if (ChoicePrompt(GetText(34), true, true, true, false, GetText(35)) == c.YesKey) {
            c.User.Location = typed;
            InPair(kColorWarning, GetText(148));
            changed = true;
            break;
        }
    }
    if (!changed) InPair(kColorPrompt, GetText(149));
    PauseWithSignals(2);
}

void SetScreenLength() {
    UserRecord& u = Call().User;
    PutLine(FormatText(150, int(u.ScreenLength)));
    std::string typed;
    AskInput(true, false, GetText(79), typed, 2);
    PutLine();
    bool changed = false;
    if (!typed.empty() && typed != kEscAnswer) {
        // A decimal number as typed: "1x" is no length.
        char* end = nullptr;
        long n = std::strtol(typed.c_str(), &end, 10);
        if (*end == '\0' && n >= long(kFewestLines) && n <= long(kMostLines)) {
            changed = uint32_t(n) != u.ScreenLength;
            u.ScreenLength = uint32_t(n);
        } else {
            InPair(kColorWarning, GetText(80));
        }
    }
    InPair(kColorPrompt, GetText(changed ? 151 : 152));
    PauseWithSignals(2);
}

void ChangePhone(int label, std::string& field) {
    const std::string name = GetText(label);
    PutLine(FormatText(163, name, field));
    std::string typed;
    InputPhone(name, typed);
    bool yes = ChoicePrompt(FormatText(164, typed), true, true, true, false, GetText(35)) == Call().YesKey;
    if (yes) field = typed;
    InPair(kColorPrompt, FormatText(yes ? 165 : 166, name));
    PauseWithSignals(2);
}

void ChangeHomePhone() { ChangePhone(82, Call().User.HomePhone); }
void ChangeDataPhone() { ChangePhone(83, Call().User.DataPhone); }

}  // namespace kv::caller
