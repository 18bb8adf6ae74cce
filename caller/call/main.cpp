// kivo: the caller program, one process per line.
#include "caller/call/startup.h"

int main(int argc, char** argv) { return kv::caller::CallerMain(argc, argv); }
