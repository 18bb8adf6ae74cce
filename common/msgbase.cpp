#include "common/msgbase.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <algorithm>
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

// The byte sizes of the parallel files, -1 for a missing one.
struct BaseSnapshot {
    off_t toIndex = -1, index = -1, header = -1;
};

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

// The process's hold of the base lock.  The lock file stays open between
// holds (nothing renames it), so taking the lock is one call.  A forked
// child never shares its parent's descriptor: an open-file-description
// lock on it would count as the child's too.
struct LockState {
    int fd = -1;
    int depth = 0;
    std::string path;
    unsigned generation = 0;  // counts forks, so a guard made before one is known
};

LockState lockState;

void ForgetLockInChild() {
    if (lockState.fd >= 0) ::close(lockState.fd);
    unsigned generation = lockState.generation + 1;
    lockState = LockState{};
    lockState.generation = generation;
}

LockState& HeldLock() {
    static const bool registered = ::pthread_atfork(nullptr, nullptr, ForgetLockInChild) == 0;
    (void)registered;
    return lockState;
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
    if (s.depth == 0) {
        std::string path = MsgBasePath(kMsgLockFile);
        if (path.empty()) return;
        if (s.fd >= 0 && s.path != path) {
            ::close(s.fd);
            s.fd = -1;
        }
        for (;;) {
            if (s.fd < 0) {
                s.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
                if (s.fd < 0) {
                    LogFailure("open", path, errno);
                    return;
                }
                s.path = path;
            }
            if (!LockRegion(s.fd, 1, 0, 0)) {
                LogFailure("lock", path, errno);
                return;
            }
            // A lock file somebody removed meanwhile locks nobody else out.
            struct stat st {};
            if (::fstat(s.fd, &st) != 0 || st.st_nlink > 0) break;
            ::close(s.fd);
            s.fd = -1;
        }
        s.depth = 1;
        // A maintenance run killed in the middle of its swap is finished
        // before anybody reads or writes the base; a base that cannot be
        // made whole stays locked to everyone.
        bool whole = CompletePendingSwap();
        s.depth = 0;
        if (!whole) {
            LockRegion(s.fd, 0, 0, 0);
            return;
        }
    }
    ++s.depth;
    held_ = true;
    generation_ = s.generation;
}

MsgBaseLock::~MsgBaseLock() {
    LockState& s = HeldLock();
    if (!held_ || generation_ != s.generation) return;
    if (--s.depth > 0) return;
    if (!LockRegion(s.fd, 0, 0, 0)) ReportText(728, s.path, std::strerror(errno));
}

MsgBaseWriter::MsgBaseWriter() = default;

MsgBaseWriter::~MsgBaseWriter() {
    for (File& f : files_)
        if (f.fd >= 0) ::close(f.fd);
    if (infoFd_ >= 0) ::close(infoFd_);
}

// Opens the files once, at the first append: appends made through this
// writer keep the ends in memory, as nobody else appends while the lock is
// held.  Files that do not exist yet are made, and remembered, so that a
// first message that fails, or a base that cannot take one, leaves none
// behind.
bool MsgBaseWriter::Open() {
    if (opened_) return usable_;
    opened_ = true;
    if (!lock_) return false;
    const char* names[] = {kMsgTextFile, kMsgToIndexFile, kMsgIndexFile, kMsgHeaderFile};
    for (size_t i = 0; i < 4; ++i) {
        File& f = files_[i];
        f.name = names[i];
        f.path = MsgBasePath(f.name);
        if (f.path.empty()) return Refuse();
        f.fd = ::open(f.path.c_str(), O_WRONLY | O_CLOEXEC);
        if (f.fd < 0 && errno == ENOENT) {
            f.fd = ::open(f.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0660);
            f.created = f.fd >= 0;
        }
        struct stat st {};
        if (f.fd < 0 || ::fstat(f.fd, &st) != 0) {
            LogFailure("open", f.path, errno);
            return Refuse();
        }
        f.size = st.st_size;
    }
    infoPath_ = MsgBasePath(kMsgInfoFile);
    infoFd_ = ::open(infoPath_.c_str(), O_RDWR | O_CLOEXEC);
    if (infoFd_ < 0 && errno == ENOENT) {
        infoFd_ = CreateMessageInfo(infoPath_);
        infoCreated_ = infoFd_ >= 0;
        if (infoFd_ < 0) return Refuse();
    } else if (infoFd_ < 0) {
        LogFailure("open", infoPath_, errno);
        return Refuse();
    }
    std::array<uint8_t, MsgInfoRecord::kSize> bytes{};
    ssize_t got = ReadUpTo(infoFd_, bytes.data(), bytes.size(), 0);
    if (got != ssize_t(bytes.size())) {
        if (got < 0) LogFailure("read", infoPath_, errno);
        else LogShortRecord(infoPath_, 0, size_t(got), bytes.size());
        return Refuse();
    }
    DecodeRecord(bytes.data(), info_);
    BaseSnapshot sizes;
    sizes.toIndex = files_[kTo].size;
    sizes.index = files_[kIndex].size;
    sizes.header = files_[kHeader].size;
    if (!BringParallelFilesInStep(sizes)) return Refuse();
    files_[kTo].size = sizes.toIndex;
    files_[kIndex].size = sizes.index;
    files_[kHeader].size = sizes.header;
    usable_ = true;
    return true;
}

// A base that cannot take a message, or a message refused before any of
// it is written: while nothing went in through this writer, it keeps no
// file it made, and the next append opens (and makes) them afresh.
// Always false, for the refusal that ends here.
bool MsgBaseWriter::Refuse() {
    if (appended_) return false;
    bool made = infoCreated_;
    for (const File& f : files_) {
        if (!f.created) continue;
        ::unlink(f.path.c_str());
        made = true;
    }
    if (infoCreated_) ::unlink(infoPath_.c_str());
    if (made) CloseAfresh();
    return false;
}

// Closes every file and forgets them: the next append opens, and makes,
// them afresh.
void MsgBaseWriter::CloseAfresh() {
    for (File& f : files_) {
        if (f.fd >= 0) ::close(f.fd);
        f = File{};
    }
    if (infoFd_ >= 0) ::close(infoFd_);
    infoFd_ = -1;
    infoCreated_ = opened_ = usable_ = false;
}

bool MsgBaseWriter::Write(File& f, const void* data, size_t size) {
    if (!WriteAll(f.fd, data, size, f.size)) {
        int err = errno;
        // A write that failed halfway is cut back at once.
        if (::ftruncate(f.fd, f.size) != 0) LogFailure("cut back", f.path, errno);
        LogFailure("append to", f.path, err);
        return false;
    }
    f.size += off_t(size);
    return true;
}

bool MsgBaseWriter::Append(const MsgText& text, MsgHeader& header, int32_t& headerOffset) {
    if (!Open()) return false;
    const int area = header.MsgArea;
    if (area < 0 || area >= kMsgAreaCount) {
        LogService(fmt::format("Message base: no message area {} to count in {}", area, infoPath_));
        return Refuse();
    }
    if (info_.HighestNumber < 0 || info_.HighestNumber == INT32_MAX) {
        LogService(fmt::format("Message base: {} holds no next number (highest {})", infoPath_, info_.HighestNumber));
        return Refuse();
    }
    std::string body = EncodeMsgText(text);
    // Offsets travel as int32 in headers and mail requests.
    if (files_[kText].size > INT32_MAX - off_t(body.size())) {
        LogService(fmt::format("Message base: {} is full ({} bytes)", files_[kText].path,
                               static_cast<long long>(files_[kText].size)));
        return Refuse();
    }
    const std::array<off_t, 4> before = {files_[0].size, files_[1].size, files_[2].size, files_[3].size};
    const MsgInfoRecord infoBefore = info_;

    header.TextOffset = int32_t(files_[kText].size);
    bool ok = Write(files_[kText], body.data(), body.size());
    if (ok) {
        if (info_.LowestNumber == 0) info_.LowestNumber = 1;
        ++info_.HighestNumber;
        ++info_.TotalMessages;
        ++info_.AreaCounts[size_t(area)];
        header.MsgNumber = info_.HighestNumber;
        // One record within one disk sector, written by one call in place:
        // the file is never seen half old and half new.
        auto bytes = EncodeRecord(info_);
        ok = WriteAll(infoFd_, bytes.data(), bytes.size(), 0);
        if (!ok) LogFailure("write", infoPath_, errno);
    }
    if (ok) {
        MsgToIndexRecord to;
        to.Recipient = header.ToName;
        auto bytes = EncodeRecord(to);
        ok = Write(files_[kTo], bytes.data(), bytes.size());
    }
    if (ok) {
        auto bytes = EncodeRecord(MsgIndexRecord{header.MsgNumber, int16_t(area)});
        ok = Write(files_[kIndex], bytes.data(), bytes.size());
    }
    if (ok) {
        headerOffset = int32_t(files_[kHeader].size);
        auto bytes = EncodeRecord(header);
        ok = Write(files_[kHeader], bytes.data(), bytes.size());
    }
    if (ok) {
        appended_ = true;
        return true;
    }
    // Nothing of the message stays: every file back at its length, the
    // counters as they were; files made for a first message go again.
    const bool dropMade = !appended_;
    for (size_t i = 0; i < 4; ++i) {
        File& f = files_[i];
        if (f.created && dropMade) {
            ::unlink(f.path.c_str());
        } else if (f.size != before[i] && ::ftruncate(f.fd, before[i]) != 0) {
            LogFailure("cut back", f.path, errno);
        }
        f.size = before[i];
    }
    info_ = infoBefore;
    if (infoCreated_ && dropMade) {
        ::unlink(infoPath_.c_str());
    } else {
        auto bytes = EncodeRecord(info_);
        if (!WriteAll(infoFd_, bytes.data(), bytes.size(), 0)) LogFailure("write", infoPath_, errno);
    }
    if (dropMade && (infoCreated_ || std::any_of(std::begin(files_), std::end(files_),
                                                 [](const File& f) { return f.created; })))
        CloseAfresh();
    return false;
}

bool AppendMessage(const MsgText& text, MsgHeader& header, int32_t& headerOffset) {
    MsgBaseWriter writer;
    return writer.Append(text, header, headerOffset);
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
