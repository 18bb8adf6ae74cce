// The loader of "kvconfig.bbs" that kvhubd and the tools share.
#pragma once

#include "common/config_record.h"

namespace kv {

// Fills the first 50000 bytes of a slot from "kvconfig.bbs" in the working
// directory, else from the file that KIVOCNF names.  Returns 1 or 0; on 0 the
// slot may hold part of a file.
int ReadConfigFile(uint8_t* slot);

// Reads the file into a fresh slot and installs the decoded record as the
// program's configuration (see Config()).  Returns 1 or 0.
int LoadConfig();

// The raw slot that LoadConfig filled (the server copies it into the segment).
const ConfigBytes& LoadedConfigBytes();

}  // namespace kv
