// Deleting messages.
#include "caller/areas/message_delete.h"

#include <cstdlib>
#include <fstream>
#include <vector>

#include "caller/areas/area_access.h"
#include "caller/areas/message_display.h"
#include "caller/areas/reader_search.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "common/msgbase.h"
#include "common/runtime.h"

namespace kv::caller {

namespace {

// The numbers of every record of "msgidx.bbs", read in one pass.
std::vector<int32_t> IndexNumbers() {
    std::vector<int32_t> numbers;
    std::string path = MsgBasePath(kMsgIndexFile);
    if (path.empty()) return numbers;
    std::ifstream in(path, std::ios::binary);
    char bytes[MsgIndexRecord::kSize];
    while (in.read(bytes, sizeof bytes)) {
        MsgIndexRecord r;
        DecodeRecord(reinterpret_cast<const uint8_t*>(bytes), r);
        numbers.push_back(r.MsgNumber);
    }
    return numbers;
}

}  // namespace

int UnlinkReply(int32_t number, int which) {
    MsgBaseLock lock;
    int32_t at = lock ? FindNextMessage(kAnyArea, number, true) : kSearchFailed;
    MsgHeader h;
    bool done = at >= 0 && ReadMessageHeader(h, at);
    if (done) {
        (which == 0 ? h.LatestReply : h.ReplyTo) = 0;
        done = WriteMessageHeader(h, at);
    }
    if (!done) LogText(338, GetText(which == 0 ? 339 : 340), long(number));
    return done ? 1 : 0;
}

int UpdateInfoAfterDelete(const MsgHeader& h) {
    // The area indexes the counts: one outside them changes nothing.
    if (h.MsgArea < 0 || h.MsgArea >= kMsgAreaCount) return 0;
    MsgBaseLock lock;
    MsgInfoRecord info;
    if (!lock || !ReadMessageInfo(info)) return 0;
    if (info.TotalMessages > 0) --info.TotalMessages;
    if (info.AreaCounts[size_t(h.MsgArea)] > 0) --info.AreaCounts[size_t(h.MsgArea)];
    // The new bounds come from every live message, not from what this
    // caller may see: the counts are the whole base's.
    if (h.MsgNumber == info.LowestNumber || h.MsgNumber == info.HighestNumber) {
        int32_t above = 0, below = 0;
        for (int32_t n : IndexNumbers()) {
            if (n > h.MsgNumber && (above == 0 || n < above)) above = n;
            if (n > 0 && n < h.MsgNumber && n > below) below = n;
        }
        if (h.MsgNumber == info.LowestNumber) {
            if (above != 0) info.LowestNumber = above;
        } else if (below != 0) {
            info.HighestNumber = below;
        }
    }
    return WriteMessageInfo(info) ? 1 : 0;
}

int DeleteMessage(MsgHeader& header, int32_t index) {
    MsgBaseLock lock;
    MsgIndexRecord entry;
    if (!lock || !ReadMessageIndex(entry, index)) return 0;
    if (entry.MsgNumber <= 0 || entry.MsgNumber != header.MsgNumber) return 0;

    MsgIndexRecord deleted = entry;
    deleted.MsgNumber = -entry.MsgNumber;
    deleted.MsgArea = int16_t(-(entry.MsgArea + 1));
    if (!WriteMessageIndex(deleted, index)) return 0;

    // The header next: should it fail, the index is put back, so that the
    // files never disagree on whether the message lives.
    MsgHeader marked = header;
    marked.Status |= MSG_DELETED;
    if (!WriteMessageHeader(marked, index)) {
        WriteMessageIndex(entry, index);
        return 0;
    }
    header = marked;
    if (header.ReplyTo != 0) UnlinkReply(header.ReplyTo, 0);
    if (header.LatestReply != 0) UnlinkReply(header.LatestReply, 1);
    UpdateInfoAfterDelete(header);
    WriteRecipientEntry(index, kRecipientDeleted);
    LogText(337, long(header.MsgNumber), MessageAreaName(header.MsgArea));
    MarkedList().Remove(index);
    return 1;
}

void DeleteMessageByNumber(const std::string& argument) {
    const UserRecord& me = Call().User;
    if (!Config().UsersMayDelete && me.SecurityLevel != kSysopLevel) {
        PutColorText(GetText(709), true, false, 2, kColorWarning);
        return;
    }
    int area = -1;
    if (MatchPrefix("/M", argument, 2)) {
        area = me.MsgArea;
    } else {
        long n = std::atol(argument.c_str());
        if (n >= 1 && n <= kMsgAreaCount) area = int(n - 1);
    }
    if (area < 0) {
        int chosen = ChooseMessageArea(kAreaRead, true, true, false);
        if (chosen == 0) return;
        area = chosen - 1;
    }

    std::string answer;
    AskInput(true, false, GetText(391), answer, 9);
    PutLine();
    if (answer.empty() || answer[0] == kKeyEsc) return;
    long number = std::atol(answer.c_str());
    if (number < 1) return;

    int32_t at = FindNextMessage(area, int32_t(number), true);
    if (at < 0) {
        RingBell();
        PutColorText(GetText(395), true, false, 2, kColorWarning);
        return;
    }
    MsgHeader h;
    if (!ReadMessageHeader(h, at)) return;
    bool mayDelete = me.SecurityLevel == kSysopLevel || CanUseMessageArea(h.MsgArea, kAreaSysop) ||
                     me.Name == h.FromName || me.Name == h.ToName;
    if (!mayDelete) {
        PutColorText(GetText(397), true, false, 2, kColorWarning);
        return;
    }

    PutLine();
    DisplayState shown;
    shown.pageMode = kPagePrompted;
    ShowMessageHeader(h, GetText(200), shown, false, GetText(324));
    if (ChoicePrompt(GetText(392), true, true, true, false, GetText(76)) != Call().YesKey) return;
    if (DeleteMessage(h, at)) {
        PutColorText(GetText(393), true, false, 2, kColorNormal);
    } else {
        RingBell();
        PutColorText(GetText(394), true, false, 2, kColorWarning);
    }
}

}  // namespace kv::caller
