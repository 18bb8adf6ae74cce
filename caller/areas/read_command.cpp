// The read command and its reading modes.
#include "caller/areas/read_command.h"

#include <cstdlib>

#include "caller/areas/area_access.h"
#include "caller/areas/message_display.h"
#include "caller/areas/message_scan.h"
#include "caller/areas/reader.h"
#include "caller/areas/reader_search.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/files.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {

namespace {


constexpr int kModeCount = 8;

void PauseSeconds(int seconds) { PutColorText("", false, false, seconds, kColorNormal); }

void Warn(int text, int seconds) { PutColorText(GetText(text), true, false, seconds, kColorWarning); }

char Plural(int64_t n) { return n > 1 ? 's' : ' '; }

// The reader or the scan over what a mode found.
void ReadOrScan(const MessageList* list, int area, int32_t start, int direction, int style, bool prompted) {
    if (style == 0)
        ReadMessages(list, area, start, direction, prompted);
    else
        ScanMessages(list, area, start, direction, style);
}

bool AskContinuousFor(int style) { return style == 0 && AskContinuous(); }

// A number typed for a mode: true with the answer, false when the caller
// quit (ESC, or the quit letter first).
bool AskNumber(const std::string& prompt, int max, char quit, std::string& answer) {
    answer.clear();
    AskInput(true, false, prompt, answer, max);
    bool quits = !answer.empty() && (answer[0] == kKeyEsc || ToUpperChar(answer[0]) == quit);
    if (quits) {
        EraseChar();
        PutLine(GetText(229));
    }
    return !quits;
}

void ReadFromNumber(int area, int32_t lowest, int32_t highest, int direction, int style, const std::string& keys) {
    std::string answer;
    std::string prompt = FormatText(268, GetText(direction == kForward ? 269 : 270));
    if (!AskNumber(prompt, 5, keys[kModeQuit], answer)) return;
    PutLine();
    long n = std::atol(answer.c_str());
    if (n <= 0) n = direction == kForward ? lowest : highest;
    int32_t found = direction == kForward ? FindNextMessage(area, int32_t(n - 1), false)
                                          : FindPrevMessage(area, int32_t(n + 1), -1, false);
    if (found < 0) {
        PutColorText(GetText(271), true, false, 2, kColorNormal);
        return;
    }
    ReadOrScan(nullptr, area, found, direction, style, AskContinuousFor(style));
}

void ReadOneNumber(int area, int style) {
    std::string answer;
    AskInput(true, false, GetText(272), answer, 5);
    if (answer.empty() || answer[0] == kKeyEsc || ToUpperChar(answer[0]) == 'Q') {
        if (!answer.empty()) EraseChar();
        PutColorText(GetText(229), true, false, 2, kColorNormal);
        return;
    }
    PutLine();
    long n = std::atol(answer.c_str());
    if (n < 1) {
        PutColorText(GetText(274), true, false, 2, kColorNormal);
        return;
    }
    int32_t found = FindNextMessage(area, int32_t(n), true);
    if (found < 0) {
        PutColorText(FormatText(273, int(n)), true, false, 2, kColorNormal);
        return;
    }
    MessageList one;
    one.positions.push_back(found);
    ReadOrScan(&one, area, 0, kForward, style, true);
}

void ReadNewMessages(int area, int32_t highest, int style) {
    const UserRecord& me = Call().User;
    int32_t found = kNotFound;
    if (me.HighestRead < highest) {
        int32_t start = area == kAllSelectedAreas ? me.HighestRead
                                                  : int32_t(CallerLastRead().LastRead[size_t(area)]);
        found = FindNextMessage(area, start, false);
    }
    if (found < 0) {
        if (Call().ColorOn)
            SetColorPair(kColorWarning);
        else
            SetBold();
        SetBlink();
        PutString(GetText(267));
        ResetAttributes();
        PutLine();
        PauseSeconds(2);
        return;
    }
    ReadOrScan(nullptr, area, found, kForward, style, AskContinuousFor(style));
}

void SearchAndRead(int area, int count, int32_t lowest, int32_t highest, int32_t total, int style) {
    const std::string fieldKeys = GetText(278);
    SetColorPair(kColorHighlight);
    PutLine(GetText(277));
    PutHotKeyText(GetText(279), kColorTitle, kColorHighlight);
    SetColorPair(kColorPrompt);
    PutString(GetText(280));
    if (fieldKeys.size() < 4) return;
    char field = 0;
    while (field == 0) {
        int k = GetKey();
        char typed = k == '\r' || k == '\n' ? fieldKeys[3] : ToUpperChar(char(k));
        if (typed != ' ' && fieldKeys.find(typed) != std::string::npos) field = typed;
    }
    static constexpr int kFieldTexts[3][2] = {{281, 282}, {283, 284}, {285, 286}};
    size_t which = fieldKeys.find(field);
    if (which == 3) {
        PutLine(GetText(275));
        return;
    }
    PutLine(GetText(kFieldTexts[which][0]));
    SetColorPair(kColorKeys);
    PutString(GetText(kFieldTexts[which][1]));
    SetColorPair(kColorNormal);
    std::string text;
    InputLine(true, 35, text);
    PutLine();
    if (text.empty() || text[0] == kKeyEsc) return;

    ShowReadingTitle(area, count, lowest, highest, total, false);
    std::string answer;
    AskInput(true, false, GetText(287), answer, 9);
    if (!answer.empty() && (answer[0] == kKeyEsc || ToUpperChar(answer[0]) == 'Q')) return;
    PutLine();
    long n = std::atol(answer.c_str());
    if (n <= 0) n = lowest - 1;
    int32_t start = FindNextMessage(area, int32_t(n), false);
    if (start < 0) {
        Warn(271, 3);
        return;
    }
    MessageList hits;
    if (SearchMessages(area, start, text, field, hits, fieldKeys) < 1) {
        Warn(288, 3);
        return;
    }
    ReadOrScan(&hits, area, 0, kForward, style, AskContinuousFor(style));
}

}  // namespace

int CountAreaMessages(int area, int32_t& lowest, int32_t& highest, int32_t& total) {
    lowest = highest = total = 0;
    MsgInfoRecord info;
    if (!ReadMessageInfo(info)) return -1;
    lowest = info.LowestNumber;
    highest = info.HighestNumber;
    total = info.TotalMessages;
    if (area != kAllSelectedAreas) return area >= 0 && area < kMsgAreaCount ? info.AreaCounts[size_t(area)] : 0;
    int sum = 0;
    for (int a = 0; a < kMsgAreaCount; ++a)
        if (Config().MsgAreas[size_t(a)].AreaDefined && CanUseMessageArea(a, kAreaRead) &&
            IsAreaSelected(Call().User.ScanAreas, a))
            sum += info.AreaCounts[size_t(a)];
    return sum;
}

char AskReadingMode(const std::string& keys) {
    SetColorPair(kColorNormal);
    SetNonBlocking(true);
    char answer = 0;
    // The menu answers while it prints: a mode key ends it at once.
    for (int text : {256, 257}) {
        for (char c : GetText(text)) {
            if (c == ']') {
                if (Call().ColorOn)
                    SetColorPair(kColorNormal);
                else
                    ResetAttributes();
            }
            PutChar(uint8_t(c));
            if (c == '[') {
                if (Call().ColorOn)
                    SetColorPair(kColorTitle);
                else
                    SetBold();
            }
            int index = 255;
            if (HotKeyPressed(index, kModeCount, keys)) {
                answer = keys[size_t(index)];
                break;
            }
        }
        if (answer) break;
        PutLine();
    }
    SetNonBlocking(false);
    SetColorPair(kColorPrompt);
    if (answer) {
        PutLine();
        return answer;
    }
    answer = char(ChoicePrompt(GetText(258), true, false, true, false, keys));
    size_t pos = keys.find(answer);
    PutLine(pos < kModeCount ? GetText(259 + int(pos)) : "");
    return answer;
}

void ShowReadingLegend(const std::string& keys) {
    const char rule = Call().ColorOn ? char(0xC4) : '-';
    PutLine();
    SetColorPair(kColorPrompt);
    RepeatChar(' ', 10, false);
    RepeatChar(rule, 40, true);
    for (size_t pos = 0; pos < kModeCount && pos < keys.size(); ++pos) {
        RepeatChar(' ', 12, false);
        SetColorPair(kColorWarning);
        PutChar(uint8_t(keys[pos]));
        SetColorPair(kColorNormal);
        PutLine(GetText(248 + int(pos)));
    }
    SetColorPair(kColorPrompt);
    RepeatChar(' ', 10, false);
    RepeatChar(rule, 40, true);
}

void ShowReadingTitle(int area, int count, int32_t lowest, int32_t highest, int32_t total, bool marked) {
    if (Call().ColorOn) SetColor(15, 0);
    if (marked)
        PutLine(FormatText(692, MarkedList().count()));
    else if (area == kAllSelectedAreas)
        PutLine(FormatText(290, count, Plural(count)));
    else
        PutLine(FormatText(289, MessageAreaName(area), count, Plural(count)));
    SetColorPair(kColorTitle);
    PutLine(FormatText(291, total, Plural(total), lowest, highest));
}

void StartReading(int area, int count, int32_t lowest, int32_t highest, int32_t total, char key, int style,
                  const std::string& keys) {
    switch (keys.find(key)) {
        case kModeNew:
            ReadNewMessages(area, highest, style);
            break;
        case kModeForward:
        case kModeBackward:
            ShowReadingTitle(area, count, lowest, highest, total, false);
            ReadFromNumber(area, lowest, highest, keys.find(key) == kModeForward ? kForward : kBackward, style, keys);
            break;
        case kModeNumber:
            ShowReadingTitle(area, count, lowest, highest, total, false);
            ReadOneNumber(area, style);
            break;
        case kModeMarked:
            if (MarkedList().positions.empty()) {
                Warn(276, 3);
                break;
            }
            ShowReadingTitle(area, count, lowest, highest, total, true);
            ReadOrScan(&MarkedList(), area, 0, kForward, style, AskContinuousFor(style));
            break;
        case kModeSearch:
            SearchAndRead(area, count, lowest, highest, total, style);
            break;
        default:
            break;
    }
}

void ReadMessagesCommand(const std::string& argument, int style) {
    int area = 0;
    if (MatchPrefix("/M", argument, 2)) {
        area = Call().User.MsgArea + 1;
    } else {
        long n = std::atol(argument.c_str());
        if (n == kAllSelectedAreas) {
            area = kAllSelectedAreas;
        } else if (n >= 1 && n <= kMsgAreaCount) {
            if (!CanUseMessageArea(int(n - 1), kAreaRead)) {
                Warn(243, 2);
                return;
            }
            area = int(n);
        } else if (n == 0) {
            area = ChooseMessageArea(kAreaRead, true, true, false);
            if (area == 0) return;
        } else {
            // No such area: refused like one the caller may not read.
            Warn(243, 2);
            return;
        }
    }
    std::string keys = GetText(244);
    if (keys.size() < kModeCount) return;
    if (area != kAllSelectedAreas) --area;

    int32_t lowest = 0, highest = 0, total = 0;
    int count = CountAreaMessages(area, lowest, highest, total);
    if (count < 1) {
        if (count == -1) LogText(245);
        Warn(area == kAllSelectedAreas ? 246 : 247, 3);
        return;
    }
    for (;;) {
        char key = AskReadingMode(keys);
        size_t pos = keys.find(key);
        if (pos == kModeQuit) return;
        if (pos == kModeHelp) {
            if (DisplayFile(1, GetText(646)) == -1) ShowReadingLegend(keys);
            continue;
        }
        StartReading(area, count, lowest, highest, total, key, style, keys);
        return;
    }
}

}  // namespace kv::caller
