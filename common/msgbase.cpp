#include "common/msgbase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fmt/format.h>

#include "common/dates.h"
#include "common/msgbase_swap.h"
#include "common/msgbase_texts.h"
#include "common/runtime.h"

namespace kv {
namespace {

// Closes its descriptor on every way out.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

void LogFailure(std::string_view what, const std::string& path, int err) {
    LogService(fmt::format("Message base: cannot {} {}: {}", what, path, std::strerror(err)));
}

void LogShortRecord(const std::string& path, int64_t record, size_t got, size_t want) {
    LogService(fmt::format("Message base: record {} of {} is cut short ({} of {} bytes)", record, path, got, want));
}

// Opens a file of the base by path; a failure is logged, but for a missing
// file when the caller takes that as an answer of its own.
Fd OpenBaseFile(const char* file, int flags, std::string& path, bool quietWhenMissing = false) {
    path = MsgBasePath(file);
    if (path.empty()) return Fd(-1);
    Fd fd(::open(path.c_str(), flags | O_CLOEXEC, 0660));
    if (!fd.ok() && !(quietWhenMissing && errno == ENOENT)) LogFailure("open", path, errno);
    return fd;
}

bool WriteAll(int fd, const void* data, size_t size, off_t at) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads up to size bytes; the count read, or -1.
ssize_t ReadUpTo(int fd, void* data, size_t size, off_t at) {
    char* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, p + got, size - got, at + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Appends bytes at the end of a base file (made when missing) and gives the
// offset where they start.  The caller holds the base lock, so nobody else
// moves the end meanwhile; a write that fails halfway is cut back.
bool AppendBytes(const char* file, const void* data, size_t size, int32_t& offset) {
    std::string path;
    Fd fd = OpenBaseFile(file, O_WRONLY | O_CREAT, path);
    if (!fd.ok()) return false;
    off_t end = ::lseek(fd.get(), 0, SEEK_END);
    if (end < 0) {
        LogFailure("find the end of", path, errno);
        return false;
    }
    // Offsets travel as int32 in headers and mail requests.
    if (end > INT32_MAX - static_cast<off_t>(size)) {
        LogService(fmt::format("Message base: {} is full ({} bytes)", path, static_cast<long long>(end)));
        return false;
    }
    if (!WriteAll(fd.get(), data, size, end)) {
        int err = errno;
        if (::ftruncate(fd.get(), end) != 0) LogFailure("cut back", path, errno);
        LogFailure("append to", path, err);
        return false;
    }
    offset = static_cast<int32_t>(end);
    return true;
}

template <class R>
bool AppendRecord(const char* file, const R& r, int32_t& offset) {
    MsgBaseLock lock;
    if (!lock) return false;
    auto bytes = EncodeRecord(r);
    return AppendBytes(file, bytes.data(), bytes.size(), offset);
}

// Reads record number `record` of a file of R records.  A missing file or
// a record past the end fails quietly; a record cut short is logged.
template <class R>
bool ReadRecord(const char* file, int64_t record, R& r) {
    if (record < 0) return false;
    std::string path;
    Fd fd = OpenBaseFile(file, O_RDONLY, path, true);
    if (!fd.ok()) return false;
    std::array<uint8_t, R::kSize> bytes{};
    ssize_t got = ReadUpTo(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(record * R::kSize));
    if (got < 0) {
        LogFailure("read", path, errno);
        return false;
    }
    if (static_cast<size_t>(got) != R::kSize) {
        if (got > 0) LogShortRecord(path, record, static_cast<size_t>(got), R::kSize);
        return false;
    }
    DecodeRecord(bytes.data(), r);
    return true;
}

// Rewrites an existing record in place; a record number past the end is
// refused, so a rewrite never leaves a hole that would put the parallel
// files out of step.
template <class R>
bool RewriteRecord(const char* file, int64_t record, const R& r) {
    MsgBaseLock lock;
    if (!lock) return false;
    std::string path;
    Fd fd = OpenBaseFile(file, O_RDWR, path);
    if (!fd.ok()) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        LogFailure("stat", path, errno);
        return false;
    }
    if (record < 0 || (record + 1) * static_cast<int64_t>(R::kSize) > st.st_size) {
        LogService(fmt::format("Message base: {} has no record {}", path, record));
        return false;
    }
    auto bytes = EncodeRecord(r);
    if (!WriteAll(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(record * R::kSize))) {
        LogFailure("write", path, errno);
        return false;
    }
    return true;
}

// Size of a base file; -1 when it does not exist.
bool FileLength(const char* file, off_t& size) {
    std::string path = MsgBasePath(file);
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        size = st.st_size;
        return true;
    }
    if (errno == ENOENT) {
        size = -1;
        return true;
    }
    LogFailure("stat", path, errno);
    return false;
}

// Puts a file back at an earlier length, or removes it when it did not
// exist before.
bool CutBack(const char* file, off_t size) {
    std::string path = MsgBasePath(file);
    int rc = size < 0 ? ::unlink(path.c_str()) : ::truncate(path.c_str(), size);
    if (rc != 0 && errno != ENOENT) {
        LogFailure("cut back", path, errno);
        return false;
    }
    return true;
}

// What an append may change, taken before it starts.
struct BaseSnapshot {
    off_t text = -1, toIndex = -1, index = -1, header = -1;
    std::optional<MsgInfoRecord> info;
};

bool TakeSnapshot(BaseSnapshot& s) {
    if (!FileLength(kMsgTextFile, s.text) || !FileLength(kMsgToIndexFile, s.toIndex) ||
        !FileLength(kMsgIndexFile, s.index) || !FileLength(kMsgHeaderFile, s.header))
        return false;
    off_t infoSize = -1;
    if (!FileLength(kMsgInfoFile, infoSize)) return false;
    if (infoSize >= 0) {
        MsgInfoRecord info;
        if (!ReadMessageInfo(info)) return false;
        s.info = info;
    }
    return true;
}

void Restore(const BaseSnapshot& s) {
    CutBack(kMsgTextFile, s.text);
    CutBack(kMsgToIndexFile, s.toIndex);
    CutBack(kMsgIndexFile, s.index);
    CutBack(kMsgHeaderFile, s.header);
    if (s.info) {
        WriteMessageInfo(*s.info);
    } else {
        CutBack(kMsgInfoFile, -1);
    }
}

// An append writes the recipient entry, the index entry and the header,
// in that order, one write each.  One that died between them (a killed
// process) leaves the first few of those records of one message, the last
// perhaps in part, beyond the headers: a message without a header that
// nobody can have read, cut off here so that record i of the three files
// describes one message again.  Files out of step in any other way (a
// torn maintenance run, somebody's copy) are not ours to guess at: cutting
// them could drop real records, so the append is refused and logged.
bool BringParallelFilesInStep(BaseSnapshot& s) {
    struct Part {
        const char* file;
        off_t& size;
        off_t width;
    } parts[] = {{kMsgToIndexFile, s.toIndex, MsgToIndexRecord::kSize},
                 {kMsgIndexFile, s.index, MsgIndexRecord::kSize},
                 {kMsgHeaderFile, s.header, MsgHeader::kSize}};
    const off_t whole = (s.header < 0 ? 0 : s.header) / MsgHeader::kSize;
    // Each file's bytes beyond the headers' count, in the order written: a
    // crashed append leaves whole records before a part, then nothing.
    bool sound = true, laterMayHold = true;
    bool cut = false;
    for (const auto& p : parts) {
        off_t extra = (p.size < 0 ? 0 : p.size) - whole * p.width;
        if (extra < 0 || extra > p.width || (extra > 0 && !laterMayHold)) sound = false;
        laterMayHold = extra == p.width;
        cut = cut || extra > 0;
    }
    // Counts alone cannot tell a dead append from an old index beside a
    // shorter new header file: the last message both files hold must be
    // the same one, and the unfinished one must come after it.
    if (sound && cut && whole > 0) {
        MsgIndexRecord lastIndex, extraIndex;
        MsgHeader lastHeader;
        if (!ReadRecord(kMsgIndexFile, whole - 1, lastIndex) || !ReadRecord(kMsgHeaderFile, whole - 1, lastHeader) ||
            std::abs(lastIndex.MsgNumber) != std::abs(lastHeader.MsgNumber))
            sound = false;
        else if (s.index >= (whole + 1) * off_t(MsgIndexRecord::kSize) &&
                 (!ReadRecord(kMsgIndexFile, whole, extraIndex) || extraIndex.MsgNumber <= std::abs(lastHeader.MsgNumber)))
            sound = false;
    }
    if (!sound) {
        LogService(fmt::format("Message base: {} ({} bytes), {} ({} bytes) and {} ({} bytes) are out of step; "
                               "nothing appended until repaired",
                               kMsgToIndexFile, static_cast<long long>(s.toIndex), kMsgIndexFile,
                               static_cast<long long>(s.index), kMsgHeaderFile, static_cast<long long>(s.header)));
        return false;
    }
    if (!cut) return true;
    for (auto& p : parts) {
        if (p.size < 0 || p.size == whole * p.width) continue;
        if (!CutBack(p.file, whole * p.width)) return false;
        p.size = whole * p.width;
    }
    LogService(fmt::format("Message base: cut an unfinished message off {}, {} and {} (now {} messages)",
                           kMsgToIndexFile, kMsgIndexFile, kMsgHeaderFile, static_cast<long long>(whole)));
    return true;
}

// The process's hold of the base lock.
struct LockState {
    pid_t owner = 0;
    int fd = -1;
    int depth = 0;
    std::string path;
};

LockState& HeldLock() {
    static LockState s;
    return s;
}

}  // namespace

std::string MsgBasePath(const char* file) {
    const std::string& dir = Config().MsgBaseDir;
    if (dir.empty()) {
        LogService(fmt::format("Message base: no MsgBaseDir configured for {}", file));
        return {};
    }
    return dir + "/" + file;
}

bool LockRegion(int fd, int lock, off_t start, off_t length) {
    struct flock fl {};
    fl.l_type = lock ? F_WRLCK : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    // Open-file-description locks: they belong to this open of the file,
    // not to the process, so closing another descriptor of the same file
    // cannot drop them.
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLKW, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

MsgBaseLock::MsgBaseLock() {
    LockState& s = HeldLock();
    pid_t me = ::getpid();
    if (s.depth > 0 && s.owner != me) {
        // A child forked while its parent held the base: the parent's hold
        // is not ours.  Dropping our copy of the descriptor leaves it alone.
        ::close(s.fd);
        s = LockState{};
    }
    if (s.depth == 0) {
        std::string path = MsgBasePath(kMsgLockFile);
        if (path.empty()) return;
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
        if (fd < 0) {
            LogFailure("open", path, errno);
            return;
        }
        if (!LockRegion(fd, 1, 0, 0)) {
            LogFailure("lock", path, errno);
            ::close(fd);
            return;
        }
        s.owner = me;
        s.fd = fd;
        s.path = path;
        s.depth = 1;
        // A maintenance run killed in the middle of its swap is finished
        // before anybody reads or writes the base; a base that cannot be
        // made whole stays locked to everyone.
        if (!CompletePendingSwap()) {
            LockRegion(fd, 0, 0, 0);
            ::close(fd);
            s = LockState{};
            return;
        }
        s.depth = 0;
    }
    ++s.depth;
    held_ = true;
    owner_ = me;
}

MsgBaseLock::~MsgBaseLock() {
    LockState& s = HeldLock();
    if (!held_ || owner_ != ::getpid() || s.owner != owner_) return;
    if (--s.depth > 0) return;
    if (!LockRegion(s.fd, 0, 0, 0)) ReportText(728, s.path, std::strerror(errno));
    ::close(s.fd);
    s = LockState{};
}

bool AppendMessage(const MsgText& text, MsgHeader& header, int32_t& headerOffset) {
    MsgBaseLock lock;
    if (!lock) return false;
    BaseSnapshot before;
    if (!TakeSnapshot(before) || !BringParallelFilesInStep(before)) return false;
    bool ok = AppendMessageText(text, header.TextOffset) && NextMessageNumber(header.MsgNumber, header.MsgArea) &&
              AppendRecipientEntry(header.ToName) && AppendMessageIndex(header.MsgNumber, header.MsgArea) &&
              AppendMessageHeader(header, headerOffset);
    if (!ok) Restore(before);
    return ok;
}

bool AppendMessageText(const MsgText& text, int32_t& offset) {
    MsgBaseLock lock;
    if (!lock) return false;
    std::string bytes = EncodeMsgText(text);
    return AppendBytes(kMsgTextFile, bytes.data(), bytes.size(), offset);
}

int CreateMessageInfo(const std::string& path) {
    MsgBaseLock lock;
    if (!lock) return -1;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
    if (fd < 0) {
        LogFailure("create", path, errno);
        return -1;
    }
    auto zeros = EncodeRecord(MsgInfoRecord{});
    if (!WriteAll(fd, zeros.data(), zeros.size(), 0)) {
        LogFailure("write", path, errno);
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

bool NextMessageNumber(int32_t& number, int area) {
    MsgBaseLock lock;
    if (!lock) return false;
    std::string path = MsgBasePath(kMsgInfoFile);
    if (path.empty()) return false;
    if (area < 0 || area >= kMsgAreaCount) {
        LogService(fmt::format("Message base: no message area {} to count in {}", area, path));
        return false;
    }
    int raw = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (raw < 0 && errno == ENOENT) {
        raw = CreateMessageInfo(path);
        if (raw < 0) return false;
    } else if (raw < 0) {
        LogFailure("open", path, errno);
        return false;
    }
    Fd fd(raw);
    std::array<uint8_t, MsgInfoRecord::kSize> bytes{};
    ssize_t got = ReadUpTo(fd.get(), bytes.data(), bytes.size(), 0);
    if (got < 0) {
        LogFailure("read", path, errno);
        return false;
    }
    if (static_cast<size_t>(got) != bytes.size()) {
        LogShortRecord(path, 0, static_cast<size_t>(got), bytes.size());
        return false;
    }
    MsgInfoRecord info;
    DecodeRecord(bytes.data(), info);
    if (info.HighestNumber < 0 || info.HighestNumber == INT32_MAX) {
        LogService(fmt::format("Message base: {} holds no next number (highest {})", path, info.HighestNumber));
        return false;
    }
    if (info.LowestNumber == 0) info.LowestNumber = 1;
    ++info.HighestNumber;
    ++info.TotalMessages;
    ++info.AreaCounts[static_cast<size_t>(area)];
    // One record within one disk sector, written by one call in place: the
    // file is never seen half old and half new.
    EncodeRecord(info, bytes.data());
    if (!WriteAll(fd.get(), bytes.data(), bytes.size(), 0)) {
        LogFailure("write", path, errno);
        return false;
    }
    number = info.HighestNumber;
    return true;
}

bool AppendRecipientEntry(std::string_view name) {
    MsgToIndexRecord r;
    r.Recipient = name;
    int32_t at = 0;
    return AppendRecord(kMsgToIndexFile, r, at);
}

bool AppendMessageIndex(int32_t number, int area) {
    MsgIndexRecord r;
    r.MsgNumber = number;
    r.MsgArea = static_cast<int16_t>(area);
    int32_t at = 0;
    return AppendRecord(kMsgIndexFile, r, at);
}

bool AppendMessageHeader(const MsgHeader& header, int32_t& offset) {
    return AppendRecord(kMsgHeaderFile, header, offset);
}

void BuildMessageHeader(MsgHeader& h, std::string_view recipient, std::string_view subject, int32_t number,
                        int32_t textOffset, int area, bool isPrivate, std::optional<int32_t> replyTo, bool forward,
                        bool asSysop, std::string_view callerName) {
    std::string sender = h.FromName;
    h = MsgHeader{};
    h.MsgNumber = number;
    h.MsgArea = static_cast<int16_t>(area);
    h.TextOffset = textOffset;
    if (asSysop) {
        h.FromName = Config().SysopName.empty() ? LibraryText(193) : Config().SysopName;
    } else {
        h.FromName = sender.empty() ? std::string(callerName) : sender;
    }
    h.ToName = recipient;
    h.Subject = subject;
    h.DateText = DateString();
    h.TimeText = TimeString();
    h.WrittenAt = static_cast<int32_t>(Now());
    h.Status = isPrivate ? (MSG_LOCAL | MSG_PRIVATE) : MSG_LOCAL;
    h.ReplyTo = (replyTo && !asSysop && !forward) ? *replyTo : 0;
}

int MessageArea(int32_t record) {
    MsgIndexRecord r;
    if (!ReadRecord(kMsgIndexFile, record, r)) return -1;
    return r.MsgArea;
}

bool ReadMessageIndex(MsgIndexRecord& entry, int32_t record) { return ReadRecord(kMsgIndexFile, record, entry); }

bool WriteMessageIndex(const MsgIndexRecord& entry, int32_t record) {
    return RewriteRecord(kMsgIndexFile, record, entry);
}

bool WriteRecipientEntry(int32_t record, std::string_view text) {
    MsgToIndexRecord r;
    r.Recipient = text;
    return RewriteRecord(kMsgToIndexFile, record, r);
}

bool ReadMessageHeader(MsgHeader& header, int32_t record) { return ReadRecord(kMsgHeaderFile, record, header); }

bool WriteMessageHeader(const MsgHeader& header, int32_t record) {
    return RewriteRecord(kMsgHeaderFile, record, header);
}

bool ReadMessageText(int32_t offset, MsgText& text) {
    text = MsgText{};
    std::string path;
    Fd fd = OpenBaseFile(kMsgTextFile, O_RDONLY, path);
    if (!fd.ok()) return false;
    if (offset < 0) {
        LogService(fmt::format("Message base: no text at offset {} of {}", offset, path));
        return false;
    }
    // Read on until the end byte shows at the start of a line.
    std::string bytes;
    char chunk[4096];
    for (;;) {
        ssize_t n = ReadUpTo(fd.get(), chunk, sizeof chunk, static_cast<off_t>(offset) + bytes.size());
        if (n < 0) {
            LogFailure("read", path, errno);
            return false;
        }
        size_t from = bytes.size();
        bytes.append(chunk, static_cast<size_t>(n));
        bool ended = false;
        for (size_t i = from; i < bytes.size() && !ended; ++i)
            ended = bytes[i] == kTextEndByte && (i == 0 || bytes[i - 1] == '\n');
        if (ended || n == 0) break;
    }
    if (DecodeMsgText(bytes, text) == 0) {
        LogService(fmt::format("Message base: the text at offset {} of {} has no end", offset, path));
        return false;
    }
    return true;
}

bool ReadMessageInfo(MsgInfoRecord& info) {
    MsgInfoRecord r;
    if (!ReadRecord(kMsgInfoFile, 0, r)) return false;
    info = r;
    return true;
}

bool WriteMessageInfo(const MsgInfoRecord& info) {
    MsgBaseLock lock;
    if (!lock) return false;
    std::string path;
    Fd fd = OpenBaseFile(kMsgInfoFile, O_WRONLY | O_CREAT, path);
    if (!fd.ok()) return false;
    auto bytes = EncodeRecord(info);
    if (!WriteAll(fd.get(), bytes.data(), bytes.size(), 0)) {
        LogFailure("write", path, errno);
        return false;
    }
    return true;
}

}  // namespace kv
