#include "tools/kvprune/base_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/runtime.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {
namespace {

constexpr size_t kWriteChunk = 1 << 20;
constexpr const char* kNewSuffix = ".new";

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

// The whole records of a file; a piece of a record at its end is not one.
template <class R>
bool LoadRecords(int fd, const std::string& path, std::vector<R>& out) {
    std::vector<uint8_t> bytes;
    if (!ReadAll(fd, bytes)) {
        PruneLogF("Cannot read %s: %s", path, std::strerror(errno));
        return false;
    }
    out.assign(bytes.size() / R::kSize, R{});
    for (size_t i = 0; i < out.size(); ++i) DecodeRecord(bytes.data() + i * R::kSize, out[i]);
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

bool SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace

OpenBase::~OpenBase() {
    CloseFiles();
    CloseFd(infoFd);
}

void OpenBase::CloseFiles() {
    CloseFd(textFd);
    CloseFd(indexFd);
    CloseFd(recipientFd);
    CloseFd(headerFd);
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
    } steps[] = {
        {base.textFd, kMsgTextFile, O_RDONLY, "Cannot open message text file\n"},
        {base.indexFd, kMsgIndexFile, O_RDWR, "Cannot open message index file\n"},
        {base.recipientFd, kMsgToIndexFile, O_RDWR, "Cannot open message to index file\n"},
        {base.headerFd, kMsgHeaderFile, O_RDWR, "Cannot open message header file\n"},
    };
    for (Step& s : steps) {
        s.fd = OpenFile(base.Path(s.file), s.flags);
        if (s.fd < 0) {
            std::fputs(s.failure, stderr);
            return false;
        }
    }
    return LoadRecords(base.indexFd, base.Path(kMsgIndexFile), base.index) &&
           LoadRecords(base.recipientFd, base.Path(kMsgToIndexFile), base.recipients) &&
           LoadRecords(base.headerFd, base.Path(kMsgHeaderFile), base.headers);
}

bool ReopenMessageFiles(OpenBase& base) {
    base.CloseFiles();
    base.textFd = OpenFile(base.Path(kMsgTextFile), O_RDONLY);
    base.indexFd = OpenFile(base.Path(kMsgIndexFile), O_RDWR);
    base.recipientFd = OpenFile(base.Path(kMsgToIndexFile), O_RDWR);
    base.headerFd = OpenFile(base.Path(kMsgHeaderFile), O_RDWR);
    if (base.textFd < 0 || base.indexFd < 0 || base.recipientFd < 0 || base.headerFd < 0) {
        PruneLogF("Cannot reopen the message base in %s: %s", base.dir, std::strerror(errno));
        return false;
    }
    return true;
}

bool WriteIndexRecord(OpenBase& base, size_t record) {
    return WriteRecordAt(base.indexFd, base.Path(kMsgIndexFile), base.index[record], record);
}

bool WriteRecipientRecord(OpenBase& base, size_t record) {
    return WriteRecordAt(base.recipientFd, base.Path(kMsgToIndexFile), base.recipients[record], record);
}

bool WriteHeaderRecord(OpenBase& base, size_t record) {
    return WriteRecordAt(base.headerFd, base.Path(kMsgHeaderFile), base.headers[record], record);
}

bool WriteInfoRecord(OpenBase& base) { return WriteRecordAt(base.infoFd, base.Path(kMsgInfoFile), base.info, 0); }

NewBaseFile::NewBaseFile(const std::string& dir, const char* name)
    : dir_(dir), path_(dir + "/" + name + kNewSuffix), name_(name) {}

NewBaseFile::~NewBaseFile() {
    if (fd_ >= 0) close(fd_);
    // Swapped in, the name is gone; otherwise nothing of a failed run stays.
    if (created_) unlink(path_.c_str());
}

bool NewBaseFile::Create() {
    // A "<name>.new" left by a run that died is ours to replace: nobody else
    // writes these names while we hold the base lock.
    if (unlink(path_.c_str()) != 0 && errno != ENOENT) {
        PruneLogF("Cannot remove %s: %s", path_, std::strerror(errno));
        return false;
    }
    struct stat st;
    mode_t mode = stat((dir_ + "/" + name_).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0660;
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0) {
        PruneLogF("Cannot create %s: %s", path_, std::strerror(errno));
        return false;
    }
    created_ = true;
    fchmod(fd_, mode);  // the umask must not narrow what the original allowed
    buf_.reserve(kWriteChunk);
    return true;
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
    buf_.clear();
    return ok;
}

bool NewBaseFile::Write(const void* data, size_t n) {
    if (fd_ < 0 || failed_) return false;
    const char* p = static_cast<const char*>(data);
    written_ += n;
    if (buf_.size() + n > kWriteChunk && !Flush()) return false;
    if (n >= kWriteChunk) return WriteOut(p, n);
    buf_.insert(buf_.end(), p, p + n);
    return true;
}

bool NewBaseFile::Finish() {
    if (fd_ < 0 || failed_ || !Flush()) return false;
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

bool SwapInNewFiles(const std::string& dir, const std::vector<const char*>& names, const char* suffix,
                    bool keepOld) {
    auto plain = [&](const char* n) { return dir + "/" + n; };
    auto old = [&](const char* n) { return dir + "/" + n + suffix; };
    auto fresh = [&](const char* n) { return dir + "/" + n + kNewSuffix; };
    auto dropAll = [&](size_t from, bool olds) {
        for (size_t i = from; i < names.size(); ++i) {
            unlink(fresh(names[i]).c_str());
            if (olds) unlink(old(names[i]).c_str());
        }
    };

    // Keep every original under its old name first, so that the plain name
    // never goes missing and a failed rename below can be undone.
    for (size_t i = 0; i < names.size(); ++i) {
        const char* n = names[i];
        if ((unlink(old(n).c_str()) != 0 && errno != ENOENT) || link(plain(n).c_str(), old(n).c_str()) != 0) {
            PruneLogF("Cannot keep %s as %s: %s", plain(n), old(n), std::strerror(errno));
            for (size_t j = 0; j < i; ++j) unlink(old(names[j]).c_str());
            dropAll(0, false);
            return false;
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const char* n = names[i];
        if (rename(fresh(n).c_str(), plain(n).c_str()) != 0) {
            PruneLogF("Cannot rename %s to %s: %s", fresh(n), plain(n), std::strerror(errno));
            for (size_t j = 0; j < i; ++j) rename(old(names[j]).c_str(), plain(names[j]).c_str());
            dropAll(i, true);
            SyncDirectory(dir);
            return false;
        }
    }
    if (!keepOld)
        for (const char* n : names) unlink(old(n).c_str());
    SyncDirectory(dir);
    return true;
}

}  // namespace kv::prune
