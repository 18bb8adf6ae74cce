#include "common/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace kv {
namespace {

// The whole of a regular file, when it holds at least a record.
bool ReadWholeFile(const char* path, std::string& bytes) {
    bytes.clear();
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buf[16384];
    for (ssize_t n; ok && (n = read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0) ok = false;
        else bytes.append(buf, size_t(n));
    }
    close(fd);
    return ok && bytes.size() >= kConfigFileSize;
}

}  // namespace

bool ReadConfigFileWhole(std::string& path, std::string& bytes) {
    path = "kvconfig.bbs";
    if (ReadWholeFile(path.c_str(), bytes)) return true;
    const char* env = std::getenv("KIVOCNF");
    if (env == nullptr || *env == '\0') return false;
    path = env;
    return ReadWholeFile(env, bytes);
}

bool LoadConfigBytes(ConfigBytes& slot) {
    slot.fill(0);
    std::string path, bytes;
    if (!ReadConfigFileWhole(path, bytes)) return false;
    std::copy_n(bytes.begin(), kConfigFileSize, slot.begin());
    return true;
}

}  // namespace kv
