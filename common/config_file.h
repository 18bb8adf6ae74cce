// Reading "kvconfig.bbs" for the tools that load it themselves (kvprune,
// kvroster, the sysop's console): the working directory first, then the
// file KIVOCNF names.
#pragma once

#include <string>

#include "common/config_record.h"

namespace kv {

// Fills slot from the first of the two files that is a regular file
// holding a whole record (the rest of the slot zeroed).  False when
// neither does; a directory named by KIVOCNF is a failed load.
bool LoadConfigBytes(ConfigBytes& slot);

// The same search, for a program that rewrites the file: the path of the
// file found and all its bytes (a file may be longer than the record).
bool ReadConfigFileWhole(std::string& path, std::string& bytes);

}  // namespace kv
