// kvline_probe: a caller line for the tests of the line status file, the
// sysop page, the sysop chat and the monitor, without the log-in and menus
// that lead there in kivo.  It starts the way kivo does (the server's
// segment and texts, raw modes, its line of "bbsline.ctl" registered in
// "online.ctl"), writes "line N ready", then runs one step per argument and
// ends the call through LogOff (exit status 1).
//
//   name=TEXT   the caller's name           user=N    logged on as user N
//   page        menu command 11             status    menu command 14
//   entry       writes this line's entry as "flags=0xNN user=N"
//   finduser=N  writes "found=L" (FindUserLine from this line)
//   key         waits for one key (GetKey), which it does not echo
//   keys        echoes every key (GetKey) until "q"
//   epipe       writes into a pipe whose reader is gone, as kivo would into
//               a printer or a program that ended; writes "epipe" when the
//               write failed with EPIPE
// Signals are acted on at every key wait and pause, as in kivo.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "caller/call/call_handlers.h"
#include "caller/call/logoff.h"
#include "caller/call/startup.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/line_status.h"
#include "caller/term/screen.h"
#include "caller/term/term_charset.h"
#include "caller/term/terminal.h"
#include "common/attach.h"
#include "common/runtime.h"

using namespace kv;
using namespace kv::caller;

namespace {

void WriteEntry(int line) {
    OnlineEntry e;
    if (!ReadLineStatus(line, e)) {
        PutLine("no entry");
        return;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "flags=0x%02X user=%d", unsigned(e.Flags), int(e.User));
    PutLine(buf);
}

void WriteIntoDeadPipe() {
    int p[2];
    if (pipe(p) != 0) return;
    close(p[0]);
    ssize_t n = write(p[1], "x", 1);
    bool broken = n < 0 && errno == EPIPE;
    close(p[1]);
    PutLine(broken ? "epipe" : "pipe written");
}

}  // namespace

int main(int argc, char** argv) {
    CallState& c = Call();
    InstallCallHandlers();
    DecideTerminalCharset();
    c.ProgramName = argv[0];
    GetDeviceName();
    c.Segment = AttachSharedMemory();
    if (c.Segment == nullptr || !SelectMessageFile(0)) return 255;
    InstallCallerServices();
    c.LogonTime = Now();
    if (!SetRawMode()) return 255;
    if (!LocateConfig()) return 250;
    if (LookupLine() == 0) {
        PutLine("no line");
        RestoreTtyMode();
        return 3;
    }
    if (!RegisterLine(c.LineNumber)) {
        PutLine("not registered");
        RestoreTtyMode();
        return 4;
    }
    c.LineRegistered = true;
    PutLine("line " + std::to_string(c.LineNumber) + " ready");

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        std::string step = arg.substr(0, eq);
        std::string val = eq == std::string::npos ? "" : arg.substr(eq + 1);
        if (step == "name") {
            c.CallerName = val;
        } else if (step == "user") {
            c.CurrentUserNumber = std::stoi(val);
            SetLineStatus(c.LineNumber, kLineUser);
        } else if (step == "page") {
            PageSysop();
            PutLine("page done");
        } else if (step == "status") {
            ShowCallStatus();
        } else if (step == "entry") {
            WriteEntry(c.LineNumber);
        } else if (step == "finduser") {
            PutLine("found=" + std::to_string(FindUserLine(c.LineNumber, std::stoi(val))));
        } else if (step == "key") {
            GetKey();
        } else if (step == "keys") {
            for (int k; (k = GetKey()) != 'q';) PutChar(uint8_t(k));
            PutLine();
        } else if (step == "epipe") {
            WriteIntoDeadPipe();
        } else {
            PutLine("unknown step " + arg);
        }
    }
    LogOff(kLogOffNormal);
    RestoreTtyMode();
    ExitProgram(1);
}
