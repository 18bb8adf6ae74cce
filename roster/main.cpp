// kvroster: the sysop's full-screen editor of the user database.
#include "roster/roster_main.h"

int main(int argc, char** argv) { return kv::roster::RosterMain(argc, argv); }
