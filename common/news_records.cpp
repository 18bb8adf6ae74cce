#include "common/news_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kv {

NewsInfoHeader FreshNewsHeader() {
    NewsInfoHeader h;
    h.Subscribed = 0;
    h.Date = "00/00/00";
    h.Time = "00:00:00";
    return h;
}

NewsFile::NewsFile(const std::string& path, Mode mode) {
    fd_ = ::open(path.c_str(), (mode == kReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd_ < 0) errno_ = errno;
}

NewsFile::~NewsFile() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t NewsFile::RecordsOf(size_t size) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || size == 0) return 0;
    return int64_t(st.st_size) / int64_t(size);
}

bool NewsFile::Transfer(uint8_t* bytes, size_t size, off_t at, bool write) {
    if (fd_ < 0) return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write ? ::pwrite(fd_, bytes + done, size - done, at + off_t(done))
                          : ::pread(fd_, bytes + done, size - done, at + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            errno_ = n < 0 ? errno : 0;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool CreateNewsFile(const std::string& path) {
    // The header is written whole under a name of its own and only then
    // linked to the caller's name, so a news file is never seen half made;
    // a file that appeared meanwhile is kept.
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    std::string pattern = dir + ".newsXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    uint8_t bytes[NewsInfoHeader::kSize];
    EncodeRecord(FreshNewsHeader(), bytes);
    bool ok = ::write(fd, bytes, sizeof bytes) == ssize_t(sizeof bytes) && ::fchmod(fd, 0660) == 0 &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::link(name.data(), path.c_str()) == 0;
    ::unlink(name.data());
    return ok;
}

}  // namespace kv
