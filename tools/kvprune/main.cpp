// kvprune: purges, packs and renumbers the message base.
#include <string>
#include <vector>

#include "tools/kvprune/prune_main.h"

int main(int argc, char** argv) {
    return kv::prune::PruneMain(std::vector<std::string>(argv + 1, argv + argc));
}
