// Text search, header scan and one-line list.
#include "caller/areas/message_scan.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>
#include <vector>

#include "caller/areas/area_access.h"
#include "caller/areas/message_display.h"
#include "caller/areas/reader.h"
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

// Places of the scan keys (text 386).
enum ScanKey : size_t { kScanStop = 0, kScanPause = 1, kScanMark = 2, kScanNext = 3 };

// A search hit list holds one entry less than the marked list.
constexpr size_t kSearchHitsMax = kMarkedListMax - 1;

// Waits for any key while a listing polls without blocking.
void PauseForKey() {
    SetNonBlocking(false);
    GetKey();
    SetNonBlocking(true);
}

// The search reads only the fields it looks at, from the header's bytes:
// a search walks the whole base, and decoding every header whole costs
// many times the reading of it.
class HeaderSearch {
public:
    HeaderSearch(int area, size_t field, const std::string& text) : wanted_(text), me_(Call().User.Name) {
        UpperCase(wanted_);
        field_ = field == 0 ? kPlaceOf<&MsgHeader::Subject>
                 : field == 1 ? kPlaceOf<&MsgHeader::FromName>
                              : kPlaceOf<&MsgHeader::ToName>;
        for (int a = 0; a < kMsgAreaCount; ++a)
            areas_[size_t(a)] = AreaMatches(area, a) && CanUseMessageArea(a, kAreaRead);
    }

    // Whether the header at p is one the caller may see in the areas
    // searched (live, readable, a private one only to its sender and
    // recipient) and its field holds the text in any case.
    bool Hit(const uint8_t* p) const {
        uint8_t status = GetField<&MsgHeader::Status>(p);
        if (status & MSG_DELETED) return false;
        auto area = GetField<&MsgHeader::MsgArea>(p);
        if (area < 0 || area >= kMsgAreaCount || !areas_[size_t(area)]) return false;
        if ((status & MSG_PRIVATE) && !TextFieldEquals<&MsgHeader::ToName>(p, me_) &&
            !TextFieldEquals<&MsgHeader::FromName>(p, me_))
            return false;
        char folded[80];
        const uint8_t* f = p + field_.offset;
        size_t n = 0;
        while (n < field_.width && n < sizeof folded && f[n] != 0) {
            folded[n] = ToUpperChar(char(f[n]));
            ++n;
        }
        return std::string_view(folded, n).find(wanted_) != std::string_view::npos;
    }

private:
    std::string wanted_;
    const std::string& me_;
    FieldPlace field_;
    std::array<bool, kMsgAreaCount> areas_{};
};

void PutAt(std::string& line, size_t column, const std::string& text, size_t width) {
    line.replace(column, std::min(width, text.size()), text.substr(0, width));
}

}  // namespace

int SearchMessages(int area, int32_t start, const std::string& text, char fieldKey, MessageList& result,
                   const std::string& fieldKeys) {
    std::string path = MsgBasePath(kMsgHeaderFile);
    int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        LogText(341, kMsgHeaderFile);
        return 0;
    }
    size_t field = fieldKeys.find(fieldKey);
    if (start < 0 || field > 2) {
        close(fd);
        return 0;
    }

    const HeaderSearch search(area, field, text);
    const std::string stopKeys = GetText(200);
    std::vector<int32_t> hits;
    bool aborted = false, full = false;
    // Many headers to a read; a short last record is not one.
    std::vector<uint8_t> block(512 * MsgHeader::kSize);
    size_t inBlock = 0, used = 0;
    off_t offset = off_t(start) * off_t(MsgHeader::kSize);
    SetNonBlocking(true);
    for (int32_t pos = start; !aborted && !full; ++pos, used += MsgHeader::kSize) {
        if (used + MsgHeader::kSize > inBlock) {
            ssize_t got;
            do {
                got = pread(fd, block.data(), block.size(), offset);
            } while (got < 0 && errno == EINTR);
            if (got < ssize_t(MsgHeader::kSize)) break;
            inBlock = size_t(got) - size_t(got) % MsgHeader::kSize;
            offset += off_t(inBlock);
            used = 0;
        }
        if (search.Hit(block.data() + used)) {
            hits.push_back(pos);
            if (hits.size() == kSearchHitsMax) {
                full = true;
                SetNonBlocking(false);
                PutColorText(GetText(684), false, false, 0, kColorWarning);
                GetKey();
                PutLine();
                SetColorPair(kColorNormal);
                SetNonBlocking(true);
            }
        }
        int key = 255;
        if (HotKeyPressed(key, 2, stopKeys) && key == 0) aborted = true;
    }
    SetNonBlocking(false);
    close(fd);
    if (aborted) hits.clear();
    result.positions = hits;
    return result.count();
}

int ShowMessageListLine(const MsgHeader& h, int& counter, int& pageMode) {
    if (counter == -1) {
        if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
        SetColorPair(kColorTitle);
        PutLine(GetText(389));
        SetColorPair(kColorHighlight);
        PutLine(std::string(79, '-'));
        counter = 3;
    }
    // Stored mail may be older than the gateway's blanking of control
    // bytes: they are shown as blanks, as in the full header.
    MsgHeader shown = h;
    BlankHeaderControlBytes(shown);
    std::string line(80, ' ');
    PutAt(line, 0, FormatChecked("%-5ld ", long(shown.MsgNumber)), 6);
    PutAt(line, 6, shown.ToName, 23);
    PutAt(line, 30, shown.FromName, 23);
    PutAt(line, 54, shown.Subject, 22);
    TrimRight(line);

    const std::string keys = GetText(200);
    int key = 0;
    SetColorPair(kColorNormal);
    SetNonBlocking(true);
    for (char c : line) {
        PutChar(uint8_t(c));
        int index = 255;
        if (HotKeyPressed(index, 2, keys)) {
            if (index == 1) {
                PauseForKey();
            } else {
                key = static_cast<unsigned char>(keys[0]);
                break;
            }
        }
    }
    PutLine();
    SetNonBlocking(false);
    if (key == 0 && pageMode == kPagePrompted) {
        uint16_t lines = uint16_t(counter < 0 ? 0 : counter);
        int answer = CheckPageFull(lines);
        counter = lines;
        if (answer == Call().NoKey && !keys.empty())
            key = static_cast<unsigned char>(keys[0]);
        else if (answer == '=')
            pageMode = kPagePromptedNoStops;
    }
    ++counter;
    return key;
}

int MessageListMore() {
    const std::string keys = GetText(386);
    if (keys.size() < 4) return 0;
    int answer = 0;
    SetColorPair(kColorPrompt);
    SetNonBlocking(true);
    for (char c : GetText(390)) {
        PutChar(uint8_t(c));
        int k = PollKey();
        if (k == 0) continue;
        // Enter answers "next" below; typed while the prompt is still being
        // written it must count the same, not vanish and leave the caller
        // waiting at a prompt that already had its answer.
        if (k == '\r' || k == '\n') {
            answer = static_cast<unsigned char>(keys[kScanNext]);
            break;
        }
        char up = ToUpperChar(char(k));
        size_t index = up == ' ' ? std::string::npos : keys.find(up);
        if (index >= 4) continue;
        if (index == kScanPause) {
            PauseForKey();
        } else {
            answer = static_cast<unsigned char>(keys[index]);
            break;
        }
    }
    SetNonBlocking(false);
    SetColorPair(kColorNormal);
    while (answer == 0) {
        int k = GetKey();
        if (k == '\r' || k == '\n') {
            answer = static_cast<unsigned char>(keys[kScanNext]);
        } else {
            char up = ToUpperChar(char(k));
            if (up != ' ' && keys.find(up) != std::string::npos) answer = static_cast<unsigned char>(up);
        }
    }
    if (answer == keys[kScanMark])
        PutLine(GetText(52));
    else if (answer == keys[kScanNext])
        PutLine(GetText(53));
    else
        PutLine("Stop");
    PutLine();
    return answer;
}

void ScanMessages(const MessageList* list, int area, int32_t start, int direction, int style) {
    const std::string scanKeys = GetText(386);
    const std::string listKeys = GetText(200);
    if (scanKeys.size() < 4 || listKeys.empty()) return;

    // A list is scanned from a copy: marking may change the marked list.
    std::vector<int32_t> entries;
    size_t entry = 0;
    int32_t current = start;
    if (list) {
        entries = list->positions;
        // Entries deleted or hidden since the list was made never show.
        while (entry < entries.size() && !MessageVisible(entries[entry])) ++entry;
        if (entry == entries.size()) return;
        current = entries[entry];
    }

    DisplayState shown;
    bool marking = false;
    if (style == 1) {
        shown.pageMode = kPageStops;
        marking = ChoicePrompt(GetText(384), true, true, true, false, GetText(35)) == Call().YesKey;
        if (marking && !MarkedList().positions.empty() &&
            ChoicePrompt(GetText(385), true, true, true, false, GetText(35)) == Call().YesKey)
            MarkedList().positions.clear();
    } else {
        shown.pageMode = kPagePrompted;
    }
    const std::string& hotKeys = marking ? scanKeys : listKeys;
    const int stopKey = static_cast<unsigned char>(scanKeys[kScanStop]);
    int counter = -1;

    for (;;) {
        MsgHeader h;
        if (!ReadMessageHeader(h, current)) {
            LogText(387, current, area);
            return;
        }
        int key;
        if (style == 1) {
            shown.lines = uint16_t(++counter);
            key = ShowMessageHeader(h, hotKeys, shown, false, scanKeys);
            counter = shown.lines;
        } else {
            key = ShowMessageListLine(h, counter, shown.pageMode);
        }
        if (key == stopKey) return;
        if (marking && key != static_cast<unsigned char>(scanKeys[kScanNext])) {
            counter = 0;
            if (key == 0) key = MessageListMore();
            if (key == static_cast<unsigned char>(scanKeys[kScanMark]) && !MarkedList().Holds(current))
                MarkedList().positions.push_back(current);
            if (key == stopKey) return;
            // A full marked list ends the scan there and then.
            if (MarkedList().positions.size() >= kMarkedListMax) return;
        }

        int32_t next = -1;
        if (list) {
            while (++entry < entries.size() && !MessageVisible(entries[entry])) {
            }
            if (entry < entries.size()) next = entries[entry];
        } else {
            next = direction == kForward ? FindNextMessage(area, h.MsgNumber, false)
                                         : FindPrevMessage(area, h.MsgNumber, current, false);
        }
        if (next < 0) break;
        current = next;
    }
    SetColorPair(kColorPrompt);
    PutString(GetText(388));
    GetKey();
    PutLine();
    ResetAttributes();
}

}  // namespace kv::caller
