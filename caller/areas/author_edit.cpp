// The sysop's quick edit of an author's user record.
#include "caller/areas/author_edit.h"

#include <algorithm>
#include <cstdlib>

#include "caller/areas/area_choice.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"

namespace kv::caller {

namespace {

constexpr int kLocationMax = 25;
constexpr int kLevelDigits = 5;

void Rule() {
    SetColorPair(kColorHighlight);
    PutLine(std::string(80, '-'));
}

// A label in the answer-key colour and its values under it.
void Block(int label, const std::string& values) {
    SetColorPair(kColorKeys);
    PutLine(std::string(12, ' ') + GetText(label));
    SetColorPair(kColorNormal);
    PutLine(std::string(14, ' ') + values);
    PutLine();
}

}  // namespace

int FindAuthorRecord(const std::string& name, UserRecord& record) { return FindUser(name, record); }

void ShowAuthorRecord(const UserRecord& r) {
    if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
    if (Call().ColorOn) SetColor(15, 0);
    PutString(std::string(kProgramTitle) + " ");
    PutChar(0xFE);
    PutLine(GetText(742));
    Rule();
    Block(740, FormatChecked("%-34.34s %s", r.Name, r.Location));
    Block(741, FormatChecked("%-34ld %ld", long(r.SecurityLevel), long(r.TotalCalls)));
    Rule();
}

char AskAuthorField() {
    PutHotKeyText(GetText(739), kColorTitle, kColorPrompt);
    char chosen = 0;
    while (chosen == 0) {
        int k = GetKey();
        if (k == '1' || k == '2') {
            chosen = char(k);
            PutChar(uint8_t(k));
        } else if (k == ' ' || k == '\r' || k == '\n') {
            chosen = ' ';
        } else {
            RingBell();
        }
    }
    PutLine();
    return chosen;
}

bool RewriteAuthorRecord(int n, const UserRecord& edited) {
    UsersFileLock lock;
    UserRecord fresh;
    if (!lock.held() || !ReadUserRecord(n, fresh) || fresh.Name != edited.Name) return false;
    fresh.Location = edited.Location;
    fresh.SecurityLevel = edited.SecurityLevel;
    if (!WriteUserRecord(n, fresh)) return false;
    // The caller's own call writes its copy back at log-off: it must carry
    // the change, or the log-off would undo it.
    if (n == Call().CurrentUserNumber) {
        Call().User.Location = fresh.Location;
        Call().User.SecurityLevel = fresh.SecurityLevel;
    }
    return true;
}

void EditAuthorRecord(const MsgHeader& header) {
    UserRecord record;
    int n = FindAuthorRecord(header.FromName, record);
    if (n < 0) {
        // A sender from outside may hold control bytes: shown as blanks.
        std::string sender = header.FromName;
        BlankControlBytes(sender);
        PutColorText(FormatText(738, sender), true, false, 3, kColorWarning);
        return;
    }
    Call().AcceptHighChars = Call().AnsiOn;
    bool changed = false;
    for (;;) {
        ShowAuthorRecord(record);
        char field = AskAuthorField();
        if (field == '1') {
            PutString(GetText(569));
            SetColorPair(kColorNormal);
            std::string location = record.Location;
            InputName(kLocationMax, location);
            PutLine();
            if (location != record.Location) {
                record.Location = location;
                changed = true;
            }
        } else if (field == '2') {
            PutString(GetText(461) + ": ");
            SetColorPair(kColorNormal);
            std::string typed = FormatChecked("%05ld", long(record.SecurityLevel));
            InputName(std::max<int>(kLevelDigits, int(typed.size())), typed);
            PutLine();
            long level = std::atol(typed.c_str());
            if (level == record.SecurityLevel) continue;
            if (level > Call().User.SecurityLevel) {
                PutColorText(GetText(745), true, false, 2, kColorWarning);
                continue;
            }
            record.SecurityLevel = int32_t(level);
            changed = true;
        } else {
            break;
        }
    }
    Call().AcceptHighChars = false;
    if (changed) RewriteAuthorRecord(n, record);
}

}  // namespace kv::caller
