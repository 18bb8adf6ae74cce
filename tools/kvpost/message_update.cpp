// What becomes of a message once its mail has left: marked sent, or deleted
// from the base when the caller asked for that.  Each change is a
// read-modify-write of the base and runs under its lock, against the
// records as they are now, not as they were when the mail was built.
#include <cstdlib>
#include <vector>

#include "common/msgbase.h"
#include "server/server_log.h"
#include "tools/kvpost/sender_internal.h"

namespace kv::post {
namespace {

int32_t RecordOf(const Outgoing& out) { return out.Request.Offset / int32_t(MsgHeader::kSize); }

// Every record of "msgidx.bbs"; a scan simply reads until a read fails.
std::vector<MsgIndexRecord> ReadIndex() {
    std::vector<MsgIndexRecord> index;
    for (MsgIndexRecord r; ReadMessageIndex(r, int32_t(index.size()));) index.push_back(r);
    return index;
}

// The record holding live message number n: a scan from the first record
// that stops at the first larger number.  -1 when there is none.
int32_t FindMessage(const std::vector<MsgIndexRecord>& index, int32_t n) {
    for (size_t i = 0; i < index.size(); ++i) {
        if (index[i].MsgNumber == n) return int32_t(i);
        if (index[i].MsgNumber > n) break;
    }
    return -1;
}

// Clears a link of message `linked` that names the deleted message; a link
// that names another message (a later reply) stays.
void UnlinkFrom(const std::vector<MsgIndexRecord>& index, int32_t linked, int32_t deleted, int32_t MsgHeader::*link) {
    int32_t record = FindMessage(index, linked);
    MsgHeader h;
    if (record < 0 || !ReadMessageHeader(h, record) || h.MsgNumber != linked || h.*link != deleted) return;
    h.*link = 0;
    if (!WriteMessageHeader(h, record))
        WriteServerLog("KP: Cannot rewrite message header at position %ld", long(record) * long(MsgHeader::kSize));
}

// One live message fewer in "msginfo.bbs"; the lowest and highest numbers
// move past it when it was one of them.
void CountDeletion(const std::vector<MsgIndexRecord>& index, int32_t record, const MsgHeader& h) {
    MsgInfoRecord info;
    if (!ReadMessageInfo(info)) return;
    if (info.TotalMessages > 0) --info.TotalMessages;
    if (h.MsgArea >= 0 && size_t(h.MsgArea) < info.AreaCounts.size() && info.AreaCounts[h.MsgArea] > 0)
        --info.AreaCounts[h.MsgArea];
    if (h.MsgNumber == info.LowestNumber) {
        for (const auto& r : index) {
            if (r.MsgNumber > h.MsgNumber) {
                info.LowestNumber = r.MsgNumber;
                break;
            }
        }
    }
    if (h.MsgNumber == info.HighestNumber) {
        // The record before it from the end, deleted or not, so that no
        // number of a message still in the files is handed out again.
        for (size_t i = index.size(); i-- > 0;) {
            int32_t n = std::abs(index[i].MsgNumber);
            if (int32_t(i) != record && n < h.MsgNumber) {
                info.HighestNumber = n;
                break;
            }
        }
    }
    WriteMessageInfo(info);
}

}  // namespace

void MarkSent(const Outgoing& out) {
    int32_t record = RecordOf(out);
    MsgBaseLock lock;
    MsgHeader h;
    if (lock && ReadMessageHeader(h, record) && h.MsgNumber == out.Header.MsgNumber) {
        h.MailFlags |= MAIL_SENT;
        if (WriteMessageHeader(h, record)) return;
    }
    WriteServerLog("KP: Cannot rewrite message header at position %ld", long(out.Request.Offset));
}

void KillMessage(const Outgoing& out) {
    int32_t record = RecordOf(out);
    int32_t number = out.Header.MsgNumber;
    MsgBaseLock lock;
    MsgHeader h;
    std::vector<MsgIndexRecord> index = ReadIndex();
    // Only a message that is still live here is deleted and counted: one
    // deleted meanwhile by its author or a sysop has been counted already.
    if (!lock || !ReadMessageHeader(h, record) || h.MsgNumber != number || (h.Status & MSG_DELETED) ||
        size_t(record) >= index.size() || index[record].MsgNumber != number) {
        WriteServerLog("KP: Cannot delete message no %ld", long(number));
        return;
    }
    MsgIndexRecord& entry = index[record];
    entry.MsgNumber = -number;
    entry.MsgArea = int16_t(-(entry.MsgArea + 1));
    if (!WriteMessageIndex(entry, record)) {
        WriteServerLog("KP: Cannot delete message no %ld", long(number));
        return;
    }
    if (h.ReplyTo > 0) UnlinkFrom(index, h.ReplyTo, number, &MsgHeader::LatestReply);
    if (h.LatestReply > 0) UnlinkFrom(index, h.LatestReply, number, &MsgHeader::ReplyTo);
    h.Status |= MSG_DELETED;
    if (!WriteMessageHeader(h, record))
        WriteServerLog("KP: Cannot rewrite message header at position %ld", long(out.Request.Offset));
    WriteRecipientEntry(record, kRecipientDeleted);
    CountDeletion(index, record, h);
}

}  // namespace kv::post
