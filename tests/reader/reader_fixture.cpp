#include "tests/reader/reader_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/msgbase.h"
#include "common/record_io.h"

namespace kv::test {

namespace {

template <class R>
void Put(std::ofstream& out, const R& r) {
    auto bytes = EncodeRecord(r);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

void WriteBase(const std::vector<TestMessage>& messages) {
    for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile})
        std::filesystem::remove(MsgBasePath(f));
    std::ofstream idx(MsgBasePath(kMsgIndexFile), std::ios::binary);
    std::ofstream to(MsgBasePath(kMsgToIndexFile), std::ios::binary);
    std::ofstream hdr(MsgBasePath(kMsgHeaderFile), std::ios::binary);
    MsgInfoRecord info;
    for (const TestMessage& m : messages) {
        int32_t offset = 0;
        ASSERT_TRUE(AppendMessageText(MsgText{"Kivo v1.0", m.lines}, offset));
        bool deleted = m.status & MSG_DELETED;
        MsgHeader h;
        h.MsgNumber = m.number;
        h.TextOffset = offset;
        h.MsgArea = int16_t(m.area);
        h.FromName = m.from;
        h.ToName = m.to;
        h.Subject = m.subject;
        h.DateText = "03/04/24";
        h.TimeText = "10:20:30";
        h.Status = m.status;
        h.ReplyTo = m.replyTo;
        h.LatestReply = m.latestReply;
        h.TimesRead = m.timesRead;
        Put(hdr, h);
        Put(idx, MsgIndexRecord{deleted ? -m.number : m.number, int16_t(deleted ? -(m.area + 1) : m.area)});
        Put(to, MsgToIndexRecord{deleted                      ? kRecipientDeleted
                                 : m.status & MSG_RECEIVED    ? kRecipientReceived
                                                              : m.to});
        if (!deleted) {
            if (info.TotalMessages == 0 || m.number < info.LowestNumber) info.LowestNumber = m.number;
            ++info.TotalMessages;
            ++info.AreaCounts[size_t(m.area)];
        }
        if (m.number > info.HighestNumber) info.HighestNumber = m.number;
    }
    std::ofstream inf(MsgBasePath(kMsgInfoFile), std::ios::binary);
    Put(inf, info);
}

}  // namespace kv::test
