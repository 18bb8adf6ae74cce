// Header block, body and reader prompt of one message.
#include "caller/areas/message_display.h"

#include <cstdio>
#include <memory>

#include "caller/areas/area_access.h"
#include "caller/areas/line_editor.h"
#include "caller/areas/reader_search.h"
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

// The fixed colours of the block, sent only while the call has colour.
constexpr int16_t kBrightWhite = 15, kYellow = 14, kBrightCyan = 11, kCyan = 3, kGreen = 2;


void Fixed(int16_t color) {
    if (Call().ColorOn) SetColor(color, 0);
}

// Bright white, or plain attributes without colour: the number line.
void NumberLineColor() {
    if (Call().ColorOn)
        SetColor(kBrightWhite, 0);
    else
        ResetAttributes();
}

// One display: header or body, with its hot keys and page counting.
class Display {
public:
    Display(std::string_view hotKeys, DisplayState& state, std::string_view readerKeys)
        : hot_(hotKeys), state_(state), keys_(readerKeys) {
        SetNonBlocking(true);
    }
    ~Display() { SetNonBlocking(false); }

    // A waiting hot key: the pause key waits and gives 0, another hot key
    // is returned; 0 when none.
    int TestHotKey() {
        if (hot_.empty()) return 0;
        int index = 255;
        if (!HotKeyPressed(index, int(hot_.size()), hot_)) return 0;
        char key = hot_[size_t(index)];
        if (keys_.size() > 1 && key == keys_[1]) {
            SetNonBlocking(false);
            GetKey();
            SetNonBlocking(true);
            return 0;
        }
        return static_cast<unsigned char>(key);
    }

    // One more line: at a full page the pause prompt.  Returns the key that
    // ends the display (the stop key), or 0; skipping the rest of the
    // message ends it with 0 and page mode kPageSkip.
    int CountLine(bool& ended) {
        ended = false;
        int mode = state_.pageMode;
        if (mode != kPageStops && mode != kPagePrompted) return 0;
        ++state_.lines;
        SetNonBlocking(false);
        int answer = CheckPageFull(state_.lines);
        SetNonBlocking(true);
        if (answer == 0) return 0;
        if (answer == Call().NoKey) {
            ended = true;
            if (mode == kPageStops) return keys_.empty() ? 0 : static_cast<unsigned char>(keys_[0]);
            state_.pageMode = kPageSkip;
            return 0;
        }
        if (answer == '=') state_.pageMode = mode == kPageStops ? kPageNoStops : kPagePromptedNoStops;
        return 0;
    }

    // After a line: the hot keys, then the page.  True when the display ends
    // here, with key the key to return.
    bool AfterLine(int& key) {
        key = TestHotKey();
        if (key != 0) return true;
        bool ended = false;
        key = CountLine(ended);
        return ended;
    }

    // The close of every display: an empty line, counted.
    void Finish() {
        SetNonBlocking(false);
        PutLine();
        ++state_.lines;
    }

private:
    std::string_view hot_;
    DisplayState& state_;
    std::string_view keys_;
};

void PutStatusWords(const MsgHeader& h) {
    if (!(h.Status & (MSG_RECEIVED | MSG_PRIVATE | MSG_DELETED))) return;
    PutString(" - ");
    if (h.Status & MSG_DELETED) PutString(GetText(327));
    if (h.Status & MSG_RECEIVED) {
        if (Call().ColorOn)
            SetColor(kGreen, 0);
        else
            SetBold();
        PutString(GetText(328));
        NumberLineColor();
    }
    if (h.MailFlags & MAIL_SENT) PutString(GetText(734));
    if (h.Status & MSG_PRIVATE) PutString(GetText(329));
    if (h.Status & MSG_EMAIL) PutString("(E-Mail) ");
}

// A label in yellow and its value in bright cyan, as one header line.
void PutField(int label, std::string_view value) {
    Fixed(kYellow);
    PutString(GetText(label));
    Fixed(kBrightCyan);
    PutLine(value);
}

}  // namespace

std::string MessageAreaName(int area) {
    if (area < 0 || area >= kMsgAreaCount) return "";
    std::string name = Config().MsgAreas[size_t(area)].AreaName;
    return TrimRight(name);
}

int ShowMessageHeader(const MsgHeader& stored, std::string_view hotKeys, DisplayState& state, bool full,
                      std::string_view readerKeys) {
    // Mail stored before the gateway blanked control bytes may still hold
    // escape sequences in its names and subject.
    MsgHeader h = stored;
    BlankHeaderControlBytes(h);
    if (full && (Call().User.Options & USER_CLEAR_SCREEN) && state.pageMode == kPagePrompted) {
        EraseScreen();
        state.lines = 0;
    }
    Display d(hotKeys, state, readerKeys);
    int key = 0;
    // Each line goes out whole, then the keys and the page are looked at.
    auto line = [&](auto&& print) {
        print();
        return d.AfterLine(key);
    };
    bool ended = line([&] {
        NumberLineColor();
        PutString(FormatText(326, h.MsgNumber));
        PutString(MessageAreaName(h.MsgArea));
        PutStatusWords(h);
        PutLine();
    });
    if (!ended) ended = line([&] {
        Fixed(kYellow);
        PutString(GetText(331));
        Fixed(kBrightCyan);
        PutString(h.DateText);
        PutString("  ");
        PutString(h.TimeText);
        PutLine(FormatText(330, h.TimesRead));
    });
    if (!ended) ended = line([&] { PutField(332, h.FromName); });
    if (!ended) ended = line([&] { PutField(333, h.ToName); });
    if (!ended) ended = line([&] { PutField(334, h.Subject); });
    if (!ended && full && (h.ReplyTo != 0 || h.LatestReply != 0)) {
        ended = line([&] {
            Fixed(kYellow);
            PutString(GetText(h.ReplyTo != 0 && h.LatestReply != 0 ? 335 : 336));
            Fixed(kBrightCyan);
            if (h.ReplyTo != 0) PutString(FormatChecked("#%ld <-", long(h.ReplyTo)));
            if (h.LatestReply != 0) PutString(FormatChecked("-> #%ld", long(h.LatestReply)));
            PutLine();
        });
    }
    d.Finish();
    return key;
}

int ShowMessageText(const MsgHeader& h, std::string_view hotKeys, DisplayState& state, bool showControl,
                    std::string_view readerKeys) {
    int result = -1;
    std::string path = MsgBasePath(kMsgTextFile);
    std::unique_ptr<FILE, int (*)(FILE*)> file(path.empty() ? nullptr : std::fopen(path.c_str(), "rb"),
                                               [](FILE* f) { return f ? std::fclose(f) : 0; });
    if (file && h.TextOffset >= 0 && std::fseek(file.get(), h.TextOffset, SEEK_SET) == 0) result = 0;

    if (result == 0) {
        const std::string quote = MakeQuotePrefix(h.ToName);
        Display d(hotKeys, state, readerKeys);
        std::string text;
        bool ended = false;
        int c = 0;
        while (!ended && c != EOF) {
            // One stored line, up to its line feed or the end of the file.
            text.clear();
            while ((c = std::fgetc(file.get())) != EOF && c != '\n') text += char(c);
            if (c == EOF && text.empty()) break;
            if (!text.empty() && text[0] == kTextEndByte) break;
            bool control = !text.empty() && text[0] == kControlByte;
            if (control && !showControl) continue;
            if (control)
                SetColorPair(kColorWarning);
            else if (!quote.empty() && text.compare(0, quote.size(), quote) == 0) {
                if (Call().ColorOn)
                    SetColor(kBrightCyan, 0);
                else
                    SetBold();
            } else if (Call().ColorOn) {
                SetColor(kCyan, 0);
            } else {
                ResetAttributes();
            }
            // The control byte itself is no character to show.
            size_t from = control ? 1 : 0;
            // A long line goes out in pieces, each a screen line of its own.
            do {
                size_t end = std::min(text.size(), from + kScreenLineWidth);
                for (size_t i = from; i < end && !ended; ++i) {
                    if (text[i] == '\t')
                        PutString("        ");
                    else
                        PutChar(uint8_t(text[i]));
                    result = d.TestHotKey();
                    ended = result != 0;
                }
                PutLine();
                if (!ended) ended = d.AfterLine(result);
                from = end;
            } while (!ended && from < text.size());
        }
        d.Finish();
    } else {
        PutLine();
        ++state.lines;
    }
    if (result == -1) LogText(325, h.MsgNumber);
    return result;
}

int ReaderPrompt(const MsgHeader& h, int area, std::string_view allowed, DisplayState& state,
                 const MessageList* list, std::string_view readerKeys) {
    SetColorPair(kColorPrompt);
    const std::string defaults = GetText(313);
    const std::string& me = Call().User.Name;

    if (!list && (h.ReplyTo != 0 || h.LatestReply != 0)) {
        ++state.lines;
        CheckPageFull(state.lines);
        SetColorPair(kColorPrompt);
        if (h.ReplyTo != 0) PutHotKeyText("[-] <- ", kColorTitle, kColorPrompt);
        PutString(GetText(h.ReplyTo != 0 && h.LatestReply != 0 ? 306 : 307));
        if (h.LatestReply != 0) PutHotKeyText("-> [+]", kColorTitle, kColorPrompt);
        PutLine();
    }

    PutHotKeyText(GetText(308), kColorTitle, kColorPrompt);
    if (!list || list->count() > 1) PutHotKeyText(GetText(309), kColorTitle, kColorPrompt);
    if (CanUseMessageArea(area, kAreaWrite)) PutHotKeyText(GetText(310), kColorTitle, kColorPrompt);
    if (CanUseMessageArea(area, kAreaSysop) || (Config().UsersMayDelete && (me == h.ToName || me == h.FromName)))
        PutHotKeyText(GetText(311), kColorTitle, kColorPrompt);
    if (allowed.find("!*XF=") != std::string_view::npos) PutHotKeyText("[!*XF=U], ", kColorTitle, kColorPrompt);
    PutHotKeyText(GetText(312), kColorTitle, kColorPrompt);
    SetColorPair(kColorNormal);

    char key = 0;
    for (;;) {
        int typed = GetKey();
        if (typed == '\r' || typed == '\n') {
            size_t which = list && list->count() == 1 ? 0 : 1;
            if (defaults.size() <= which) continue;
            key = ToUpperChar(defaults[which]);
        } else {
            key = ToUpperChar(char(typed));
        }
        if (key != 0 && key != ' ' && allowed.find(key) != std::string_view::npos) break;
    }
    if (std::string_view("*X=").find(key) == std::string_view::npos) PutChar(uint8_t(key));

    // The command's name after the key, by its place among the reader keys.
    static constexpr int kConfirm[16] = {0, 0, 314, 315, 316, 317, 318, 319, 0, 322, 323, 321, 0, 320, 0, 0};
    size_t pos = readerKeys.find(key);
    if (pos != std::string_view::npos && pos < 16 && kConfirm[pos] != 0) PutString(GetText(kConfirm[pos]));
    PutLine();
    return static_cast<unsigned char>(key);
}

}  // namespace kv::caller
