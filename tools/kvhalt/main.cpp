// kvhalt: takes no options.
#include "tools/kvhalt/halt.h"

int main() { return kv::tools::HaltMain(); }
