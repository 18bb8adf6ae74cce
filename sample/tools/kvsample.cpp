// kvsample: builds a board directory from the readable sources in sample/.
//
//   kvsample board SRC OUT [--tty DEVICE] [--bin DIR]  the whole sample system, with its first messages
//   kvsample set CONFIG KEY=VALUE...         change fields of a kvconfig.bbs
//   kvsample texts OUTDIR TSV...             message.usa and message.que
//
// Test and sample tooling: the board itself never writes its configuration.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/config_record.h"
#include "common/runtime.h"
#include "sample/tools/builders.h"
#include "sample/tools/key_values.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

int Usage() {
    std::cerr << "usage: kvsample board SRC OUT [--tty DEVICE] [--bin DIR]\n"
                 "       kvsample set CONFIG KEY=VALUE...\n"
                 "       kvsample texts OUTDIR TSV...\n";
    return 2;
}

int CmdSet(int argc, char** argv) {
    if (argc < 3) return Usage();
    ConfigRecord c;
    if (!sample::ReadConfigRecord(argv[2], c)) return 1;
    for (int i = 3; i < argc; ++i) {
        std::string kvp = argv[i];
        size_t eq = kvp.find('=');
        if (eq == std::string::npos || !sample::SetConfigKey(c, kvp.substr(0, eq), kvp.substr(eq + 1), "argument"))
            return 1;
    }
    return sample::WriteConfigRecord(argv[2], c) ? 0 : 1;
}

int CmdTexts(int argc, char** argv) {
    if (argc < 4) return Usage();
    std::vector<std::string> files(argv + 3, argv + argc);
    return sample::WriteMessageFiles(files, argv[2]) ? 0 : 1;
}

int CmdBoard(int argc, char** argv) {
    if (argc < 4) return Usage();
    std::string tty, bin;
    for (int i = 4; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--tty") == 0) tty = argv[i + 1];
        if (std::strcmp(argv[i], "--bin") == 0) bin = argv[i + 1];
    }
    // By default the programs are the ones built beside this tool.
    if (bin.empty()) bin = (fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin").string();
    return sample::BuildBoard(argv[2], argv[3], tty, bin, true) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    kv::KeepNewFilesFromOthers();
    std::string cmd = argv[1];
    if (cmd == "set") return CmdSet(argc, argv);
    if (cmd == "texts") return CmdTexts(argc, argv);
    if (cmd == "board") return CmdBoard(argc, argv);
    return Usage();
}
