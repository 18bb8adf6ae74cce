// kvrefresh: takes no options.
#include "tools/kvrefresh/refresh.h"

int main() { return kv::tools::RefreshMain(); }
