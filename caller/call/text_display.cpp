#include "caller/call/text_display.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "caller/areas/file_areas.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/listing_pager.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {
namespace {

constexpr size_t kTypedWidth = 79;

bool ClearScreenWanted() { return (Call().User.Options & USER_CLEAR_SCREEN) != 0; }

void Missing() { PutColorText(GetText(99), true, false, 2, kColorWarning); }

void WaitForEnterPrompt() {
    PutColorText(GetText(578), false, false, 0, kColorPrompt);
    WaitForEnter();
}

// The file of the argument: the area's directory and the name written
// after "/F" or "$F" and the number, or the argument's own path.  The name
// ends at the first blank or "-".  false when an area was refused or the
// current area has no directory: the caller has been told, or there is
// nothing to type.
bool ArgumentPath(const std::string& argument, std::string& path) {
    size_t nameStart = 0;
    std::string dir;
    if (IsCurrentAreaArgument(argument) || IsAreaNumberArgument(argument)) {
        int area = -1;
        dir = FileAreaArgument(argument, area);
        if (area < 0 || dir.empty()) return false;
        nameStart = 2;
        if (IsAreaNumberArgument(argument))
            while (nameStart < argument.size() && argument[nameStart] >= '0' && argument[nameStart] <= '9')
                ++nameStart;
    }
    size_t nameEnd = argument.find_first_of(" -", nameStart);
    if (nameEnd == std::string::npos) nameEnd = argument.size();
    std::string name = argument.substr(nameStart, nameEnd - nameStart);
    if (!dir.empty() && !name.empty() && dir.back() != '/' && name[0] != '/') dir += '/';
    path = dir + name;
    return true;
}

// Whether path is one of the sysop's display files, whose escape codes
// are meant to reach the screen.
bool InTextDir(const std::string& path) {
    std::error_code ec;
    if (Config().TextDir.empty()) return false;
    std::filesystem::path dir = std::filesystem::canonical(Config().TextDir, ec);
    if (ec) return false;
    std::filesystem::path file = std::filesystem::canonical(path, ec);
    if (ec) return false;
    return std::mismatch(dir.begin(), dir.end(), file.begin(), file.end()).first == dir.end();
}

}  // namespace

void TypeTextFile(const std::string& argument) {
    bool nonstop = false;
    for (size_t at = 0; at + 1 < argument.size(); ++at)
        if (argument[at] == '/' && ToUpperChar(argument[at + 1]) == 'N') nonstop = true;

    std::string path;
    if (!ArgumentPath(argument, path) || path.empty()) return;
    if (!FileExists(path, kPlainPath)) {
        // A directory: the caller names one file in it.
        PutLine();
        if (path.back() != '/') path += '/';
        std::string name;
        AskInput(true, false, GetText(371), name, 55);
        PutLine();
        if (name.empty() || name[0] == kKeyEsc) return;
        if (!FileNameIsSafe(name)) return Missing();
        path += name;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in || !FileExists(path, kPlainPath)) return Missing();

    // A file of an area may be anybody's upload: its control bytes would
    // drive the reader's terminal (retitle it, clear it, make it answer).
    const bool keepCodes = InTextDir(path);
    {
        ListingPager pager(0, nonstop);
        if (ClearScreenWanted()) EraseScreen();
        SetColorPair(kColorNormal);
        std::string line;
        while (!pager.Stopped() && std::getline(in, line)) {
            // A long line goes on as the next one.
            std::string_view rest = line;
            do {
                std::string piece(rest.substr(0, kTypedWidth));
                rest.remove_prefix(piece.size());
                if (!keepCodes) BlankControlBytes(piece, "\t\r\f");
                TrimRight(piece);
                if (pager.Put(piece)) pager.LineEnd();
            } while (!rest.empty() && !pager.Stopped());
        }
    }
    WaitForEnterPrompt();
}

void ShowFileAndWait(const std::string& name, bool wait, bool inTextDir) {
    if (ClearScreenWanted()) EraseScreen();
    if (DisplayFile(inTextDir ? 1 : 0, name) == -1) return Missing();
    if (wait) WaitForEnterPrompt();
}

}  // namespace kv::caller
