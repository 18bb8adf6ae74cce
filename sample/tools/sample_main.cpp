// kvsample's commands:
//
//   kvsample board SRC OUT [--tty DEVICE] [--bin DIR] [--sysop NAME]
//                                            a whole board: the sample
//                                            system with its first messages,
//                                            or with --sysop one for a real
//                                            machine
//   kvsample set CONFIG KEY=VALUE...         change fields of a kvconfig.bbs
//   kvsample texts OUTDIR TSV...             message.usa and message.que
//
// The board itself never writes its configuration; kvsample builds it.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/board_owner.h"
#include "common/config_record.h"
#include "common/runtime.h"
#include "sample/tools/builders.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

int Usage() {
    std::cerr << "usage: kvsample board SRC OUT [--tty DEVICE] [--bin DIR] [--sysop NAME]\n"
                 "       kvsample set CONFIG KEY=VALUE...\n"
                 "       kvsample texts OUTDIR TSV...\n";
    return 2;
}

// Root builds and changes a board of another user's as that user, never
// through a name that user could have put there.
bool AsOwnerOf(const std::string& dir) {
    std::string why;
    if (BecomeBoardOwner(dir, why)) return true;
    std::cerr << "kvsample: " << why << "\n";
    return false;
}

int CmdSet(int argc, char** argv) {
    if (argc < 3) return Usage();
    if (!AsOwnerOf(fs::path(argv[2]).parent_path().empty() ? "." : fs::path(argv[2]).parent_path().string()))
        return 1;
    ConfigRecord c;
    if (!ReadConfigRecord(argv[2], c)) return 1;
    for (int i = 3; i < argc; ++i) {
        std::string kvp = argv[i];
        size_t eq = kvp.find('=');
        if (eq == std::string::npos || !SetConfigKey(c, kvp.substr(0, eq), kvp.substr(eq + 1), "argument"))
            return 1;
    }
    return WriteConfigRecord(argv[2], c) ? 0 : 1;
}

int CmdTexts(int argc, char** argv) {
    if (argc < 4) return Usage();
    std::vector<std::string> files(argv + 3, argv + argc);
    return WriteMessageFiles(files, argv[2]) ? 0 : 1;
}

// One line of standard input; at a terminal without echo.
bool ReadSecretLine(const char* prompt, std::string& line) {
    bool terminal = isatty(STDIN_FILENO) != 0;
    termios modes{};
    if (terminal) {
        std::fputs(prompt, stderr);
        tcgetattr(STDIN_FILENO, &modes);
        termios quiet = modes;
        quiet.c_lflag &= tcflag_t(~ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool got = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &modes);
        std::fputs("\n", stderr);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return got;
}

// The sysop's password: asked twice at a terminal, else the first line of
// standard input (for a script that builds boards).  Never on the command
// line, where every user of the machine could read it.
bool AskSysopPassword(const std::string& name, std::string& password) {
    std::string prompt = "Password for " + name + ": ";
    if (!ReadSecretLine(prompt.c_str(), password)) {
        std::cerr << "kvsample: no password for " << name << "\n";
        return false;
    }
    if (isatty(STDIN_FILENO)) {
        std::string again;
        if (!ReadSecretLine("The same again: ", again) || again != password) {
            std::cerr << "kvsample: the two passwords differ\n";
            return false;
        }
    }
    return true;
}

int CmdBoard(int argc, char** argv) {
    if (argc < 4) return Usage();
    std::string tty, bin;
    RealSysop sysop;
    bool real = false;
    for (int i = 4; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage();
        if (std::strcmp(argv[i], "--tty") == 0) tty = argv[i + 1];
        else if (std::strcmp(argv[i], "--bin") == 0) bin = argv[i + 1];
        else if (std::strcmp(argv[i], "--sysop") == 0) {
            sysop.name = argv[i + 1];
            real = true;
        } else return Usage();
    }
    // By default the programs are the ones beside this one.
    if (bin.empty()) bin = fs::canonical("/proc/self/exe").parent_path().string();
    if (!AsOwnerOf(argv[3])) return 1;
    if (real && !AskSysopPassword(sysop.name, sysop.password)) return 1;
    if (!BuildBoard(argv[2], argv[3], tty, bin, !real, real ? &sysop : nullptr)) return 1;
    if (real) std::cerr << "kvsample: board built in " << argv[3] << ", its one user the sysop\n";
    return 0;
}

}  // namespace

int SampleMain(int argc, char** argv) {
    if (argc < 2) return Usage();
    // A board's files are its user's and group's to read and write, the
    // sysop's in the group among them, whatever umask started this: the
    // same umask as the line entry and the board's scripts give.
    umask(007);
    std::string cmd = argv[1];
    if (cmd == "set") return CmdSet(argc, argv);
    if (cmd == "texts") return CmdTexts(argc, argv);
    if (cmd == "board") return CmdBoard(argc, argv);
    return Usage();
}

}  // namespace kv::sample
