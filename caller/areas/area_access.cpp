// Message-area access and the area list.
#include "caller/areas/area_access.h"

#include <cstdlib>
#include <functional>
#include <string>

#include "caller/areas/file_areas.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
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

// Whether the list for right kind shows area: a restricted area is offered
// for writing only to whoever may act as its sysop.
bool Listed(int area, int kind) {
    if (!CanUseMessageArea(area, kind)) return false;
    return kind != kAreaWrite || Config().MsgAreas[size_t(area)].PostingMode != 3 ||
           CanUseMessageArea(area, kAreaSysop);
}

// The number and name of an entry of the plain form: the caller's current
// area stands out in the warning colour.
void PutPlainEntry(int area, const std::string& name, bool current) {
    SetColorPair(kColorTitle);
    PutString(FormatChecked("  %3d - ", area + 1));
    SetColorPair(current ? kColorWarning : kColorNormal);
    PutString(FormatChecked("%-30.30s ", name));
}

void PutScanEntry(int area, const std::string& name) {
    SetColorPair(kColorTitle);
    PutString(FormatChecked("  %3d - ", area + 1));
    SetColorPair(kColorNormal);
    PutString(name + " ");
    SetColorPair(kColorTitle);
    if (name.size() < 21) PutString(std::string(21 - name.size(), '.'));
    SetColorPair(kColorWarning);
    PutString(GetText(IsAreaSelected(Call().User.ScanAreas, area) ? 198 : 199));
}

// One list of areas to choose from: message areas or file areas.
struct AreaList {
    int count;                               // areas 0 to count-1
    std::function<bool(int)> defined;        // the area is set up at all
    std::function<bool(int)> listed;         // the caller sees it in the list
    std::function<bool(int)> allowed;        // the caller may choose it
    std::function<void(int)> entry;          // prints its entry
    bool scan;                               // the scan form: no line end after a half row
};

// Lists the areas two to a row, polling for
// the stop and pause keys, paging when the caller wants pauses, and asks
// for a number.  The number typed, from 1, or 0.
int ChooseFromList(const AreaList& list, bool clear, bool title) {
    bool any = false;
    for (int a = 0; a < list.count && !any; ++a) any = list.defined(a);
    if (!any) {
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
    for (int area = 0; area < list.count; ++area) {
        if (list.listed(area)) {
            list.entry(area);
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

    if (inRow != 0 && !list.scan) PutLine();
    int number = AskNumber(GetText(201), lastListed);
    if (number != 0 && !list.allowed(number - 1)) {
        PutColorText(GetText(202), true, false, 2, kColorWarning);
        return 0;
    }
    return number;
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
    AreaList list{kMsgAreaCount,
                  [](int a) { return Config().MsgAreas[size_t(a)].AreaDefined != 0; },
                  [kind](int a) { return Listed(a, kind); },
                  [kind](int a) { return CanUseMessageArea(a, kind) != 0; },
                  [scan](int a) {
                      std::string name = Config().MsgAreas[size_t(a)].AreaName;
                      TrimRight(name);
                      if (scan)
                          PutScanEntry(a, name);
                      else
                          PutPlainEntry(a, name, a == Call().User.MsgArea);
                  },
                  scan};
    return ChooseFromList(list, clear, title);
}

int ChooseFileArea(bool clear, bool title) {
    AreaList list{kFileAreaCount,
                  [](int a) { return Config().FileAreas[size_t(a)].AreaDefined != 0; },
                  [](int a) { return CanUseFileArea(a, kFileList) != 0; },
                  [](int a) { return CanUseFileArea(a, kFileList) != 0; },
                  [](int a) {
                      std::string name = Config().FileAreas[size_t(a)].AreaName;
                      TrimRight(name);
                      PutPlainEntry(a, name, a == Call().User.FileArea);
                  },
                  false};
    return ChooseFromList(list, clear, title);
}

}  // namespace kv::caller
