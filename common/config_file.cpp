#include "common/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kv {
namespace {

bool ReadWholeRecord(const char* path, uint8_t* into) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    size_t got = 0;
    while (ok && got < kConfigFileSize) {
        ssize_t n = read(fd, into + got, kConfigFileSize - got);
        if (n <= 0) ok = false;
        else got += size_t(n);
    }
    close(fd);
    return ok;
}

}  // namespace

bool LoadConfigBytes(ConfigBytes& slot) {
    slot.fill(0);
    if (ReadWholeRecord("kvconfig.bbs", slot.data())) return true;
    slot.fill(0);
    const char* env = std::getenv("KIVOCNF");
    return env != nullptr && *env != '\0' && ReadWholeRecord(env, slot.data());
}

}  // namespace kv
