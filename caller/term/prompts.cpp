#include "caller/term/prompts.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

constexpr size_t kPhoneTemplateMax = 20;
constexpr char kPhoneEndMark = 26;
constexpr size_t kStampMax = 255;
constexpr int kTabBlanks = 8;

char Upper(int c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : char(c); }
char Lower(int c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c); }

bool IsEnter(int k) { return k == '\r' || k == '\n'; }
bool IsErase(int k) { return k == kKeyBackspace || k == kKeyDelete; }

// A byte that line input keeps: printable ASCII, and the high half of the
// code page while the call accepts it.
bool Acceptable(int k) { return (k >= 32 && k < 127) || (k >= 128 && Call().AcceptHighChars); }

// Pair role, only when the caller of a prompt asked for colour at all.
void PairIf(bool colour, int role) {
    if (colour) SetColorPair(role);
}

// A pair of the configuration by number; a number outside the six is black
// on black rather than a slot that does not exist.
void SetPairOrBlack(int pair) {
    if (!Call().ColorOn) return;
    if (pair >= 0 && pair <= 5)
        SetColorPair(pair);
    else
        SetColor(0, 0);
}

// Removes the last character of buffer, on screen too; the bell when there
// is none to remove.
void EraseLast(std::string& buffer) {
    if (buffer.empty()) {
        RingBell();
        return;
    }
    buffer.pop_back();
    EraseChar();
}

// Whether a name's letter at this place is upper case.
bool StartsNamePart(const std::string& typed) {
    if (typed.empty()) return true;
    char prev = typed.back();
    return prev == ' ' || prev == '-' || prev == '\'' || prev == ',';
}

// The editor's wrap at a full line: the last blank or "." after the first
// place splits the line; what comes after it goes to overflow and off the
// screen.  False when the line has no place to split.
bool WrapLastWord(std::string& line, std::string& overflow) {
    size_t at = line.find_last_of(" .");
    if (at == std::string::npos || at == 0) return false;
    size_t cut = line[at] == '.' ? at + 1 : at;
    for (size_t i = cut; i < line.size(); ++i) EraseChar();
    overflow = line.substr(cut);
    line.erase(cut);
    return true;
}

// The shared loop of InputLineWrap and InputName.
void InputEditedLine(bool wrap, bool nameCase, std::string* overflow, int max, std::string& buffer) {
    size_t limit = max > 0 ? size_t(max) : 0;
    if (buffer.size() > limit) buffer.resize(limit);
    PutString(buffer);
    for (;;) {
        if (!nameCase && buffer.size() >= limit) {
            // A full line ends by itself; the editor carries its last word on.
            if (!(wrap && overflow != nullptr && WrapLastWord(buffer, *overflow))) RingBell();
            return;
        }
        int k = GetKey();
        if (k == '\r') return;
        if (IsErase(k)) {
            EraseLast(buffer);
        } else if (k == '\t') {
            if (buffer.size() + kTabBlanks < limit) {
                buffer.append(kTabBlanks, ' ');
                RepeatChar(' ', kTabBlanks, false);
            } else {
                RingBell();
            }
        } else if (Acceptable(k) && buffer.size() < limit) {
            char c = char(k);
            if (nameCase) c = StartsNamePart(buffer) ? Upper(c) : Lower(c);
            buffer += c;
            PutChar(uint8_t(c));
        } else {
            RingBell();
        }
    }
}

}  // namespace

void RingBell() { PutChar(7); }

void EraseChar() { PutString("\b \b"); }

void RepeatChar(char c, int count, bool lineEnd) {
    for (int i = 0; i < count; ++i) PutChar(uint8_t(c));
    if (lineEnd) PutLine();
}

int ChoicePrompt(std::string_view prompt, bool withDefault, bool lineEnd, bool colour, bool highlight,
                 std::string_view keys) {
    if (!prompt.empty()) {
        if (highlight) {
            PutHotKeyText(prompt, kColorTitle, kColorPrompt);
        } else {
            PairIf(colour, kColorPrompt);
            PutString(prompt);
        }
    }
    PairIf(colour, kColorNormal);
    PutString(" [");
    size_t first = 0;
    if (withDefault && !keys.empty()) {
        if (colour && Call().ColorOn)
            SetColorPair(kColorKeys);
        else if (colour)
            SetBold();
        PutChar(uint8_t(Upper(keys[0])));
        if (colour) ResetAttributes();
        PairIf(colour, kColorNormal);
        if (keys.size() > 1) PutChar('/');
        first = 1;
    }
    for (size_t i = first; i < keys.size(); ++i) {
        if (i > first) PutChar('/');
        PutChar(uint8_t(Lower(keys[i])));
    }
    PutString("] : ");

    int key;
    for (;;) {
        key = Upper(GetKey());
        if (withDefault && !keys.empty() && IsEnter(key)) key = Upper(keys[0]);
        if (key != 0 && keys.find(char(key)) != std::string_view::npos) break;
        RingBell();
    }
    PutChar(uint8_t(key));
    if (lineEnd) PutLine();
    if (colour) ResetAttributes();
    return key;
}

int AskInput(bool emptyAllowed, bool nameMode, std::string_view prompt, std::string& buffer, int max) {
    for (;;) {
        SetColorPair(kColorPrompt);
        PutString(prompt);
        SetColorPair(kColorNormal);
        buffer.clear();
        if (nameMode)
            InputName(max, buffer);
        else
            InputLine(true, max, buffer);
        if (emptyAllowed) return int(buffer.size());
        bool esc = buffer == kEscAnswer;
        if (buffer.empty() || esc) {
            PutLine();
            RingBell();
        }
        if (!buffer.empty()) break;
    }
    PutLine();
    return int(buffer.size());
}

int AskNumber(std::string_view prompt, int largest) {
    SetColorPair(kColorPrompt);
    PutString(prompt);
    SetColorPair(kColorNormal);
    std::string answer;
    InputLine(true, largest < 10 ? 1 : largest < 100 ? 2 : 3, answer);
    PutLine();
    if (answer.empty() || answer[0] == kKeyEsc) return 0;
    return std::atoi(answer.c_str());
}

void InputLine(bool echo, int max, std::string& buffer) {
    buffer.clear();
    size_t limit = max > 0 ? size_t(max) : 0;
    while (buffer.size() < limit) {
        int k = GetKey();
        if (k == kKeyEsc) {
            buffer.assign(1, char(kKeyEsc));
            return;
        }
        if (IsErase(k)) {
            EraseLast(buffer);
        } else if (IsEnter(k)) {
            return;
        } else if (Acceptable(k)) {
            buffer += char(k);
            PutChar(echo ? uint8_t(k) : uint8_t('*'));
        } else {
            RingBell();
        }
    }
}

void InputLineWrap(bool wrap, std::string& overflow, int max, std::string& buffer) {
    overflow.clear();
    InputEditedLine(wrap, false, &overflow, max, buffer);
}

void InputName(int max, std::string& buffer) { InputEditedLine(false, true, nullptr, max, buffer); }

void InputPhone(std::string_view prompt, std::string& buffer) {
    std::string tmpl = Config().PhoneTemplate;
    if (tmpl.empty()) tmpl = GetText(513);
    if (tmpl.size() > kPhoneTemplateMax) tmpl.resize(kPhoneTemplateMax);
    tmpl += kPhoneEndMark;

    SetColorPair(kColorPrompt);
    PutString(FormatText(58, std::string(prompt)));
    SetColorPair(kColorNormal);

    buffer.clear();
    size_t at = 0;
    while (at < tmpl.size()) {
        char slot = tmpl[at];
        if (slot != '9' && slot != kPhoneEndMark) {
            // The template's own characters come by themselves.
            SetColorPair(kColorKeys);
            PutChar(uint8_t(slot));
            SetColorPair(kColorNormal);
            buffer += slot;
            ++at;
            continue;
        }
        int k = GetKey();
        if (IsErase(k)) {
            size_t back = tmpl.rfind('9', at == 0 ? 0 : at - 1);
            if (at == 0 || back == std::string::npos) {
                RingBell();
                continue;
            }
            for (; at > back; --at) EraseChar();
            buffer.resize(back);
        } else if (slot == '9' && k >= '0' && k <= '9') {
            PutChar(uint8_t(k));
            buffer += char(k);
            ++at;
        } else if (slot == kPhoneEndMark && IsEnter(k)) {
            break;
        } else {
            RingBell();
        }
    }
    PutLine();
    ResetAttributes();
}

int PausePrompt() {
    ResetAttributes();
    SetColorPair(kColorPrompt);
    PutString(GetText(59));
    SetColorPair(kColorNormal);
    int key = Upper(GetKey());
    PutChar('\r');
    RepeatChar(' ', 74, false);
    PutChar('\r');
    return key;
}

int ScreenLength() {
    // A record without a length (before log-in), or with one no screen has.
    uint32_t n = Call().User.ScreenLength;
    return n == 0 || n > 255 ? 24 : int(n);
}

int CheckPageFull(uint16_t& counter) {
    if (int(counter) < ScreenLength() - 1) return 0;
    int key = PausePrompt();
    counter = 0;
    return key;
}

bool MatchPrefix(std::string_view a, std::string_view b, size_t n) {
    if (b.size() < n || b.size() < a.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

void PutHotKeyText(std::string_view text, int keyPair, int textPair) {
    bool color = Call().ColorOn;
    SetPairOrBlack(textPair);
    char close = 0;
    for (char ch : text) {
        if (close == 0 && (ch == '[' || ch == '(')) {
            PutChar(uint8_t(ch));
            close = ch == '[' ? ']' : ')';
            if (color)
                SetPairOrBlack(keyPair);
            else
                SetBold();
        } else if (close != 0 && ch == close) {
            if (color)
                SetPairOrBlack(textPair);
            else
                ResetAttributes();
            PutChar(uint8_t(ch));
            close = 0;
        } else {
            PutChar(uint8_t(ch));
        }
    }
    SetPairOrBlack(textPair);
}

void PutColorText(std::string_view text, bool lineEnd, bool blink, int seconds, int pair) {
    if (pair == kNoColorPair || !Call().ColorOn)
        ResetAttributes();
    else
        SetPairOrBlack(pair);
    if (blink) SetBlink();
    if (lineEnd)
        PutLine(text);
    else
        PutString(text);
    if (seconds > 0) TimedPause(unsigned(seconds));
    if (blink) ResetAttributes();
}

void StampLog(std::string_view text) {
    const UserRecord& u = Call().User;
    const ConfigRecord& cfg = Config();
    auto msgArea = [&] {
        int a = u.MsgArea;
        return a >= 0 && a < kMsgAreaCount ? cfg.MsgAreas[size_t(a)].AreaName : std::string();
    };
    auto fileArea = [&] {
        int a = u.FileArea;
        return a >= 0 && a < kFileAreaCount ? cfg.FileAreas[size_t(a)].AreaName : std::string();
    };
    std::string line;
    for (char ch : text) {
        if (ch == '`')
            line += msgArea();
        else if (ch == '@')
            line += fileArea();
        else
            line += ch;
    }
    if (line.size() > kStampMax) line.resize(kStampMax);
    if (!line.empty()) WriteLogLine(line);
}

int UpperKey(int key) { return key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key; }

int FindMenuKey(int key, int n, std::string_view keys) {
    int count = std::min(n, int(keys.size()));
    for (int i = 0; i < count; ++i) {
        uint8_t k = uint8_t(keys[size_t(i)]);
        if (k == 0 || k == ' ' || k == kHiddenLine) continue;
        if (UpperKey(k) == key) return i;
    }
    return -1;
}

bool HotKeyPressed(int& index, int n, std::string_view keys) {
    index = kNoChoice;
    int key = PollKey();
    if (key == 0) return false;
    int found = FindMenuKey(UpperKey(key), n, keys);
    if (found < 0) return false;
    index = found;
    return true;
}

void WaitForEnter() {
    for (;;) {
        int key = GetKey();
        if (key == '\r' || key == '\n') return;
    }
}

}  // namespace kv::caller
