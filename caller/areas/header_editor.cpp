// The sysop's message-header editor and the move to another area.
#include "caller/areas/header_editor.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "caller/areas/area_access.h"
#include "caller/areas/message_display.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {

namespace {

constexpr const char* kEditKeys = "123456XQ";
constexpr const char* kFlagKeys = "12345";
enum Entry { kArea = 1, kSender, kRecipient, kSubject, kFlags, kTimesRead, kSave, kQuit };

constexpr size_t kLabelWidth = 39;      // menu labels are held in 40 bytes
constexpr size_t kFlagLabelWidth = 29;  // flag labels in 30
constexpr int kNameMax = 60;
constexpr int kSubjectMax = 70;
constexpr int kCountDigits = 5;

// The flags in the order of their labels (texts 352-356) and their words.
constexpr std::array<uint8_t, 5> kFlagBits = {MSG_DELETED, MSG_EMAIL, MSG_PRIVATE, MSG_RECEIVED, MSG_LOCAL};
constexpr std::array<int, 5> kFlagWords = {327, 364, 329, 328, 365};

std::string Label(int text, size_t width) {
    std::string label = GetText(text);
    if (label.size() > width) label.resize(width);
    return label;
}

std::string EntryValue(const MsgHeader& w, int entry, size_t labelLength) {
    switch (entry) {
        case kArea: return FormatChecked("%d - %s", w.MsgArea + 1, MessageAreaName(w.MsgArea));
        case kSender: return w.FromName;
        case kRecipient: return w.ToName;
        case kSubject: {
            int room = 70 - int(labelLength);
            return FormatChecked("%.*s", room < 0 ? 0 : room, w.Subject);
        }
        case kFlags: {
            std::string words;
            for (size_t f = 0; f < kFlagBits.size(); ++f)
                if (w.Status & kFlagBits[f]) words += GetText(kFlagWords[f]);
            return words;
        }
        case kTimesRead: return FormatChecked("%d", w.TimesRead);
        default: return "";
    }
}

// Waits for one of keys (upper-cased, echoed) or Enter: its place + 1, or
// 0 for Enter.
int ReadChoice(const std::string& keys) {
    SetColorPair(kColorPrompt);
    PutString(GetText(357));
    SetColorPair(kColorNormal);
    for (;;) {
        int k = GetKey();
        if (k == '\r' || k == '\n') return 0;
        char up = ToUpperChar(char(k));
        size_t place = keys.find(up);
        if (up != 0 && place != std::string::npos) {
            PutChar(uint8_t(up));
            return int(place) + 1;
        }
    }
}

// A text field: the prompt, then a new value; an empty answer or ESC keeps
// the old one, so a slip of the Enter key loses nothing.
void EditText(int prompt, int max, bool capitalize, std::string& field) {
    SetColorPair(kColorTitle);
    PutString(GetText(prompt));
    SetColorPair(kColorNormal);
    std::string typed;
    InputLine(true, max, typed);
    PutLine();
    if (typed.empty() || typed[0] == kKeyEsc) return;
    if (capitalize) CapitalizeName(typed);
    field = typed;
}

void EditFlags(MsgHeader& w) {
    for (;;) {
        EditMessageFlags(w);
        int choice = ReadChoice(kFlagKeys);
        PutLine();
        if (choice == 0) return;
        w.Status ^= kFlagBits[size_t(choice - 1)];
    }
}

void EditTimesRead(MsgHeader& w) {
    SetColorPair(kColorTitle);
    PutString(GetText(361));
    SetColorPair(kColorNormal);
    std::string typed = FormatChecked("%d", w.TimesRead);
    std::string overflow;
    // A full input ends by itself: a count that fills the places gets one
    // more, so that the input waits to be edited.
    int room = int(typed.size()) < kCountDigits ? kCountDigits : int(typed.size()) + 1;
    InputLineWrap(false, overflow, room, typed);
    PutLine();
    long count = std::atol(typed.c_str());
    w.TimesRead = count < 0 ? 0 : int32_t(std::min<long>(count, INT32_MAX));
}

}  // namespace

int ShowHeaderEditMenu(const MsgHeader& w, const std::string& keys) {
    SetNonBlocking(true);
    if (Call().AnsiOn) {
        SetColor(15, 0);
        SetBold();
    }
    PutLine(GetText(363));
    // Stored mail may be older than the gateway's blanking of control
    // bytes: shown as blanks, kept as they are unless edited.
    MsgHeader shown = w;
    BlankHeaderControlBytes(shown);
    int chosen = 0;
    for (int entry = kArea; entry <= kQuit && chosen == 0; ++entry) {
        std::string label = Label(343 + entry, kLabelWidth);
        PutHotKeyText(label, kColorKeys, kColorTitle);
        SetColorPair(kColorNormal);
        for (char c : EntryValue(shown, entry, label.size())) {
            PutChar(uint8_t(c));
            int index = 255;
            if (HotKeyPressed(index, int(keys.size()), keys)) {
                chosen = index + 1;
                PutChar(uint8_t(keys[size_t(index)]));
                break;
            }
        }
        PutLine();
    }
    SetNonBlocking(false);
    return chosen;
}

int EditMessageFlags(const MsgHeader& w) {
    PutLine();
    for (size_t f = 0; f < kFlagBits.size(); ++f) {
        PutHotKeyText(Label(352 + int(f), kFlagLabelWidth), kColorKeys, kColorTitle);
        bool set = (w.Status & kFlagBits[f]) != 0;
        if (Call().AnsiOn) SetColor(set ? 4 : 2, 0);
        PutLine(GetText(set ? 198 : 199));
    }
    SetColorPair(kColorNormal);
    return 0;
}

int MoveMessageArea(int32_t record, int from, int to) {
    if (to < 0 || to >= kMsgAreaCount || from < 0 || from >= kMsgAreaCount) return 0;
    MsgBaseLock lock;
    MsgIndexRecord entry;
    if (!lock || !ReadMessageIndex(entry, record)) return 0;
    if (entry.MsgNumber <= 0 || entry.MsgArea != from) return 0;
    entry.MsgArea = int16_t(to);
    if (!WriteMessageIndex(entry, record)) return 0;
    MsgInfoRecord info;
    if (!ReadMessageInfo(info)) return 0;
    if (info.AreaCounts[size_t(from)] > 0) --info.AreaCounts[size_t(from)];
    ++info.AreaCounts[size_t(to)];
    return WriteMessageInfo(info) ? 1 : 0;
}

bool EditMessageHeader(MsgHeader& header, int32_t index) {
    MsgHeader work = header;
    const std::string keys = kEditKeys;
    for (;;) {
        int choice = ShowHeaderEditMenu(work, keys);
        if (choice == 0) choice = ReadChoice(keys);
        PutLine();
        const bool local = work.MsgArea >= 0 && work.MsgArea < kMsgAreaCount &&
                           Config().MsgAreas[size_t(work.MsgArea)].AreaType == 0;
        switch (choice) {
            case kArea:
                // Only into an area where the editor is a sysop as well.
                if (int n = ChooseMessageArea(kAreaSysop, false, true, false); n > 0) work.MsgArea = int16_t(n - 1);
                break;
            case kSender: EditText(358, kNameMax, local, work.FromName); break;
            case kRecipient: EditText(359, kNameMax, local, work.ToName); break;
            case kSubject: EditText(360, kSubjectMax, false, work.Subject); break;
            case kFlags: EditFlags(work); break;
            case kTimesRead: EditTimesRead(work); break;
            case kSave:
                if (work.MsgArea != header.MsgArea && !MoveMessageArea(index, header.MsgArea, work.MsgArea)) {
                    LogText(362, long(work.MsgNumber), work.MsgArea + 1);
                    work.MsgArea = header.MsgArea;
                }
                header = work;
                return true;
            case kQuit: return false;
            default: break;
        }
    }
}

}  // namespace kv::caller
