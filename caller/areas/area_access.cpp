// Message-area access and the area list.
#include "caller/areas/area_access.h"

#include <cstdlib>
#include <string>

#include "caller/core/call_state.h"
#include "caller/core/prompts.h"
#include "caller/core/screen.h"
#include "caller/core/terminal.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/user_record.h"

namespace kv::caller {
namespace {

// The caller's level reaches level (a signed comparison: a negative level
// is open to everyone) and the caller holds every flag of need.
bool Grants(int32_t level, const FlagGroups& need) {
    const UserRecord& u = Call().User;
    return level <= u.SecurityLevel && HasAllFlags(u.Flags, need);
}

bool AnyAreaDefined() {
    for (const MsgAreaDef& a : Config().MsgAreas)
        if (a.AreaDefined != 0) return true;
    return false;
}

// Whether the list for right kind shows area: a restricted area is offered
// for writing only to whoever may act as its sysop.
bool Listed(int area, int kind) {
    if (!CanUseMessageArea(area, kind)) return false;
    return kind != kAreaWrite || Config().MsgAreas[size_t(area)].PostingMode != 3 ||
           CanUseMessageArea(area, kAreaSysop);
}

void PutEntry(int area, bool scan) {
    const MsgAreaDef& a = Config().MsgAreas[size_t(area)];
    std::string name = a.AreaName;
    TrimRight(name);
    SetColorPair(kColorTitle);
    PutString(FormatChecked("  %3d - ", area + 1));
    bool current = !scan && area == Call().User.MsgArea;
    SetColorPair(current ? kColorWarning : kColorNormal);
    if (!scan) {
        PutString(FormatChecked("%-30.30s ", name));
        return;
    }
    PutString(name + " ");
    SetColorPair(kColorTitle);
    if (name.size() < 21) PutString(std::string(21 - name.size(), '.'));
    SetColorPair(kColorWarning);
    PutString(GetText(IsAreaSelected(Call().User.ScanAreas, area) ? 198 : 199));
}

}  // namespace

int CanUseMessageArea(int area, int kind) {
    if (area < 0 || area >= kMsgAreaCount) return 0;
    const MsgAreaDef& a = Config().MsgAreas[size_t(area)];
    if (a.AreaDefined == 0) return 0;
    switch (kind) {
    case kAreaRead:
        return Grants(a.ReadLevel, a.ReadFlags);
    case kAreaWrite:
        return Grants(a.PostingMode == 3 ? kSysopLevel : a.WriteLevel, a.WriteFlags);
    default:
        return Grants(a.AreaSysopLevel, a.AreaSysopFlags);
    }
}

int ChooseMessageArea(int kind, bool clear, bool title, bool scan) {
    if (!AnyAreaDefined()) {
        PutColorText(GetText(203), true, false, 2, kColorWarning);
        return 0;
    }
    const UserRecord& u = Call().User;
    bool paging = (u.Options & USER_PAGE_BREAK) != 0;
    int pageRows = ScreenLength() - 5;
    if (clear && (u.Options & USER_CLEAR_SCREEN)) EraseScreen();
    PutLine();
    if (title) {
        std::string t = GetText(197);
        int indent = 40 - int(t.size()) / 2;
        PutColorText(std::string(size_t(indent > 0 ? indent : 0), ' ') + t, true, false, 0, kColorKeys);
    }

    // The list polls for the stop and pause keys as it goes.
    SetNonBlocking(true);
    const std::string stopKeys = GetText(200);
    int inRow = 0, rows = 0, lastListed = 0;
    for (int area = 0; area < kMsgAreaCount; ++area) {
        if (Listed(area, kind)) {
            PutEntry(area, scan);
            lastListed = area + 1;
            if (++inRow == 2) {
                PutLine();
                inRow = 0;
                ++rows;
            }
        }
        int key = 255;
        if (HotKeyPressed(key, 2, stopKeys)) {
            if (key == 0) break;
            GetKey();
        }
        if (paging && rows >= pageRows) {
            int answer = PausePrompt();
            if (answer == Call().NoKey) break;
            if (answer == '=') paging = false;
            rows = 0;
        }
    }
    SetNonBlocking(false);

    if (inRow != 0 && !scan) PutLine();
    int number = AskNumber(GetText(201), lastListed);
    if (number != 0 && !CanUseMessageArea(number - 1, kind)) {
        PutColorText(GetText(202), true, false, 2, kColorWarning);
        return 0;
    }
    return number;
}

}  // namespace kv::caller
