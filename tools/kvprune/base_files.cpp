#include "tools/kvprune/base_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "common/runtime.h"
#include "common/whole_file.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {
namespace {

constexpr size_t kWriteChunk = 256 << 10;
// A run held back goes out in pieces of this many bytes.
constexpr size_t kHeldPiece = 8 << 20;
// A run of source bytes this long is copied inside the kernel.
constexpr size_t kKernelCopyRun = 64 << 10;
// Unchanged bytes up to this many between two changed records are written
// again with them rather than cutting the run.
constexpr size_t kRunGapBytes = 4096;
// The least of a file a reader maps at a time.
constexpr size_t kMapWindow = 4 << 20;

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool ReadAll(int fd, std::vector<uint8_t>& into) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    into.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < into.size()) {
        ssize_t n = pread(fd, into.data() + got, into.size() - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    into.resize(got);
    return true;
}

bool WriteAt(int fd, const std::string& path, const uint8_t* p, size_t n, off_t at) {
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            PruneLogF("Cannot write %s at %ld: %s", path, long(at), std::strerror(w < 0 ? errno : EIO));
            return false;
        }
        p += w;
        n -= size_t(w);
        at += w;
    }
    return true;
}

template <class R>
bool WriteRecordAt(int fd, const std::string& path, const R& r, size_t record) {
    auto bytes = EncodeRecord(r);
    return WriteAt(fd, path, bytes.data(), bytes.size(), off_t(record * R::kSize));
}

int OpenFile(const std::string& path, int flags) { return open(path.c_str(), flags | O_CLOEXEC); }

}  // namespace

OpenBase::~OpenBase() {
    CloseFiles();
    CloseFd(infoFd);
}

void OpenBase::CloseFiles() {
    // A file the swap replaced goes at its last close, and the file system
    // gives its blocks back then (and has the disk discard them): the four
    // go together rather than one after another.
    std::vector<std::thread> closing;
    for (int* fd : {&textFd, &indexFd, &recipientFd, &headerFd}) {
        if (*fd < 0) continue;
        try {
            closing.emplace_back(close, *fd);
            *fd = -1;
        } catch (const std::system_error&) {
            CloseFd(*fd);
        }
    }
    for (std::thread& t : closing) t.join();
}

bool OpenMessageInfo(OpenBase& base) {
    base.infoFd = OpenFile(base.Path(kMsgInfoFile), O_RDWR);
    if (base.infoFd < 0) {
        std::fputs("Cannot open message info file\n", stderr);
        return false;
    }
    // The run counts and numbers the messages itself and writes the record
    // back whole, so one that cannot be read is logged and rebuilt.
    uint8_t bytes[MsgInfoRecord::kSize];
    if (pread(base.infoFd, bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        PruneLog("Cannot read message info file");
        base.info = MsgInfoRecord{};
        return true;
    }
    DecodeRecord(bytes, base.info);
    return true;
}

bool OpenMessageFiles(OpenBase& base) {
    struct Step {
        int& fd;
        const char* file;
        int flags;
        const char* failure;
        size_t* count;
        size_t width;
    } steps[] = {
        {base.textFd, kMsgTextFile, O_RDONLY, "Cannot open message text file\n", nullptr, 1},
        {base.indexFd, kMsgIndexFile, O_RDWR, "Cannot open message index file\n", &base.indexCount,
         MsgIndexRecord::kSize},
        {base.recipientFd, kMsgToIndexFile, O_RDWR, "Cannot open message to index file\n", &base.recipientCount,
         MsgToIndexRecord::kSize},
        {base.headerFd, kMsgHeaderFile, O_RDWR, "Cannot open message header file\n", &base.headerCount,
         MsgHeader::kSize},
    };
    for (Step& s : steps) {
        s.fd = OpenFile(base.Path(s.file), s.flags);
        if (s.fd < 0) {
            std::fputs(s.failure, stderr);
            return false;
        }
    }
    for (Step& s : steps) {
        if (s.count == nullptr) continue;
        struct stat st;
        if (fstat(s.fd, &st) != 0) {
            PruneLogF("Cannot read %s: %s", base.Path(s.file), std::strerror(errno));
            return false;
        }
        *s.count = size_t(st.st_size) / s.width;
    }
    return true;
}

void ChunkWindow::Unmap() {
    if (map_ != nullptr) munmap(map_, mapLength_);
    map_ = nullptr;
    data_ = nullptr;
    mapLength_ = start_ = have_ = 0;
}

const uint8_t* ChunkWindow::Fill(size_t offset, size_t length) {
    Unmap();
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        PruneLogF("Cannot read %s: %s", path_, std::strerror(errno));
        return nullptr;
    }
    const size_t size = size_t(std::max<off_t>(st.st_size, 0));
    if (offset > size || length > size - offset) {
        PruneLogF("Cannot read %s at %ld: %s", path_, long(std::min(offset, size)), std::strerror(EIO));
        return nullptr;
    }
    // Mappings start on a page; as much of the window as the file holds,
    // and never less than asked.  The pages are mapped at once: a fault
    // for each would cost more than the mapping.
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t from = offset / page * page;
    const size_t want = std::max({length + (offset - from), window_, kMapWindow});
    const size_t n = std::min(want, size - from);
    static const uint8_t none = 0;
    if (n == 0) {
        // Nothing to map: an empty range at the end of the file.
        start_ = offset;
        data_ = &none;
        return data_;
    }
    void* p = mmap(nullptr, n, PROT_READ, MAP_SHARED | MAP_POPULATE, fd_, off_t(from));
    if (p == MAP_FAILED) {
        PruneLogF("Cannot read %s at %ld: %s", path_, long(offset), std::strerror(errno));
        return nullptr;
    }
    map_ = p;
    mapLength_ = n;
    start_ = from;
    have_ = n;
    data_ = static_cast<const uint8_t*>(p);
    return data_ + (offset - from);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& into) {
    int fd = OpenFile(path, O_RDONLY);
    if (fd < 0) return false;
    bool ok = ReadAll(fd, into);
    int err = errno;
    close(fd);
    errno = err;
    return ok;
}

bool WriteIndexRecord(OpenBase& base, const MsgIndexRecord& r, size_t record) {
    return WriteRecordAt(base.indexFd, base.Path(kMsgIndexFile), r, record);
}

bool WriteRecipientRecord(OpenBase& base, const MsgToIndexRecord& r, size_t record) {
    return WriteRecordAt(base.recipientFd, base.Path(kMsgToIndexFile), r, record);
}

bool WriteHeaderRecord(OpenBase& base, const MsgHeader& r, size_t record) {
    return WriteRecordAt(base.headerFd, base.Path(kMsgHeaderFile), r, record);
}

bool WriteRecordBytes(int fd, const std::string& path, const uint8_t* bytes, size_t size, size_t record) {
    return WriteAt(fd, path, bytes, size, off_t(record * size));
}

bool WriteInfoRecord(OpenBase& base) { return WriteRecordAt(base.infoFd, base.Path(kMsgInfoFile), base.info, 0); }

RunWriter::RunWriter(int fd, std::string path, size_t recordSize)
    : fd_(fd), path_(std::move(path)), size_(recordSize), gap_(kRunGapBytes / recordSize) {}

void RunWriter::Begin(size_t first, const uint8_t* old) {
    first_ = first;
    old_ = old;
    runs_.clear();
    buf_.clear();
    changed_.clear();
}

uint8_t* RunWriter::Change(size_t r) {
    Run* last = runs_.empty() ? nullptr : &runs_.back();
    if (last == nullptr || r > last->first + last->count + gap_) {
        runs_.push_back({r, 0, buf_.size()});
        last = &runs_.back();
    }
    // The unchanged records up to r join the run as they are: writing a
    // few of them again costs less than a write of its own.
    const size_t end = last->first + last->count;
    if (r >= end) {
        const uint8_t* from = old_ + (end - first_) * size_;
        buf_.insert(buf_.end(), from, from + (r + 1 - end) * size_);
        last->count = r + 1 - last->first;
    }
    if (changed_.empty() || changed_.back() != r) changed_.push_back(r);
    return buf_.data() + last->at + (r - last->first) * size_;
}

std::vector<size_t> RunWriter::Write() {
    std::vector<size_t> failed;
    size_t next = 0;  // the first changed record not yet past
    for (const Run& run : runs_) {
        CrashPoint("purge");
        const uint8_t* bytes = buf_.data() + run.at;
        size_t firstChanged = next;
        while (next < changed_.size() && changed_[next] < run.first + run.count) ++next;
        if (WriteAt(fd_, path_, bytes, run.count * size_, off_t(run.first * size_))) continue;
        // Record by record, so that only those that cannot be written fail.
        for (size_t i = firstChanged; i < next; ++i) {
            size_t r = changed_[i];
            if (!WriteAt(fd_, path_, bytes + (r - run.first) * size_, size_, off_t(r * size_))) failed.push_back(r);
        }
    }
    runs_.clear();
    buf_.clear();
    changed_.clear();
    return failed;
}

NewBaseFile::NewBaseFile(const std::string& dir, const char* name)
    : dir_(dir), target_(dir + "/" + name), name_(name) {}

NewBaseFile::~NewBaseFile() {
    if (fd_ >= 0) close(fd_);
    // Handed to the journal, the file is the swap's; otherwise nothing of a
    // failed run stays.
    if (created_ && !handedOver_) unlink(path_.c_str());
}

bool NewBaseFile::Create() {
    path_ = target_ + ".XXXXXX";
    fd_ = mkstemp(path_.data());
    if (fd_ < 0) {
        PruneLogF("Cannot create %s: %s", path_, std::strerror(errno));
        return false;
    }
    created_ = true;
    // The umask must not narrow what the original allowed.
    struct stat st;
    fchmod(fd_, stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0660);
    buf_.reserve(kWriteChunk);
    return true;
}

SwapStep NewBaseFile::Step() {
    handedOver_ = true;
    return {path_, target_, keepOld_ ? target_ + ".B" : std::string()};
}

bool NewBaseFile::WriteOut(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd_, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            PruneLogF("Cannot write %s: %s", path_, std::strerror(w < 0 ? errno : EIO));
            failed_ = true;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool NewBaseFile::Flush() {
    bool ok = WriteOut(buf_.data(), buf_.size());
    // The disk starts on what is written while the rest is made, so the
    // sync at the end waits for little.
    if (ok && !buf_.empty()) sync_file_range(fd_, off_t(flushed_), off_t(buf_.size()), SYNC_FILE_RANGE_WRITE);
    flushed_ += buf_.size();
    buf_.clear();
    return ok;
}

bool NewBaseFile::Buffer(const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    written_ += n;
    if (buf_.size() + n > kWriteChunk) {
        if (!Flush()) return false;
        runBuffered_ = 0;
    }
    if (n >= kWriteChunk) {
        bool ok = WriteOut(p, n);
        flushed_ += n;
        return ok;
    }
    buf_.insert(buf_.end(), p, p + n);
    return true;
}

bool NewBaseFile::Write(const void* data, size_t n) {
    if (fd_ < 0 || failed_ || !EndRun()) return false;
    return Buffer(data, n);
}

bool NewBaseFile::CopyFrom(int fd, size_t offset, const void* bytes, size_t n) {
    if (fd_ < 0 || failed_) return false;
    if (runLength_ == 0 || fd != runFd_ || offset != runStart_ + runLength_) {
        if (!EndRun()) return false;
        runFd_ = fd;
        runStart_ = offset;
    }
    runLength_ += n;
    // A run grown long is held back, the part of it in the buffer taken
    // out again; a short one goes through the buffer as any bytes do, as a
    // copy of a few records would cost a call of its own each.
    if (!runHeld_ && runBuffered_ + n >= kKernelCopyRun) {
        buf_.resize(buf_.size() - runBuffered_);
        heldStart_ = offset - runBuffered_;
        runBuffered_ = 0;
        runHeld_ = true;
    }
    if (runHeld_) {
        written_ += n;
        // A long run goes out a piece at a time, so that the disk works on
        // it while the rest is read, as with what the buffer writes.
        const size_t held = runStart_ + runLength_ - heldStart_;
        if (held < kHeldPiece) return true;
        const size_t from = heldStart_;
        heldStart_ += held;
        return Flush() && CopyOut(runFd_, from, held);
    }
    if (!Buffer(bytes, n)) return false;
    runBuffered_ += n;
    return true;
}

bool NewBaseFile::EndRun() {
    const bool held = runHeld_;
    const size_t from = heldStart_, n = runStart_ + runLength_ - heldStart_;
    runHeld_ = false;
    runLength_ = runBuffered_ = 0;
    return !held || n == 0 || (Flush() && CopyOut(runFd_, from, n));
}

bool NewBaseFile::CopyOut(int fd, size_t offset, size_t n) {
    const unsigned long start = flushed_;
    loff_t in = loff_t(offset);
    size_t left = n;
    bool inKernel = true;
    std::vector<char> chunk;
    while (left > 0) {
        ssize_t got;
        if (inKernel) {
            got = copy_file_range(fd, &in, fd_, nullptr, left, 0);
            // Files on two file systems, or one that cannot: through here.
            if (got < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) &&
                left == n) {
                inKernel = false;
                continue;
            }
        } else {
            chunk.resize(std::min(left, kWriteChunk));
            got = pread(fd, chunk.data(), chunk.size(), off_t(in));
            if (got > 0 && !WriteOut(chunk.data(), size_t(got))) return false;
            if (got > 0) in += got;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            PruneLogF("Cannot copy into %s: %s", path_, std::strerror(got < 0 ? errno : EIO));
            failed_ = true;
            return false;
        }
        left -= size_t(got);
    }
    flushed_ += n;
    sync_file_range(fd_, off_t(start), off_t(n), SYNC_FILE_RANGE_WRITE);
    return true;
}

bool NewBaseFile::Complete() { return fd_ >= 0 && !failed_ && EndRun() && Flush(); }

bool NewBaseFile::Finish() {
    if (!Complete()) return false;
    if (fsync(fd_) != 0) {
        PruneLogF("Cannot sync %s: %s", path_, std::strerror(errno));
        return false;
    }
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        PruneLogF("Cannot close %s: %s", path_, std::strerror(errno));
        return false;
    }
    return true;
}

bool FinishAll(const std::vector<NewBaseFile*>& files) {
    std::vector<char> ok(files.size(), 0);
    std::vector<std::thread> finishing;
    for (size_t i = 0; i < files.size(); ++i) {
        try {
            finishing.emplace_back([&ok, &files, i] { ok[i] = files[i]->Finish(); });
        } catch (const std::system_error&) {
            ok[i] = files[i]->Finish();
        }
    }
    for (std::thread& t : finishing) t.join();
    return std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
}

bool SwapInNewFiles(const std::vector<NewBaseFile*>& files, const std::vector<HighestReadFix>* fixes) {
    std::string fixFile;
    if (fixes && !fixes->empty()) {
        fixFile = WriteHighestReadFixes(Config().MsgBaseDir, *fixes);
        if (fixFile.empty()) return false;
    }
    std::vector<SwapStep> steps;
    for (NewBaseFile* f : files) steps.push_back(f->Step());
    if (CommitBaseSwap(steps, fixFile)) return true;
    for (const SwapStep& s : steps) unlink(s.fresh.c_str());
    if (!fixFile.empty()) unlink(fixFile.c_str());
    return false;
}

void RemoveLeftoverFiles(const std::string& dir, const std::vector<const char*>& names) {
    for (const std::string& path : TempFilesBeside(dir, names))
        if (unlink(path.c_str()) == 0) PruneLogF("Removed %s, left by an interrupted run", path);
}

}  // namespace kv::prune
