// kveditor_probe: one message written on a line, from the editor to the
// message base, without the menus that will lead there.
//
//   kveditor_probe [setting=value | flag]...
//   user=NAME        the caller, a name of users.bbs (default: record 1)
//   area=N           0-based message area (default 0)
//   to=NAME subject=TEXT private
//   reply=R forward=R   the message of record R is quoted or forwarded
//   kill=N send=N attach=N   the mail answers handed to the save
//   ansi color high  AnsiOn, ColorOn, AcceptHighChars
// Runs in a board's root: the configuration comes from kvconfig.bbs there,
// the texts from sample/texts.  It writes "saved=N offset=M" or "nothing
// saved" and exits 0; the activity log is merged into DataDir/editor.log.
#include <cstdlib>
#include <map>
#include <string>

#include "caller/areas/line_editor.h"
#include "caller/areas/save_message.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/users.h"
#include "server/config_loader.h"
#include "tests/programs/probe_call.h"
#include "tests/support/text_segment.h"

using namespace kv;
using namespace kv::caller;

int main(int argc, char** argv) {
    std::map<std::string, std::string> arg;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        size_t eq = a.find('=');
        arg[a.substr(0, eq)] = eq == std::string::npos ? "1" : a.substr(eq + 1);
    }
    auto number = [&](const char* key) { return arg.count(key) ? std::atoi(arg[key].c_str()) : 0; };

    if (!test::StartProbeCallOnBoard("editor.log")) return 120;
    CallState& c = Call();
    c.AnsiOn = arg.count("ansi") != 0;
    c.ColorOn = arg.count("color") != 0;
    c.AcceptHighChars = arg.count("high") != 0;

    int user = arg.count("user") ? FindUser(arg["user"], c.User) : (ReadUserRecord(1, c.User) ? 1 : -1);
    if (user < 0) return 121;
    c.CurrentUserNumber = user;
    c.CallerName = c.User.Name;
    if (!SetRawMode()) return 122;

    OutgoingMessage m;
    m.Area = number("area");
    m.Recipient = arg.count("to") ? arg["to"] : "All";
    m.Subject = arg.count("subject") ? arg["subject"] : "Test";
    m.Private = arg.count("private") != 0;
    m.KillAfterSend = number("kill");
    m.SendNow = number("send");
    m.Attach = number("attach");
    MsgHeader source;
    m.Forward = arg.count("forward") != 0;
    if (arg.count("reply") || m.Forward) {
        if (!ReadMessageHeader(source, number(m.Forward ? "forward" : "reply"))) return 123;
        m.Source = &source;
    }

    std::optional<MessageBuffer> text = MessageEditor(m.Area, m.Source, m.Forward);
    int32_t offset = -1;
    int32_t saved = text ? SaveMessage(*text, m, offset) : 0;
    PutLine(saved > 0 ? "saved=" + std::to_string(saved) + " offset=" + std::to_string(offset) : "nothing saved");
    MergeLog();
    RestoreTtyMode();
    ExitProgram(0);
}
