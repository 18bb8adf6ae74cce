// kvline: one call of the board on this terminal (see line_entry.h).
#include "tools/kvline/line_entry.h"

int main(int argc, char** argv) { return kv::line::LineMain(argc, argv); }
