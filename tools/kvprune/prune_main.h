// kvprune's run from its command line to its exit status.
#pragma once

#include <string>
#include <vector>

namespace kv::prune {

// args are the arguments after the program name.  Exit status: 1 after the
// usage or an option with a bad value, 2 after an unknown option, 0 after -v
// and after a run that did all it was asked; 1 when the configuration
// cannot be loaded, the base cannot be opened or a step failed.
int PruneMain(const std::vector<std::string>& args);

}  // namespace kv::prune
