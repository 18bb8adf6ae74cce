// The mail check and its table of waiting messages.
#include "caller/areas/mail_check.h"

#include <cstdio>
#include <memory>

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

namespace kv::caller {

namespace {

// Lines above the table that a page keeps free.
constexpr int kSummaryReserve = 3;

// The name column of the table, dots up to it.
constexpr int kNameColumn = 24;

}  // namespace

void ShowMailSummary(const MailCounts& counts) {
    const std::string keys = GetText(200);
    PutLine(GetText(305));
    RepeatChar(Call().ColorOn ? char(0xC4) : '-', 36, true);
    int lines = 3;
    bool pauses = (Call().User.Options & USER_PAGE_BREAK) != 0;
    SetNonBlocking(true);
    bool stop = false;
    for (int area = 0; area < kMsgAreaCount && !stop; ++area) {
        if (counts[size_t(area)] != 0) {
            std::string name = MessageAreaName(area);
            SetColorPair(kColorTitle);
            PutString(name);
            PutChar(' ');
            SetColorPair(kColorNormal);
            RepeatChar('.', kNameColumn - int(name.size()), false);
            PutChar(' ');
            SetColorPair(kColorWarning);
            int n = counts[size_t(area)];
            PutLine(FormatChecked("%-3d message%c", n, n >= 2 ? 's' : ' '));
            ++lines;
            if (pauses && lines >= ScreenLength() - kSummaryReserve) {
                SetNonBlocking(false);
                int key = PausePrompt();
                SetNonBlocking(true);
                if (key == Call().NoKey)
                    stop = true;
                else if (key == '=')
                    pauses = false;
                lines = 0;
            }
        }
        int index = 255;
        if (!stop && HotKeyPressed(index, 2, keys)) {
            if (index == 1) {
                SetNonBlocking(false);
                GetKey();
                SetNonBlocking(true);
            } else {
                stop = true;
            }
        }
    }
    SetNonBlocking(false);
}

int CheckMail() {
    SetColorPair(kColorKeys);
    PutLine(GetText(301));
    const UserRecord& me = Call().User;
    int32_t start = Config().MailCheckAll ? 0 : me.HighestRead;
    MessageList& marked = MarkedList();

    int result = 1;
    bool read = false;
    int32_t first = FindNextMessage(kAnyArea, start, false);
    if (first < 0) {
        result = 0;
    } else {
        std::string path = MsgBasePath(kMsgToIndexFile);
        std::unique_ptr<FILE, int (*)(FILE*)> file(path.empty() ? nullptr : std::fopen(path.c_str(), "rb"),
                                                   [](FILE* f) { return f ? std::fclose(f) : 0; });
        if (file && std::fseek(file.get(), long(first) * long(MsgToIndexRecord::kSize), SEEK_SET) != 0) {
            result = 0;
        } else if (file) {
            marked.positions.clear();
            MailCounts counts{};
            uint8_t bytes[MsgToIndexRecord::kSize];
            for (int32_t index = first;
                 marked.positions.size() < kMarkedListMax && std::fread(bytes, sizeof bytes, 1, file.get()) == 1;
                 ++index) {
                MsgToIndexRecord entry;
                DecodeRecord(bytes, entry);
                if (entry.Recipient != me.Name || !MessageVisible(index)) continue;
                int area = MessageArea(index);
                if (area < 0 || area >= kMsgAreaCount) {
                    LogText(302, kMsgIndexFile, index);
                    result = 0;
                    break;
                }
                marked.positions.push_back(index);
                ++counts[size_t(area)];
            }
            if (!marked.positions.empty()) {
                ShowMailSummary(counts);
                if (ChoicePrompt(GetText(303), true, true, true, false, GetText(35)) == Call().YesKey) {
                    read = true;
                    bool prompted = AskContinuous();
                    ReadMessages(&marked, 0, 0, kForward, prompted);
                }
            }
        }
    }
    if (marked.positions.empty() && !read) PutColorText(GetText(304), true, false, 2, kColorWarning);
    return result;
}

}  // namespace kv::caller
