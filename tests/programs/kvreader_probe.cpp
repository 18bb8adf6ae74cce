// kvreader_probe: the read command and the mail check on a line, for a
// caller of users.bbs, without the log-in and menus that lead there.
//
//   kvreader_probe [setting]... STEP...
//   settings  user=N (record N of users.bbs is the caller; default 1)
//             ansi color screen=N options=N
//             delay=N (the line's pacing after each byte sent)
//   steps     read=ARGUMENT[,STYLE]   the read command (menu codes 23-25)
//             mail                    the mail check (menu code 22)
//             cmd=CODE[:ARGUMENT]     any menu command, as a menu line runs it
// Runs in a board's root: the configuration from kvconfig.bbs there, the
// texts from sample/texts.  The caller's last-read record is read first and
// written back after the last step, as log-in and log-off do; then "done"
// and exit status 0.  The activity log is merged into DataDir/reader.log.
#include <cstdlib>
#include <string>

#include "caller/areas/mail_check.h"
#include "caller/areas/read_command.h"
#include "caller/call/menu_commands.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/lastread.h"
#include "common/runtime.h"
#include "common/users.h"
#include "server/config_loader.h"
#include "tests/programs/probe_call.h"
#include "tests/support/text_segment.h"

using namespace kv;
using namespace kv::caller;

int main(int argc, char** argv) {
    if (!test::StartProbeCallOnBoard("reader.log")) return 120;
    CallState& c = Call();
    int user = test::LoadProbeCaller(argc, argv);
    if (user < 0) return 121;
    c.HighestRead = c.User.HighestRead;
    ReadLastRead(user, CallerLastRead());
    if (!SetRawMode()) return 122;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        size_t eq = a.find('=');
        std::string step = a.substr(0, eq);
        std::string val = eq == std::string::npos ? "" : a.substr(eq + 1);
        if (step == "ansi") {
            c.AnsiOn = true;
        } else if (step == "color") {
            c.ColorOn = true;
        } else if (step == "screen") {
            c.User.ScreenLength = uint32_t(std::atoi(val.c_str()));
        } else if (step == "delay") {
            c.OutputDelay = int16_t(std::atoi(val.c_str()));
        } else if (step == "options") {
            c.User.Options = uint8_t(std::atoi(val.c_str()));
        } else if (step == "read") {
            size_t comma = val.find(',');
            int style = comma == std::string::npos ? 0 : std::atoi(val.c_str() + comma + 1);
            ReadMessagesCommand(val.substr(0, comma), style);
        } else if (step == "cmd") {
            size_t colon = val.find(':');
            MenuRecord line;
            if (colon != std::string::npos) line.Argument = val.substr(colon + 1);
            DoMenuCommand(std::atoi(val.c_str()), line);
        } else if (step == "mail") {
            PutLine("mail=" + std::to_string(CheckMail()));
        }
    }
    WriteLastRead(user, CallerLastRead());
    PutLine("done");
    RestoreTtyMode();
    MergeLog();
    return 0;
}
