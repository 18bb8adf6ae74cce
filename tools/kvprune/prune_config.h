// kvprune's own loader of "kvconfig.bbs".
#pragma once

namespace kv::prune {

// Reads "kvconfig.bbs" from the working directory, else the file that
// KIVOCNF names, into the program's record and installs it (Config()).
// Returns false when neither gives a whole record.
bool LoadPruneConfig();

}  // namespace kv::prune
