// kvpost request-file | kvpost -v
#include <cstdio>
#include <string>
#include <vector>

#include "server/server_log.h"
#include "tools/kvpost/sender.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "-v") {
        std::fprintf(stderr, "%s - %s\n", kv::post::kVersion, kv::kNoticeText);
        return kv::post::kVersionShown;
    }
    return kv::post::SenderMain(args);
}
