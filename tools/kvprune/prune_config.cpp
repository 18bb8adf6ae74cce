#include "tools/kvprune/prune_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "common/runtime.h"

namespace kv::prune {
namespace {

// The record kvprune runs with; the decoded copy goes to SetConfig.
ConfigBytes& ConfigSlot() {
    static ConfigBytes slot{};
    return slot;
}

// Only a regular file holding at least a whole record will do; a directory
// named by KIVOCNF is a failed load, not a read error later.
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

bool LoadPruneConfig() {
    ConfigBytes& slot = ConfigSlot();
    slot.fill(0);
    if (!ReadWholeRecord("kvconfig.bbs", slot.data())) {
        const char* env = std::getenv("KIVOCNF");
        if (env == nullptr || *env == '\0' || !ReadWholeRecord(env, slot.data())) return false;
    }
    SetConfig(DecodeConfig(slot.data()));
    return true;
}

}  // namespace kv::prune
