#include "server/config_loader.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#include "common/runtime.h"

namespace kv {
namespace {

ConfigBytes& LoadedSlot() {
    static ConfigBytes slot{};
    return slot;
}

// A regular file only: fopen would happily open a directory on Linux and
// fail later at the read, or succeed on a device.
FILE* OpenConfig(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return std::fopen(path, "rb");
}

}  // namespace

int ReadConfigFile(uint8_t* slot) {
    FILE* f = OpenConfig("kvconfig.bbs");
    if (f == nullptr) {
        const char* env = std::getenv("KIVOCNF");
        if (env == nullptr || *env == '\0') return 0;
        f = OpenConfig(env);
        if (f == nullptr) return 0;
    }
    size_t got = std::fread(slot, kConfigFileSize, 1, f);
    std::fclose(f);
    return got == 1 ? 1 : 0;
}

int LoadConfig() {
    auto scratch = std::make_unique<ConfigBytes>();
    scratch->fill(0);
    if (!ReadConfigFile(scratch->data())) return 0;
    LoadedSlot() = *scratch;
    SetConfig(DecodeConfig(scratch->data()));
    return 1;
}

const ConfigBytes& LoadedConfigBytes() { return LoadedSlot(); }

}  // namespace kv
