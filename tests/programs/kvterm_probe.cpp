// kvterm_probe: runs kivo's terminal and screen code alone on a line, one
// step per argument, so that process tests can watch a single behaviour
// without the server or the start-up checks.
//
//   kvterm_probe [flags and settings] STEP...
//   flags     local ansi color
//   settings  timeout=S grace=S minutes=M delay=N
//   steps     raw restore nonblock=0|1 getkey nokey byte try sleep=MS
//             pause=S (the timed pause of a message)
//             put=TEXT say=TEXT (\xNN for a byte, \e escape) fg=N bg=N
//             setcolor=F,B reset bold reverse eol erase move=C,R
//             box=L,T,R,B,FG,BG,STYLE flood=N
// The texts are the sample board's (sample/texts), bound as table 0; the
// log goes to the working directory, line log "kivo.log".  After the last
// step the probe exits with status 0.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "tests/programs/probe_call.h"
#include "tests/support/text_segment.h"

using namespace kv;
using namespace kv::caller;

namespace {

std::string Bytes(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'e') {
            out += '\033';
            ++i;
        } else if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            out += char(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<int> Numbers(const std::string& s) {
    std::vector<int> v;
    size_t start = 0;
    for (;;) {
        v.push_back(std::atoi(s.c_str() + start));
        size_t comma = s.find(',', start);
        if (comma == std::string::npos) return v;
        start = comma + 1;
    }
}

void Report(const char* what, int value) { PutLine(std::string(what) + "=" + std::to_string(value)); }

}  // namespace

int main(int argc, char** argv) {
    CallState& c = test::StartProbeCall();
    char cwd[1024] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr) return 121;
    MutableConfig().DataDir = cwd;
    MutableConfig().LineLogName = "kivo.log";
    c.LogonTime = Now();

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        std::string step = arg.substr(0, eq);
        std::string val = eq == std::string::npos ? "" : arg.substr(eq + 1);
        std::vector<int> n = Numbers(val);
        if (step == "local") c.LocalMode = true;
        else if (step == "ansi") c.AnsiOn = true;
        else if (step == "color") c.ColorOn = true;
        else if (step == "timeout") MutableConfig().InactivityTimeout = uint16_t(n[0]);
        else if (step == "grace") SetInactivityGrace(unsigned(n[0]));
        else if (step == "minutes") c.CallMinutes = int16_t(n[0]);
        else if (step == "delay") c.OutputDelay = int16_t(n[0]);
        else if (step == "raw") PutLine(SetRawMode() ? "raw ok" : "raw failed");
        else if (step == "restore") PutLine(RestoreTtyMode() ? "restored" : "restore failed");
        else if (step == "nonblock") SetNonBlocking(n[0] != 0);
        else if (step == "getkey") Report("key", GetKey());
        else if (step == "nokey") Report("key", GetKeyNoTimeout());
        else if (step == "byte") Report("byte", ReadInputByte());
        else if (step == "try") Report("try", TryReadKey());
        else if (step == "sleep") usleep(useconds_t(n[0]) * 1000);
        else if (step == "pause") TimedPause(unsigned(n[0]));
        else if (step == "put") PutString(Bytes(val));
        else if (step == "say") PutLine(Bytes(val));
        else if (step == "fg") SetForeground(int16_t(n[0]));
        else if (step == "bg") SetBackground(int16_t(n[0]));
        else if (step == "setcolor" && n.size() == 2) SetColor(int16_t(n[0]), int16_t(n[1]));
        else if (step == "reset") ResetAttributes();
        else if (step == "bold") SetBold();
        else if (step == "reverse") SetReverse();
        else if (step == "eol") ClearToEol();
        else if (step == "erase") EraseScreen();
        else if (step == "move") MoveCursor(n[0], n[1]);
        else if (step == "box" && n.size() == 7) DrawBox(n[0], n[1], n[2], n[3], int16_t(n[4]), int16_t(n[5]), n[6]);
        else if (step == "flood") {
            for (int k = 0; k < n[0]; ++k) PutLine("flood line " + std::to_string(k));
            PutLine("flood end");
        } else {
            PutLine("unknown step " + arg);
            return 2;
        }
    }
    ExitProgram(0);
}
