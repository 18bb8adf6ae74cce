// Pieces of the sample-board builder.  Each later piece of the board (menus,
// users, ...) adds a step of its own with RegisterBoardStep in a file of its
// own under sample/tools/.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/config_record.h"

namespace kv::sample {

// The sysop of a board for a real machine: the name and password the sysop
// gives, in place of the sample's published ones.
struct RealSysop {
    std::string name;
    std::string password;
};

struct BoardContext {
    std::filesystem::path src;  // sample/ sources
    std::filesystem::path out;  // the board being built (absolute)
    std::string tty;            // device for "bbsline.ctl", below /dev/
    std::filesystem::path bin;  // where the built programs are ("@BIN@")
    ConfigRecord config;        // as written to out/kvconfig.bbs
    bool messages = false;      // post the sample messages into the base
    const RealSysop* sysop = nullptr;  // a real board: this sysop alone
};

using BoardStep = bool (*)(BoardContext&);
// Steps run in rising order; the built-in ones use 10 (configuration and
// directories), 20 (texts) and 30 (control and display files).
void RegisterBoardStep(int order, const char* name, BoardStep step);

struct BoardStepRegistrar {
    BoardStepRegistrar(int order, const char* name, BoardStep step) { RegisterBoardStep(order, name, step); }
};

bool ReadConfigRecord(const std::string& path, ConfigRecord& c);
bool WriteConfigRecord(const std::string& path, const ConfigRecord& c);
// Writes a whole file under a temporary name and renames it into place.
bool WriteWholeFile(const std::filesystem::path& path, const void* data, size_t size);
// One "key = value"; where says where it came from, for the error line.
bool SetConfigKey(ConfigRecord& c, const std::string& key, const std::string& value, const std::string& where);
// Reads a "key = value" file ("#" comments); "@BOARD@" and "@BIN@" in a value
// become the board and program directories.
bool ApplyConfigSource(ConfigRecord& c, const std::filesystem::path& file, const BoardContext& b);
// The same substitution for any text source of the board.
std::string Substitute(std::string text, const BoardContext& b);

// One text of the table: number, the values it is formatted with, its words.
struct TextEntry {
    int number = 0;
    std::string values;  // "-" or the printf conversions in order, e.g. "%s %d"
    std::string usa;
    std::string que;     // empty: the usa words
    std::string where;   // file:line, for error lines
};
bool ReadTextTable(const std::vector<std::string>& files, std::vector<TextEntry>& out);
bool WriteMessageFiles(const std::vector<std::string>& tsvFiles, const std::filesystem::path& dir);

// Copies a tree of sources into the board, "@BOARD@" and "@BIN@" in every
// file replaced; a missing source copies nothing.
bool CopyTree(const std::filesystem::path& from, const std::filesystem::path& to, const BoardContext& b);

// Reads "key = value" lines of a file ("#" comments, blank lines skipped).
bool ReadKeyValueFile(const std::filesystem::path& file,
                      std::vector<std::pair<std::string, std::string>>& out);

// messages: the sample messages go into the base too (the tests' boards
// start with an empty base).  sysop: a board for a real machine, whose one
// user is that sysop (the sample's users, with the passwords everyone can
// read, are left out); the name and password are checked first, and
// nothing is built when they are refused.
bool BuildBoard(const std::string& src, const std::string& out, const std::string& tty, const std::string& bin,
                bool messages = false, const RealSysop* sysop = nullptr);

// Checks a real board's sysop against the sources' configuration, as a
// caller's own name and new password are checked (two words unless one
// word names are allowed, the shortest password, the refused words) and
// refuses the sample's own passwords, which anyone can read; the name is
// made capitalised as the board keeps names.  false with why.
bool CheckRealSysop(const BoardContext& b, RealSysop& sysop, std::string& why);

// kvsample's command line.
int SampleMain(int argc, char** argv);

}  // namespace kv::sample
