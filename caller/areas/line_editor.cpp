#include "caller/areas/line_editor.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "caller/areas/message_text_upload.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/user_record.h"

namespace kv::caller {

namespace {

constexpr size_t kWidth = MessageBuffer::kLineWidth;
constexpr int kNoLimit = 999;
// The keys when text 204 does not hold all nine: a table without them must
// still leave a way out of the editor.
constexpr const char* kDefaultKeys = "DERILHCSA";
constexpr int kItemColumns = 23;  // width of a menu item
constexpr char kEditorTextColor = 3;

bool UserOption(uint8_t bit) { return (Call().User.Options & bit) != 0; }

// The caller's typing colour: cyan on black.
void TextColor() { SetColor(kEditorTextColor, 0); }

void PutLineNumber(int n) {
    SetColorPair(kColorTitle);
    PutString(FormatChecked("%3d: ", n));
}

void PutWarning(const std::string& text, int seconds = 0) {
    PutColorText(text, true, false, seconds, kColorWarning);
    SetColorPair(kColorNormal);
}

// --- re-wrapping loaded text ---------------------------------------------------

// Splits a line longer than width at the last blank that stands after
// column `after` and at or before column width; the blank goes.  A line
// without such a blank is cut at column width itself, so that no character
// is lost.
std::pair<std::string, std::string> CutLine(const std::string& line, size_t width, size_t after) {
    for (size_t i = std::min(width, line.size() - 1); i > after; --i) {
        if (line[i] == ' ') {
            std::string head = line.substr(0, i);
            TrimRight(head);
            return {head, line.substr(i + 1)};
        }
    }
    return {line.substr(0, width), line.substr(width)};
}

// Appends lines behind a prefix, wrapping what does not fit, up to the line
// limit and for as long as the buffer can take them.
class LineLoader {
public:
    LineLoader(MessageBuffer& buffer, int limit, std::string prefix)
        : buffer_(buffer), limit_(limit), prefix_(std::move(prefix)), width_(kWidth - prefix_.size()) {}

    int added() const { return added_; }
    bool Room() const { return buffer_.Lines() < limit_ && !buffer_.Full(); }

    // A line of the text: what does not fit is cut off at a blank and
    // carried on to begin the next line, the way the author's paragraph
    // runs on.
    bool Take(std::string line) {
        TrimRight(line);
        if (!carry_.empty()) {
            // A blank line ends the paragraph: the carried words stay
            // before it instead of swallowing it.
            if (line.empty()) {
                if (!Flush()) return false;
            } else {
                line = carry_ + " " + line;
                carry_.clear();
            }
        }
        if (line.size() <= width_) return Put(line);
        while (line.size() > width_) {
            auto [head, tail] = CutLine(line, width_, prefix_.size());
            if (!Put(head)) return false;
            line = std::move(tail);
        }
        carry_ = std::move(line);
        return true;
    }

    // A line that stands by itself (a heading): wrapped whole.
    bool TakeWhole(std::string line) {
        TrimRight(line);
        while (line.size() > width_) {
            auto [head, tail] = CutLine(line, width_, prefix_.size());
            if (!Put(head)) return false;
            line = std::move(tail);
        }
        return Put(line);
    }

    // The words still carried when the text ends.
    bool Flush() {
        if (carry_.empty()) return true;
        std::string rest = std::move(carry_);
        carry_.clear();
        return Put(rest);
    }

private:
    bool Put(const std::string& line) {
        if (!Room()) return false;
        // Room for this slot and the next, so that a text always has its end.
        if (!buffer_.MakeRoom(2 * MessageBuffer::kSlotSize)) return false;
        if (!buffer_.AppendLine(prefix_ + line)) return false;
        ++added_;
        return true;
    }

    MessageBuffer& buffer_;
    int limit_;
    std::string prefix_;
    size_t width_;
    std::string carry_;
    int added_ = 0;
};

std::string Trimmed(std::string s) { return TrimRight(s); }

// --- the commands ---------------------------------------------------------------

// Asks for a line number with prompt; 0 for an empty answer, ESC, or a
// number outside 1 to lines.
int AskLineNumber(const std::string& prompt, int lines) {
    int n = AskNumber(prompt, lines);
    return n >= 1 && n <= lines ? n : 0;
}

void DeleteLines(MessageBuffer& buffer) {
    int lines = buffer.Lines();
    int first = AskLineNumber(FormatText(525, lines), lines);
    if (first == 0) return;
    if (first == lines) {
        buffer.RemoveLines(first, first);
        return;
    }
    int last = AskLineNumber(FormatText(526, first, lines), lines);
    if (last >= first) buffer.RemoveLines(first, last);
}

void EditLine(MessageBuffer& buffer) {
    int n = AskLineNumber(FormatText(518, buffer.Lines()), buffer.Lines());
    if (n == 0) return;
    ShowRuler();
    PutLineNumber(n);
    TextColor();
    std::string line = buffer.LineText(n), unused;
    InputLineWrap(false, unused, int(kWidth), line);
    PutLine();
    buffer.ReplaceLine(n, line);
}

void ReplaceText(MessageBuffer& buffer) {
    int n = AskLineNumber(FormatText(519, buffer.Lines()), buffer.Lines());
    if (n == 0) return;
    ShowRuler();
    std::string line = buffer.LineText(n);
    PutLineNumber(n);
    TextColor();
    PutString(line);
    PutLine();

    SetColorPair(kColorPrompt);
    PutString(GetText(520));
    SetColorPair(kColorNormal);
    std::string find;
    InputLine(true, int(line.size()), find);
    PutLine();
    if (find.empty() || find[0] == kKeyEsc) return;
    size_t at = line.find(find);
    if (at == std::string::npos) {
        PutWarning(GetText(522), 2);
        return;
    }

    // The replacement may fill the line to column 72, and no further.
    SetColorPair(kColorPrompt);
    PutString(GetText(521));
    SetColorPair(kColorNormal);
    std::string with;
    InputLine(true, int(kWidth - (line.size() - find.size())), with);
    PutLine();
    if (with.empty() || with[0] == kKeyEsc) return;
    line.replace(at, find.size(), with);
    buffer.ReplaceLine(n, line);
}

}  // namespace

// --- building blocks ------------------------------------------------------------------

int EditorLineLimit(int area) {
    if (area < 0 || area >= kMsgAreaCount) return kNoLimit;
    int limit = Config().MsgAreas[size_t(area)].LineLimit;
    return limit == 0 ? kNoLimit : limit;
}

std::string EditorKeys() {
    std::string keys = GetText(204);
    if (keys.size() < kEditorCommandCount) keys = kDefaultKeys;
    keys.resize(kEditorCommandCount);
    return UpperCase(keys);
}

std::string MakeQuotePrefix(std::string_view quoteTemplate, std::string_view sender) {
    sender = SkipBlanks(sender);
    std::string initials;
    if (!sender.empty()) {
        initials += sender[0];
        size_t blank = sender.find(' ');
        if (blank != std::string_view::npos && blank + 1 < sender.size()) initials += sender[blank + 1];
    }
    std::string prefix;
    for (char c : quoteTemplate.substr(0, 4)) {
        if (c == '@')
            prefix += initials;
        else
            prefix += c;
    }
    return prefix;
}

std::string MakeQuotePrefix(std::string_view sender) { return MakeQuotePrefix(Config().QuoteTemplate, sender); }

int LoadMessageText(const MsgHeader& source, MessageBuffer& buffer, int limit, bool forward,
                    const std::string& path) {
    bool fromBase = path.empty();
    std::string file = fromBase ? MsgBasePath(kMsgTextFile) : path;
    if (file.empty()) return 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) return 0;

    // Headings stand unquoted and are wrapped whole.
    LineLoader heading(buffer, limit, "");
    if (forward) {
        std::string areaName;
        if (source.MsgArea >= 0 && source.MsgArea < kMsgAreaCount)
            areaName = Trimmed(Config().MsgAreas[size_t(source.MsgArea)].AreaName);
        heading.TakeWhole(GetText(235));
        heading.TakeWhole(FormatText(236, source.FromName));
        heading.TakeWhole(FormatText(237, source.ToName));
        heading.TakeWhole(FormatText(238, source.DateText, source.TimeText));
        heading.TakeWhole(FormatText(239, areaName));
        heading.TakeWhole(FormatText(240, Call().CallerName, std::string(kKivoVersion)));
        heading.TakeWhole(" ");
    } else if (source.ToName != Call().CallerName) {
        heading.TakeWhole(FormatText(234, source.ToName));
    }

    in.seekg(fromBase ? source.TextOffset : 0);
    if (!in) return heading.added();

    LineLoader text(buffer, limit, fromBase && !forward ? MakeQuotePrefix(source.FromName) : "");
    std::string line;
    bool ended = false;
    while (!ended && text.Room() && std::getline(in, line)) {
        if (!line.empty() && line[0] == kTextEndByte) break;
        if (!line.empty() && line[0] == kControlByte) continue;
        if (size_t end = line.find(kTextEndByte); end != std::string::npos) {
            line.resize(end);
            ended = true;
        }
        if (!text.Take(line)) break;
    }
    text.Flush();
    return heading.added() + text.added();
}

void ShowRuler() {
    SetColorPair(kColorNormal);
    PutString("\r\n    [");
    PutString(std::string(kWidth, '-'));
    PutString("]");
    PutLine();
}

void ShowEditorHeader(int area) {
    if (UserOption(USER_CLEAR_SCREEN))
        EraseScreen();
    else
        PutLine();
    SetColor(12, 0);
    PutString(GetText(218));
    PutLine();
    PutString(FormatText(219, EditorLineLimit(area)));
    SetColorPair(kColorKeys);
    PutString(Call().AcceptHighChars ? " 8" : " 7");
    PutLine();
    ShowRuler();
    SetColorPair(kColorNormal);
}

void ShowEditorHelp(std::string_view keys) {
    // The help texts are numbered in the order of this list.
    static constexpr int kOrder[kEditorCommandCount] = {kEditInsert, kEditDelete,   kEditLine,
                                                        kEditReplace, kEditList,    kEditHelp,
                                                        kEditContinue, kEditSave,   kEditAbort};
    std::string rule(40, Call().ColorOn ? char(0xC4) : '-');
    PutLine();
    SetColorPair(kColorPrompt);
    PutString(std::string(10, ' ') + rule);
    PutLine();
    for (int i = 0; i < kEditorCommandCount; ++i) {
        PutString(std::string(12, ' '));
        SetColorPair(kColorWarning);
        if (size_t(kOrder[i]) < keys.size()) PutChar(uint8_t(keys[size_t(kOrder[i])]));
        SetColorPair(kColorNormal);
        PutString(GetText(209 + i));
        PutLine();
    }
    SetColorPair(kColorPrompt);
    PutString(std::string(10, ' ') + rule);
    PutLine();
    SetColorPair(kColorNormal);
}

void ShowNoLines() { PutWarning(GetText(233)); }

void ListEditorLines(const MessageBuffer& buffer, bool ruler, int first) {
    if (ruler) ShowRuler();
    int page = std::max(1, ScreenLength() - 5);
    bool paging = UserOption(USER_PAGE_BREAK);
    std::string stopKeys = GetText(200);
    int shown = 0;
    SetNonBlocking(true);
    for (int n = std::max(first, 0) + 1; n <= buffer.Lines(); ++n) {
        PutLineNumber(n);
        TextColor();
        PutString(buffer.LineText(n));
        PutLine();
        if (paging && ++shown >= page) {
            int key = PausePrompt();
            if (key == ToUpperChar(Call().NoKey)) break;
            if (key == '=') paging = false;
            shown = 0;
        }
        int index = 0;
        if (HotKeyPressed(index, 2, stopKeys)) {
            if (index != 1) break;
            GetKey();
        }
    }
    SetNonBlocking(false);
    SetColorPair(kColorNormal);
}

char EditorCommandPrompt(std::string_view keys) {
    for (;;) {
        // With hot keys the caller need not wait for the menu: a command
        // key typed while it is printed stops it and is the answer.
        bool hot = (Call().User.Options2 & USER_HOT_KEYS) != 0;
        int answer = -1;
        auto poll = [&] {
            int index = 0;
            if (hot && answer < 0 && HotKeyPressed(index, kEditorCommandCount, keys)) answer = index;
            return answer >= 0;
        };
        auto put = [&](char c) {
            if (answer >= 0) return;
            PutChar(uint8_t(c));
            poll();
        };
        if (hot) SetNonBlocking(true);
        PutLine();
        SetColorPair(kColorKeys);
        for (char c : GetText(220)) put(c);
        if (answer < 0) PutString("\r\n   ");
        for (int i = 0; i < kEditorCommandCount && answer < 0; ++i) {
            std::string item = GetText(221 + i);
            if (Call().ColorOn)
                SetColorPair(kColorKeys);
            else
                SetBold();
            if (!item.empty()) put(item[0]);
            if (Call().ColorOn)
                SetColorPair(kColorNormal);
            else
                ResetAttributes();
            for (size_t k = 1; k < item.size(); ++k) put(item[k]);
            for (int k = int(item.size()); k < kItemColumns; ++k) put(' ');
            if (answer < 0 && i % 3 == 2) PutString("\r\n   ");
        }
        if (answer < 0) PutLine();
        if (hot) SetNonBlocking(false);

        if (answer >= 0) {
            SetColorPair(kColorHighlight);
            PutString("   " + GetText(221 + answer));
        } else {
            PutString("   ");
            int key = ChoicePrompt(GetText(230), false, false, true, false, keys);
            answer = int(keys.find(char(key)));
            SetColorPair(kColorNormal);
            std::string item = GetText(221 + answer);
            if (!item.empty()) PutString(item.substr(1));
        }
        PutLine();
        SetColorPair(kColorNormal);
        if (answer != kEditAbort) return keys[size_t(answer)];

        std::string yesNo = GetText(35);
        if (yesNo.empty()) yesNo = {Call().YesKey, Call().NoKey};
        int sure = ChoicePrompt(GetText(231), true, true, true, false, UpperCase(yesNo));
        if (sure == ToUpperChar(Call().YesKey)) {
            PutColorText("   " + GetText(232), true, false, 2, kColorWarning);
            SetColorPair(kColorNormal);
            return keys[kEditAbort];
        }
    }
}

// --- the editor -----------------------------------------------------------------------

std::optional<MessageBuffer> MessageEditor(int area, const MsgHeader* source, bool forward) {
    std::optional<MessageBuffer> buffer = MessageBuffer::MakeForEditor();
    if (!buffer) {
        LogText(207);
        PutWarning(GetText(208), 2);
        return std::nullopt;
    }
    bool external = UserOption(USER_FULL_EDITOR);
    if (!external) ShowEditorHeader(area);
    const int limit = EditorLineLimit(area);
    if (source != nullptr) {
        int added = LoadMessageText(*source, *buffer, limit, forward);
        if (added > 0 && !external) ListEditorLines(*buffer, false, 0);
    }
    if (external) {
        std::optional<MessageBuffer> edited = ExternalEdit(std::move(*buffer), limit);
        if (!edited) PutWarning(GetText(232), 3);
        return edited;
    }

    const std::string keys = EditorKeys();
    std::string carry;       // the word that did not fit on the last full line
    bool inserting = false;  // new lines go before line insertAt + 1
    int insertAt = 0;
    for (;;) {
        // Line input, until an empty line, the limit or a full buffer.
        while (buffer->Lines() < limit && !buffer->Full()) {
            std::string line(SkipBlanks(carry));
            PutLineNumber(inserting ? insertAt + 1 : buffer->Lines() + 1);
            TextColor();
            InputLineWrap(true, carry, int(kWidth), line);
            PutLine();
            if (line.empty()) break;
            bool stored = inserting ? buffer->InsertLine(insertAt + 1, line) : buffer->AppendLine(line);
            if (!stored) break;  // no memory: the line is dropped, the text so far stays
            if (inserting) ++insertAt;
        }
        if (buffer->Lines() >= limit) PutWarning(GetText(205));
        inserting = false;
        if (buffer->Full()) PutWarning(GetText(206));

        // The command menu, until a command goes back to writing or ends.
        bool writeAgain = false;
        while (!writeAgain) {
            int command = int(keys.find(EditorCommandPrompt(keys)));
            int lines = buffer->Lines();
            if (lines == 0 && command <= kEditList) {
                ShowNoLines();
                continue;
            }
            switch (command) {
            case kEditDelete:
                DeleteLines(*buffer);
                break;
            case kEditLine:
                EditLine(*buffer);
                break;
            case kEditReplace:
                ReplaceText(*buffer);
                break;
            case kEditInsert:
                if (lines >= limit) {
                    PutWarning(GetText(524));
                } else if (int n = AskLineNumber(FormatText(523, lines), lines); n != 0) {
                    ShowRuler();
                    inserting = true;
                    insertAt = n - 1;
                    writeAgain = true;
                }
                break;
            case kEditList:
                ListEditorLines(*buffer, true, 0);
                break;
            case kEditHelp:
                if (DisplayFile(1, GetText(628)) == -1) ShowEditorHelp(keys);
                break;
            case kEditContinue:
                if (lines < limit) ListEditorLines(*buffer, true, std::max(0, lines - 3));
                writeAgain = true;
                break;
            case kEditSave:
                if (lines == 0) {
                    ShowNoLines();
                    break;
                }
                buffer->Finish();
                return buffer;
            case kEditAbort:
                return std::nullopt;
            }
            // A full buffer takes no more lines: going back to writing saves.
            if (writeAgain && buffer->Full()) {
                buffer->Finish();
                return buffer;
            }
        }
    }
}

}  // namespace kv::caller
