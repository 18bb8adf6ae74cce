#include "caller/call/user_list.h"

#include <algorithm>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

constexpr int kPatternRoom = 35;
// Lines of a page kept free for the header and the pause prompt.
constexpr int kPageReserve = 3;
// The alternating colours of the other callers' lines.
constexpr int16_t kFirstLineColor = 9, kSecondLineColor = 3;

// Puts text into line at column, cut to width characters.
void PutField(std::string& line, size_t column, size_t width, const std::string& text) {
    line.replace(column, std::min(width, text.size()), text, 0, width);
}

bool Matches(const UserRecord& r, const std::string& pattern, const std::string& capitalized, bool wild) {
    if (pattern.empty()) return true;
    if (wild && WildMatch(pattern, r.Name)) return true;
    return r.Name.find(pattern) != std::string::npos || r.Name.find(capitalized) != std::string::npos;
}

}  // namespace

std::string FormatUserLine(const UserRecord& record) {
    std::string line(kUserLineWidth, ' ');
    PutField(line, 0, 25, record.Name);
    PutField(line, 25, 20, record.Location);
    PutField(line, 46, 6, std::to_string(record.SecurityLevel));
    PutField(line, 52, 8, std::to_string(record.TotalCalls));
    PutField(line, 60, 8, record.LastCallDate);
    PutField(line, 70, 8, record.LastCallTime);
    return line;
}

void ShowUserListHeader() {
    if (Call().User.Options & USER_CLEAR_SCREEN)
        EraseScreen();
    else
        PutLine();
    SetColorPair(kColorWarning);
    PutLine(GetText(113));
    SetColorPair(kColorKeys);
    RepeatChar('-', 78, false);
    ResetAttributes();
    PutLine();
}

int ListMatchingUsers(const std::string& pattern) {
    const CallState& c = Call();
    std::string capitalized = pattern;
    CapitalizeName(capitalized);
    bool pauses = (c.User.Options & USER_PAGE_BREAK) != 0;
    bool wild = HasWildcard(pattern);
    int matches = 0, lines = 0;
    bool stopped = false, byNoKey = false, headerDue = true, firstColor = true;

    SetNonBlocking(true);
    bool read = ScanUsers([&](int number, const UserRecord& r) {
        if ((number != 0 || Config().ShowSysop) && Matches(r, pattern, capitalized, wild)) {
            ++matches;
            if (headerDue) {
                ShowUserListHeader();
                headerDue = false;
                firstColor = true;
            }
            if (c.ColorOn) {
                if (r.Name == c.User.Name) {
                    SetColorPair(kColorWarning);
                } else {
                    SetColor(firstColor ? kFirstLineColor : kSecondLineColor, 0);
                    firstColor = !firstColor;
                }
            }
            PutString(FormatUserLine(r));
            PutLine();
            ResetAttributes();
            if (pauses && ++lines >= ScreenLength() - kPageReserve) {
                SetNonBlocking(false);
                int key = PausePrompt();
                SetNonBlocking(true);
                PutChar('\r');
                lines = 0;
                if (key == c.NoKey) {
                    stopped = byNoKey = true;
                    return false;
                }
                if (key == '=') pauses = false;
                headerDue = true;
            }
        }
        int index = 0;
        if (HotKeyPressed(index, 2, "SP")) {
            if (index == 0) {
                stopped = true;
                return false;
            }
            SetNonBlocking(false);
            GetKey();
            SetNonBlocking(true);
        }
        return true;
    });
    SetNonBlocking(false);
    if (!read) return 0;
    if (!byNoKey) PutLine();
    if (matches == 0) PutLine(GetText(112));
    return 1;
}

void ListUsers() {
    if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
    PutLine();
    SetColorPair(kColorKeys);
    PutString(GetText(108));
    PutLine(DateString());
    SetColorPair(kColorPrompt);
    PutLine(GetText(109));
    PutString("  : ");
    SetColorPair(kColorNormal);
    std::string pattern;
    InputLine(true, kPatternRoom, pattern);
    PutLine();
    if (!ListMatchingUsers(pattern)) {
        SetColorPair(kColorWarning);
        PutLine(GetText(110));
        ResetAttributes();
        LogText(111);
    }
    SetColorPair(kColorPrompt);
    PutString(GetText(104));
    GetKey();
    ResetAttributes();
    PutLine();
}

}  // namespace kv::caller
