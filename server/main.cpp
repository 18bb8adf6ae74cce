// kvhubd: the board's server.
#include "server/server_loop.h"

int main(int argc, char** argv) { return kv::server::ServerMain(argc, argv); }
