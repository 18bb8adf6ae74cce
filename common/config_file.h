// Reading "kvconfig.bbs" for the tools that load it themselves (kvprune,
// kvroster): the working directory first, then the file KIVOCNF names.
#pragma once

#include "common/config_record.h"

namespace kv {

// Fills slot from the first of the two files that is a regular file
// holding a whole record (the rest of the slot zeroed).  False when
// neither does; a directory named by KIVOCNF is a failed load.
bool LoadConfigBytes(ConfigBytes& slot);

}  // namespace kv
