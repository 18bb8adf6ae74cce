// The message base: appending a message, record access and the base lock.
//
// The five files and their layouts are in common/msg_records.h.  Every
// operation opens its file by path (MsgBaseDir of Config() + "/" + name) and
// closes it again; each returns true on success.  A failure is logged once,
// where it is found, with the path and the reason, through LogService.
//
// Locking.  One real lock guards the whole base: a blocking, exclusive
// open-file-description lock (LockRegion) on "msgbase.lck" in MsgBaseDir, a
// file that nothing rewrites or renames, so kvprune may replace the other
// files while it holds the lock.  Every writer holds it across a whole
// append and across any read-modify-write of "msginfo.bbs", a header, a
// recipient entry or "lastread.bbs": kivo, kvhubd's mail import, kvpost,
// kvprune and kvroster.  Take it with a guard:
//
//     MsgBaseLock lock;
//     if (!lock) return false;          // already logged
//     ReadMessageHeader(h, record);
//     h.TimesRead++;
//     WriteMessageHeader(h, record);
//
// Guards nest inside one process: only the outermost takes and releases
// the lock, so the step functions below, which each take it around their
// own write, run inside AppendMessage (or a caller's guard) without
// deadlock.  A forked child never counts as holding its parent's lock.
// The programs are single-threaded; so is the nesting count.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/msg_records.h"

namespace kv {

inline constexpr const char* kMsgLockFile = "msgbase.lck";

// Path of a file of the message base; empty (and logged) while no
// MsgBaseDir is configured, so nothing lands in the root directory.
std::string MsgBasePath(const char* file);

// Takes (lock != 0, waiting for it) or releases (lock == 0) an exclusive
// lock on bytes [start, start + length) of the open file fd; a length of 0
// reaches to the end of the file, however far it grows.  The lock belongs
// to the open file: closing fd releases it.  errno tells why it failed.
bool LockRegion(int fd, int lock, off_t start, off_t length);

class MsgBaseLock {
public:
    MsgBaseLock();   // waits until this process holds the base; see ok()
    ~MsgBaseLock();  // a failed release logs text 728
    MsgBaseLock(const MsgBaseLock&) = delete;
    MsgBaseLock& operator=(const MsgBaseLock&) = delete;

    bool ok() const { return held_; }
    explicit operator bool() const { return held_; }

private:
    bool held_ = false;
    unsigned generation_ = 0;
};

// Appends one whole message under the base lock, in the order every writer
// keeps: the text, the next number (counted in "msginfo.bbs"), the
// recipient entry (header.ToName), the index entry and the header.  The
// header comes filled but for MsgNumber and TextOffset, which are set here;
// headerOffset gets the header's byte offset in "msghdr.bbs".  When a step
// fails, every file is cut back to its earlier length and "msginfo.bbs"
// gets its earlier record back, so nothing of the message remains.
bool AppendMessage(const MsgText& text, MsgHeader& header, int32_t& headerOffset);

// Appends many messages under one hold of the base lock, the five files
// opened at the first append and kept open to the end: the mail import's
// batch, and AppendMessage for one.  Each Append is whole or leaves
// nothing, as AppendMessage.  Lives no longer than one batch: the lock is
// held from construction to destruction.
class MsgBaseWriter {
public:
    MsgBaseWriter();
    ~MsgBaseWriter();
    MsgBaseWriter(const MsgBaseWriter&) = delete;
    MsgBaseWriter& operator=(const MsgBaseWriter&) = delete;

    bool Append(const MsgText& text, MsgHeader& header, int32_t& headerOffset);

private:
    enum { kText = 0, kTo = 1, kIndex = 2, kHeader = 3 };
    struct File {
        const char* name = nullptr;
        std::string path;
        int fd = -1;
        off_t size = 0;
        bool created = false;
    };
    bool Open();
    bool Write(File& f, const void* data, size_t size);
    bool Refuse();
    void CloseAfresh();

    MsgBaseLock lock_;
    File files_[4];
    std::string infoPath_;
    int infoFd_ = -1;
    bool infoCreated_ = false, opened_ = false, usable_ = false, appended_ = false;
    MsgInfoRecord info_;
};

// The steps of AppendMessage, each under the lock around its own write.
// A writer appends through AppendMessage; these serve its tests and tools.
bool AppendMessageText(const MsgText& text, int32_t& offset);
bool NextMessageNumber(int32_t& number, int area);  // counts it in "msginfo.bbs"
int CreateMessageInfo(const std::string& path);     // open descriptor of a new zeroed file, or -1
bool AppendRecipientEntry(std::string_view name);
bool AppendMessageIndex(int32_t number, int area);
bool AppendMessageHeader(const MsgHeader& header, int32_t& offset);

// Fills a new header.  The sender: SysopName (else text 193) when written
// as sysop; else a sender already in the header (the alias a caller chose);
// else callerName.  ReplyTo holds replyTo unless the message is a forward
// or written as sysop.  Status is MSG_LOCAL (+ MSG_PRIVATE); MailFlags,
// TimesRead, ImportedAt and LatestReply are 0; the date and time are now.
void BuildMessageHeader(MsgHeader& header, std::string_view recipient, std::string_view subject, int32_t number,
                        int32_t textOffset, int area, bool isPrivate, std::optional<int32_t> replyTo, bool forward,
                        bool asSysop, std::string_view callerName);

// Record access by record number (the position in the parallel files).
// Reading a record past the end of its file fails without a log line, so
// that a scan may simply run until it fails; a record cut short is logged.
int MessageArea(int32_t record);  // MsgArea of "msgidx.bbs", or -1
bool ReadMessageIndex(MsgIndexRecord& entry, int32_t record);
bool WriteMessageIndex(const MsgIndexRecord& entry, int32_t record);
bool WriteRecipientEntry(int32_t record, std::string_view text);
bool ReadMessageHeader(MsgHeader& header, int32_t record);
bool WriteMessageHeader(const MsgHeader& header, int32_t record);

// The text at a byte offset of "msgtxt.bbs"; false (logged) when it has no
// end byte, with the lines found so far in text.
bool ReadMessageText(int32_t offset, MsgText& text);

// The counter record; a missing "msginfo.bbs" reads as a failure.
bool ReadMessageInfo(MsgInfoRecord& info);
bool WriteMessageInfo(const MsgInfoRecord& info);

}  // namespace kv
