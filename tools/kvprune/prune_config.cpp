#include "tools/kvprune/prune_config.h"

#include "common/config_file.h"
#include "common/runtime.h"

namespace kv::prune {
namespace {

// The record kvprune runs with; the decoded copy goes to SetConfig.
ConfigBytes& ConfigSlot() {
    static ConfigBytes slot{};
    return slot;
}

}  // namespace

bool LoadPruneConfig() {
    ConfigBytes& slot = ConfigSlot();
    if (!LoadConfigBytes(slot)) return false;
    SetConfig(DecodeConfig(slot.data()));
    return true;
}

}  // namespace kv::prune
