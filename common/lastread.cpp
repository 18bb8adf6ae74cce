#include "common/lastread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

#include "common/msgbase.h"
#include "common/msgbase_texts.h"

namespace kv {
namespace {

// One pread or pwrite of a whole record; false with the reason.
bool Transfer(int fd, LastReadRecord& record, LastReadDirection dir, off_t at, std::string& why) {
    std::array<uint8_t, LastReadRecord::kSize> bytes{};
    ssize_t n;
    if (dir == LastReadDirection::kWrite) {
        EncodeRecord(record, bytes.data());
        do n = ::pwrite(fd, bytes.data(), bytes.size(), at);
        while (n < 0 && errno == EINTR);
    } else {
        do n = ::pread(fd, bytes.data(), bytes.size(), at);
        while (n < 0 && errno == EINTR);
    }
    if (n < 0) {
        why = std::strerror(errno);
        return false;
    }
    if (static_cast<size_t>(n) != bytes.size()) {
        why = n == 0 && dir == LastReadDirection::kRead ? "no such record"
                                                          : fmt::format("{} of {} bytes", n, bytes.size());
        return false;
    }
    if (dir == LastReadDirection::kRead) DecodeRecord(bytes.data(), record);
    return true;
}

}  // namespace

bool LastReadIO(int32_t user, LastReadRecord& record, LastReadDirection dir, std::string* why) {
    std::string reason;
    bool ok = false;
    std::string path = MsgBasePath(kLastReadFile);
    if (path.empty()) {
        reason = "no message-base directory";
    } else if (user < 0) {
        reason = "no such user";
    } else {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            reason = std::strerror(errno);
        } else {
            // Read into a copy: a failed read leaves the caller's record alone.
            LastReadRecord copy = record;
            ok = Transfer(fd, copy, dir, static_cast<off_t>(user) * LastReadRecord::kSize, reason);
            if (::close(fd) != 0 && ok) {
                reason = std::strerror(errno);
                ok = false;
            }
            if (ok) record = copy;
        }
    }
    if (!ok && why) *why = reason;
    return ok;
}

bool ReadLastRead(int32_t user, LastReadRecord& record) {
    std::string why;
    if (LastReadIO(user, record, LastReadDirection::kRead, &why)) return true;
    ReportText(342, user, MsgBasePath(kLastReadFile), why);
    return false;
}

bool WriteLastRead(int32_t user, const LastReadRecord& record) {
    MsgBaseLock lock;
    std::string why = "the message base is not locked";
    LastReadRecord copy = record;
    if (lock && LastReadIO(user, copy, LastReadDirection::kWrite, &why)) return true;
    ReportText(343, user, MsgBasePath(kLastReadFile), why);
    return false;
}

bool AddLastReadRecord(int32_t user, LastReadRecord& record) {
    record = LastReadRecord{};
    MsgBaseLock lock;
    if (!lock) return false;
    std::string path = MsgBasePath(kLastReadFile);
    if (path.empty()) return false;
    if (user < 0) {
        LogService(fmt::format("Message base: no last-read record for user {}", user));
        return false;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (fd < 0) {
        LogService(fmt::format("Message base: cannot open {}: {}", path, std::strerror(errno)));
        return false;
    }
    std::string why;
    bool ok = Transfer(fd, record, LastReadDirection::kWrite, static_cast<off_t>(user) * LastReadRecord::kSize, why);
    if (::close(fd) != 0 && ok) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok) LogService(fmt::format("Message base: cannot write {} for user {}: {}", path, user, why));
    return ok;
}

}  // namespace kv
