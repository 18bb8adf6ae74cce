// kvmenu_probe: menu commands on a line, for a caller of users.bbs, without
// the log-in and menus that lead there.
//
//   kvmenu_probe [setting]... STEP...
//   settings  user=N (record N of users.bbs is the caller; default 1)
//             ansi color screen=N options=N level=N filearea=N (0-based)
//             lastcall=DATE
//   steps     run=CODE[,ARGUMENT]   the command of a menu line with that
//                                   code and argument
//             describe=NAME         the upload's question for a file's
//                                   description, written back as
//                                   "description=N[TEXT]"
// Runs in a board's root: the configuration from kvconfig.bbs there, the
// texts from sample/texts.  After the last step "done" and exit status 0;
// the activity log is merged into DataDir/menu.log.
#include <cstdlib>
#include <string>

#include "caller/areas/file_entries.h"
#include "caller/call/menu_commands.h"
#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"
#include "common/users.h"
#include "tests/programs/probe_call.h"

using namespace kv;
using namespace kv::caller;

int main(int argc, char** argv) {
    if (!test::StartProbeCallOnBoard("menu.log")) return 120;
    CallState& c = Call();
    if (test::LoadProbeCaller(argc, argv) < 0) return 121;
    if (!SetRawMode()) return 122;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        size_t eq = a.find('=');
        std::string step = a.substr(0, eq);
        std::string val = eq == std::string::npos ? "" : a.substr(eq + 1);
        int number = std::atoi(val.c_str());
        if (step == "ansi") {
            c.AnsiOn = true;
        } else if (step == "color") {
            c.ColorOn = true;
        } else if (step == "screen") {
            c.User.ScreenLength = uint32_t(number);
        } else if (step == "options") {
            c.User.Options = uint8_t(number);
        } else if (step == "level") {
            c.User.SecurityLevel = number;
        } else if (step == "filearea") {
            c.User.FileArea = int16_t(number);
        } else if (step == "lastcall") {
            c.User.LastCallDate = val;
        } else if (step == "run") {
            size_t comma = val.find(',');
            MenuRecord line;
            line.Argument = comma == std::string::npos ? "" : val.substr(comma + 1);
            DoMenuCommand(number, line);
        } else if (step == "describe") {
            std::string description;
            int r = AskFileDescription(val, description);
            PutLine("description=" + std::to_string(r) + "[" + description + "]");
        }
    }
    PutLine("done");
    RestoreTtyMode();
    MergeLog();
    return 0;
}
