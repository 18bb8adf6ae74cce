#include "caller/areas/file_search.h"

#include <fstream>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_listing.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

constexpr int kSearchTextMax = 16;
constexpr int kDateInputMax = 9;

bool AnyFileAreaDefined() {
    for (const FileAreaDef& a : Config().FileAreas)
        if (a.AreaDefined != 0) return true;
    return false;
}

void NoFileAreas() {
    PutLine();
    PutColorText(GetText(530), true, false, 2, kColorWarning);
}

// Every area the caller may list, in order, until the caller stops; then
// the wait for a key.
void SearchAllAreas(int mode, const std::string& text) {
    const UserRecord& u = Call().User;
    if (u.Options & USER_CLEAR_SCREEN)
        EraseScreen();
    else
        PutLine();
    {
        ListingPager pager;
        for (int area = 0; area < kFileAreaCount; ++area) {
            if (Config().FileAreas[size_t(area)].AreaDefined == 0 || !CanUseFileArea(area, kFileList)) continue;
            if (SearchArea(area, pager, mode, text)) break;
        }
    }
    PutColorText(GetText(104), false, false, 0, kColorPrompt);
    GetKey();
    PutLine();
}

// A typed date: eight characters, digits and '/', the '/' third and sixth.
bool IsDateText(const std::string& s) {
    if (s.size() != 8) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        bool slash = i == 2 || i == 5;
        if (slash ? s[i] != '/' : (s[i] < '0' || s[i] > '9')) return false;
    }
    return true;
}

}  // namespace

bool AskSearchText(std::string& text, int mode) {
    PutLine();
    SetColorPair(kColorPrompt);
    PutString(GetText(mode == kSearchKeyword ? 532 : 533));
    SetColorPair(kColorNormal);
    InputLine(true, kSearchTextMax, text);
    PutString("\r\n");
    if (text == kEscAnswer) text.clear();
    return !text.empty();
}

void SearchFiles(int mode) {
    if (!AnyFileAreaDefined()) return NoFileAreas();
    std::string text;
    if (!AskSearchText(text, mode)) return;
    SearchAllAreas(mode, text);
}

void ShowNewFiles(const std::string&) {
    if (!AnyFileAreaDefined()) return NoFileAreas();
    CallState& c = Call();
    std::string date = c.User.LastCallDate;
    int answer = ChoicePrompt(FormatText(534, date), true, true, true, false, GetText(35));
    if (answer == c.NoKey) {
        PutColorText(GetText(535), false, false, 0, kColorPrompt);
        int order = Config().DateOrder;
        PutColorText(GetText(order == 0 ? 536 : order == 1 ? 537 : 538), false, false, 0, kColorWarning);
        PutColorText(") : ", false, false, 0, kColorPrompt);
        SetColorPair(kColorNormal);
        std::string typed;
        InputLine(true, kDateInputMax, typed);
        PutLine();
        if (!IsDateText(typed)) {
            if (!typed.empty() && typed != kEscAnswer) PutColorText(GetText(539), true, false, 2, kColorWarning);
            return;
        }
        date = typed;
    }
    SearchAllAreas(kSearchDate, date);
}

bool SearchArea(int area, ListingPager& pager, int mode, const std::string& text) {
    const FileAreaDef& def = Config().FileAreas[size_t(area)];
    // An entry counts only when its file is in the area's directory.  The
    // directory is asked after the names of the entries that match, not
    // listed whole: a search of a long list shows a few of them.
    DirectoryNames names(def.AreaDir);
    if (!names) return false;
    std::ifstream in(FileListPath(area, def.AreaDir));
    if (!in) return false;

    std::string keyword = text;
    if (mode == kSearchKeyword) LowerCase(keyword);
    bool headed = false;
    std::string line, lower;
    AreaFiles shown{def.AreaDir, area, {std::string()}, {FileInfo{}}};
    while (std::getline(in, line)) {
        FileListLine l = ParseFileListLine(line);
        if (l.Kind != FileLineKind::kEntry) continue;
        std::string name(l.Name);
        FileInfo& info = shown.Infos[0];
        bool match = false;
        if (mode == kSearchKeyword) {
            lower.assign(l.Text);
            match = LowerCase(lower).find(keyword) != std::string::npos && names.Holds(name, &info);
        } else if (mode == kSearchPattern) {
            match = WildMatch(text, l.Name) && names.Holds(name, &info);
        } else {
            match = names.Holds(name, &info) && IsLaterDate(text, info.Date);
        }
        if (!match) continue;
        if (!headed) {
            headed = true;
            PutColorText(GetText(531), false, false, 0, kColorWarning);
            PutColorText(def.AreaName, false, false, 0, kColorTitle);
            if (Call().ColorOn) SetColor(3, 0);
            PutString(" (#" + std::to_string(area + 1) + ")");
            if (!pager.LineEnd()) return true;
            SetColorPair(kColorNormal);
        }
        shown.Names[0] = std::move(name);
        if (!PrintFileEntry(FormatFileEntry(line, shown, 0), 0, pager)) return true;
    }
    if (headed && !pager.LineEnd()) return true;
    return false;
}

}  // namespace kv::caller
