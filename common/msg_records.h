// Records of the message base: five files in MsgBaseDir.
//
// "msgidx.bbs", "msgtoidx.bbs" and "msghdr.bbs" run in parallel: record i of
// each describes the same message (its record number; callers see its
// message number).  "msgtxt.bbs" holds the texts one after another and
// "msginfo.bbs" the single counter record.  All integers are little-endian.
//
// MsgIndexRecord ("msgidx.bbs", 8 bytes):
//   offset  width  field
//   0       4      MsgNumber      int32; a deleted message holds it negated
//   4       2      MsgArea        int16 0-99; a deleted message holds -(area+1)
//   6       2      padding
//
// MsgToIndexRecord ("msgtoidx.bbs", 61 bytes):
//   0       61     Recipient      text; "Received" once read, "Deleted" once deleted
//
// MsgHeader ("msghdr.bbs", 268 bytes):
//   0       4      MsgNumber      int32, as in "msgidx.bbs"
//   4       4      TextOffset     int32 byte offset of the text in "msgtxt.bbs"
//   8       2      MsgArea        int16 0-99
//   10      61     FromName       text
//   71      61     ToName         text
//   132     72     Subject        text; the attached file's path with MAIL_FILE_ATTACHED
//   204     9      DateText       text, a date text of FormatDate
//   213     9      TimeText       text, "HH:MM:SS"
//   222     2      padding
//   224     4      TimesRead      int32
//   228     20     reserved       kept as read
//   248     4      WrittenAt      int32 seconds since the epoch
//   252     4      ImportedAt     int32; 0 unless imported mail
//   256     1      Status         MsgStatus bits
//   257     1      MailFlags      MailFlag bits
//   258     2      padding
//   260     4      ReplyTo        int32 number of the message answered; 0 none
//   264     4      LatestReply    int32 number of the latest answer; 0 none
//
// MsgInfoRecord ("msginfo.bbs", one record of 412 bytes):
//   0       4      LowestNumber   int32 lowest live message number
//   4       4      HighestNumber  int32 number of the last message appended
//   8       4      TotalMessages  int32 live messages
//   12      400    AreaCounts     int32[100] live messages per area
//
// MsgText ("msgtxt.bbs", one per message at its header's TextOffset):
//   0x01 "PID: " program and version "\n"   the PidLine
//   each text line "\n"                      trailing white space removed
//   0x1A                                     no line feed after it
// Lines that begin with 0x01 are control lines.  A reader stops at the first
// line whose first byte is 0x1A; the next text's PidLine follows directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/config_record.h"
#include "common/record_io.h"

namespace kv {

// File names inside MsgBaseDir.
inline constexpr const char* kMsgTextFile = "msgtxt.bbs";
inline constexpr const char* kMsgHeaderFile = "msghdr.bbs";
inline constexpr const char* kMsgIndexFile = "msgidx.bbs";
inline constexpr const char* kMsgToIndexFile = "msgtoidx.bbs";
inline constexpr const char* kMsgInfoFile = "msginfo.bbs";

// MsgHeader::Status.
enum MsgStatus : uint8_t {
    MSG_DELETED = 0x01,
    MSG_EMAIL = 0x04,
    MSG_PRIVATE = 0x08,
    MSG_RECEIVED = 0x10,  // the recipient has read it
    MSG_LOCAL = 0x40,     // written on this system, not imported
};

// MsgHeader::MailFlags.
enum MailFlag : uint8_t {
    MAIL_KILL_SENT = 0x01,  // delete once sent
    MAIL_SENT = 0x02,
    MAIL_FILE_ATTACHED = 0x04,
    MAIL_SEND_NOW = 0x08,
};

// The words that replace a recipient entry.
inline constexpr const char* kRecipientReceived = "Received";
inline constexpr const char* kRecipientDeleted = "Deleted";

struct MsgIndexRecord {
    static constexpr size_t kSize = 8;
    int32_t MsgNumber = 0;  // negated when deleted
    int16_t MsgArea = 0;    // -(area + 1) when deleted
};
template <class IO> constexpr void Visit(IO& io, MsgIndexRecord& r) {
    io.Field("MsgNumber", 0, 4, r.MsgNumber);
    io.Field("MsgArea", 4, 2, r.MsgArea);
}
static_assert(LayoutIsSound<MsgIndexRecord>());

struct MsgToIndexRecord {
    static constexpr size_t kSize = 61;
    std::string Recipient;  // text[61]
};
template <class IO> constexpr void Visit(IO& io, MsgToIndexRecord& r) {
    io.Field("Recipient", 0, 61, r.Recipient);
}
static_assert(LayoutIsSound<MsgToIndexRecord>());

struct MsgHeader {
    static constexpr size_t kSize = 268;
    int32_t MsgNumber = 0;
    int32_t TextOffset = 0;
    int16_t MsgArea = 0;
    std::string FromName;              // text[61]
    std::string ToName;                // text[61]
    std::string Subject;               // text[72]
    std::string DateText;              // text[9]
    std::string TimeText;              // text[9]
    int32_t TimesRead = 0;
    std::array<uint8_t, 20> Reserved{};  // not ours; written back as read
    int32_t WrittenAt = 0;
    int32_t ImportedAt = 0;
    uint8_t Status = 0;                // MsgStatus
    uint8_t MailFlags = 0;             // MailFlag
    int32_t ReplyTo = 0;
    int32_t LatestReply = 0;
};
template <class IO> constexpr void Visit(IO& io, MsgHeader& h) {
    io.Field("MsgNumber", 0, 4, h.MsgNumber);
    io.Field("TextOffset", 4, 4, h.TextOffset);
    io.Field("MsgArea", 8, 2, h.MsgArea);
    io.Field("FromName", 10, 61, h.FromName);
    io.Field("ToName", 71, 61, h.ToName);
    io.Field("Subject", 132, 72, h.Subject);
    io.Field("DateText", 204, 9, h.DateText);
    io.Field("TimeText", 213, 9, h.TimeText);
    io.Field("TimesRead", 224, 4, h.TimesRead);
    io.Field("Reserved", 228, 20, h.Reserved);
    io.Field("WrittenAt", 248, 4, h.WrittenAt);
    io.Field("ImportedAt", 252, 4, h.ImportedAt);
    io.Field("Status", 256, 1, h.Status);
    io.Field("MailFlags", 257, 1, h.MailFlags);
    io.Field("ReplyTo", 260, 4, h.ReplyTo);
    io.Field("LatestReply", 264, 4, h.LatestReply);
}
static_assert(LayoutIsSound<MsgHeader>());

struct MsgInfoRecord {
    static constexpr size_t kSize = 412;
    int32_t LowestNumber = 0;
    int32_t HighestNumber = 0;
    int32_t TotalMessages = 0;
    std::array<int32_t, kMsgAreaCount> AreaCounts{};
};
template <class IO> constexpr void Visit(IO& io, MsgInfoRecord& r) {
    io.Field("LowestNumber", 0, 4, r.LowestNumber);
    io.Field("HighestNumber", 4, 4, r.HighestNumber);
    io.Field("TotalMessages", 8, 4, r.TotalMessages);
    for (size_t a = 0; a < r.AreaCounts.size(); ++a) io.Field("AreaCounts", 12 + 4 * a, 4, r.AreaCounts[a]);
}
static_assert(LayoutIsSound<MsgInfoRecord>());

// One message text as it lies in "msgtxt.bbs".
struct MsgText {
    std::string Pid;                 // writing program and version, "Kivo v1.0"
    std::vector<std::string> Lines;  // without their line feeds; control lines keep their 0x01
};

inline constexpr char kControlByte = 0x01;  // first byte of a control line
inline constexpr char kTextEndByte = 0x1A;  // ends a text on disk and in memory

// A caller's text buffer (lines ended by line feeds, the whole ended by
// 0x1A or by the end of the buffer) as the lines to store: trailing white
// space cut, a last line without its line feed kept.
MsgText TextFromBuffer(std::string_view pid, std::string_view buffer);

// The header's texts (names, subject, date and time) with their control
// bytes blanked (BlankControlBytes), in place: what a header from outside
// may show on a caller's terminal.
void BlankHeaderControlBytes(MsgHeader& h);

// The bytes of a MsgText on disk.
std::string EncodeMsgText(const MsgText& text);

// Decodes the text that starts at bytes[0].  Returns how many bytes it
// covers, the end byte included, or 0 when no end byte was found (out then
// holds the lines seen so far).
size_t DecodeMsgText(std::string_view bytes, MsgText& out);

}  // namespace kv
