// Area choice, scan selection, the area summary and the text-table switch.
#include "caller/areas/area_choice.h"

#include <array>
#include <cstdlib>
#include <fstream>

#include "caller/areas/area_access.h"
#include "caller/areas/message_display.h"
#include "caller/areas/read_command.h"
#include "caller/areas/reader_search.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/files.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "common/strings.h"

namespace kv::caller {

namespace {

void ClearOrNewLine() {
    if (Call().User.Options & USER_CLEAR_SCREEN)
        EraseScreen();
    else
        PutLine();
}

bool AnyMessageAreaDefined() {
    for (const MsgAreaDef& a : Config().MsgAreas)
        if (a.AreaDefined != 0) return true;
    return false;
}

// A caller of exactly the sysop level sees every defined area in the
// summary; everyone else, a higher level too, what the read test allows.
bool SummaryShows(int area) {
    if (Config().MsgAreas[size_t(area)].AreaDefined == 0) return false;
    return Call().User.SecurityLevel == kSysopLevel || CanUseMessageArea(area, kAreaRead);
}

// The summary row of an area, printed a character at a time so that the
// stop and pause keys act at once.  False when the caller stopped.
bool PutSummaryRow(const std::string& row, bool hasNew, const std::string& hotKeys) {
    if (!hasNew)
        SetColorPair(kColorNormal);
    else if (Call().ColorOn)
        SetColorPair(kColorWarning);
    else
        SetBold();
    bool stopped = false;
    for (char c : row) {
        PutChar(uint8_t(c));
        int key = 255;
        if (HotKeyPressed(key, 2, hotKeys)) {
            if (key == 0) {
                stopped = true;
                break;
            }
            SetNonBlocking(false);
            GetKey();
            SetNonBlocking(true);
        }
    }
    ResetAttributes();
    SetColorPair(kColorNormal);
    PutLine();
    return !stopped;
}

// The rows of the summary, until the caller stops them.
void ListSummaryRows() {
    const std::string hotKeys = GetText(200);
    bool paging = (Call().User.Options & USER_PAGE_BREAK) != 0;
    int rows = 7;
    static const std::string kDots(40, '.');
    for (int area = 0; area < kMsgAreaCount; ++area) {
        if (!SummaryShows(area)) continue;
        PutString(GetText(691));
        int32_t lowest = 0, highest = 0, total = 0;
        int count = CountAreaMessages(area, lowest, highest, total);
        if (count < 0) count = 0;
        int fresh = 0;
        if (count > 0) {
            int32_t first = FindNextMessage(area, int32_t(CallerLastRead().LastRead[size_t(area)]), false);
            if (first >= 0) fresh = CountNewMessages(area, first);
        }
        std::string name = MessageAreaName(area);
        int dots = 40 - int(name.size());
        char mark = fresh == 0 ? ' ' : Call().ColorOn ? char(0xFE) : '*';
        std::string row = FormatChecked("\r%c%s %.*s %5ld     %5ld", mark, name, dots < 0 ? 0 : dots, kDots,
                                        long(fresh), long(count));
        if (!PutSummaryRow(row, fresh > 0, hotKeys)) return;
        if (paging && ++rows >= ScreenLength() - 1) {
            SetNonBlocking(false);
            int answer = PausePrompt();
            SetNonBlocking(true);
            if (answer == Call().NoKey) return;
            if (answer == '=') paging = false;
            rows = 0;
        }
    }
}

}  // namespace

int ChooseCurrentArea(int code) {
    if (code != 49 && code != 50) return 0;
    ClearOrNewLine();
    UserRecord& u = Call().User;
    if (code == 49) {
        int n = ChooseMessageArea(kAreaRead, false, true, false);
        if (n > 0) u.MsgArea = int16_t(n - 1);
        return n;
    }
    int n = ChooseFileArea(false, true);
    if (n > 0) u.FileArea = int16_t(n - 1);
    return n;
}

void SelectScanAreas() {
    for (;;) {
        PutColorText(GetText(398), true, false, 0, kColorKeys);
        int n = ChooseMessageArea(kAreaRead, false, false, true);
        if (n <= 0) return;
        FlipAreaSelection(Call().User.ScanAreas, n - 1);
    }
}

void SetAllScanAreas() {
    const std::string keys = GetText(547);
    if (keys.size() < 3) return;
    PutColorText(GetText(545), true, false, 0, kColorHighlight);
    PutHotKeyText(GetText(546), kColorTitle, kColorHighlight);
    SetColorPair(kColorNormal);
    PutChar(' ');
    for (;;) {
        int k = GetKey();
        char key = k == '\r' || k == '\n' ? keys[2] : ToUpperChar(char(k));
        EraseChar();
        PutChar(k >= 32 && k < 127 ? uint8_t(k) : uint8_t(' '));
        if (key == keys[2] || k == kKeyEsc) break;
        if (key == keys[0] || key == keys[1]) {
            Call().User.ScanAreas.fill(key == keys[0] ? 0 : 255);
            break;
        }
        RingBell();
        EraseChar();
        PutChar(' ');
    }
    PutLine();
}

void ShowAreaSummary() {
    if (!AnyMessageAreaDefined()) {
        PutColorText(GetText(203), true, false, 2, kColorWarning);
    } else {
        ClearOrNewLine();
        SetNonBlocking(true);
        if (Call().ColorOn) SetColor(3, 0);
        PutLine(kProgramTitle);
        PutLine(std::string(std::string(kProgramTitle).size(), '-'));
        int defined = 0;
        for (const MsgAreaDef& a : Config().MsgAreas) defined += a.AreaDefined != 0;
        int32_t lowest = 0, highest = 0, total = 0;
        CountAreaMessages(0, lowest, highest, total);
        SetColorPair(kColorTitle);
        PutLine(FormatText(541, defined));
        PutLine(FormatText(542, long(total)));
        PutLine(FormatText(543, long(lowest), long(highest)));
        SetColorPair(kColorPrompt);
        PutLine(GetText(544));
        SetColorPair(kColorNormal);
        ListSummaryRows();
        SetNonBlocking(false);
    }
    SetColorPair(kColorPrompt);
    PutString(GetText(420));
    GetKey();
    PutLine();
}

int CountNewMessages(int area, int32_t position) {
    if (position < 0) return 0;
    std::string indexPath = MsgBasePath(kMsgIndexFile), headerPath = MsgBasePath(kMsgHeaderFile);
    if (indexPath.empty()) return 0;
    // Both files open once for the whole count, read in step.
    std::ifstream index(indexPath, std::ios::binary), headers(headerPath, std::ios::binary);
    if (!index || !index.seekg(std::streamoff(position) * std::streamoff(MsgIndexRecord::kSize))) return 0;
    std::array<char, MsgIndexRecord::kSize> ib{};
    std::array<char, MsgHeader::kSize> hb{};
    int count = 0;
    for (int32_t pos = position; index.read(ib.data(), ib.size()); ++pos) {
        MsgIndexRecord r;
        DecodeRecord(reinterpret_cast<const uint8_t*>(ib.data()), r);
        if (!AreaMatches(area, r.MsgArea)) continue;
        headers.clear();
        if (!headers.seekg(std::streamoff(pos) * std::streamoff(MsgHeader::kSize)) ||
            !headers.read(hb.data(), hb.size()))
            continue;
        MsgHeader h;
        DecodeRecord(reinterpret_cast<const uint8_t*>(hb.data()), h);
        if (MessageVisible(h)) ++count;
    }
    return count;
}

void SwitchMessageFile(const std::string& argument) {
    int slot;
    if (!argument.empty()) {
        slot = std::atoi(argument.c_str());
        if (slot != 0 && slot != 1) {
            LogText(729, slot);
            return;
        }
    } else {
        slot = Call().MessageFileIndex == 0 ? 1 : 0;
    }
    // SelectMessageFile leaves the binding alone when the slot is empty.
    SelectMessageFile(slot);
}

}  // namespace kv::caller
