// The console at work: the sysop's keys, the lines' output and the head of
// the screen, until the sysop quits, a signal ends it or the terminal goes.
//
// The lines are reached by signals to their kivo (the PID in "online.ctl"):
// SIGPIPE starts the sysop chat, SIGUSR1 ends it, or with no chat running
// switches the line's monitor.  Only the sysop's keys of a chat ever reach
// the console's pseudo-terminal; outside a chat they are the console's
// commands.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tools/kvconsole/console_pty.h"
#include "tools/kvconsole/console_screen.h"
#include "tools/kvconsole/lines_view.h"
#include "tools/kvconsole/relay.h"

namespace kv::console {

// SIGHUP, SIGINT, SIGQUIT and SIGTERM end the console (recorded, acted on
// in the loop); SIGWINCH redraws it; SIGPIPE is ignored.
void InstallConsoleSignals();

class ConsoleSession {
public:
    ConsoleSession(ConsoleScreen& screen, const ConsolePty& pty, SysopTerminal term, std::string title);
    // The exit status: 0 after q, 1 when the terminal went away, 128 + the
    // signal that ended it.  A chat still running is ended first.
    int Run();

private:
    enum Mode { kCommands, kAskLine, kChat };

    void Keys(std::string_view typed);
    void CommandKey(uint8_t key);
    void LineKey(uint8_t key);
    void Interrupt();  // Ctrl-C
    void Refresh();
    void DrawHead();

    void Answer();
    void Act(int line);
    void StartChat(const LineView& v);
    void EndChat(const char* why);
    void Monitor(const LineView& v);
    void Who();
    // The kivo of a line, when it runs and may be signalled; otherwise the
    // console says why not.
    const LineView* Reachable(int line);
    bool Signal(const LineView& v, int sig);

    ConsoleScreen& screen_;
    const ConsolePty& pty_;
    SysopTerminal term_;
    std::string title_;
    KeyFilter keys_;
    std::vector<LineView> lines_;
    std::string linesFailure_;

    Mode mode_ = kCommands;
    char asking_ = 0;    // the command waiting for its line number
    std::string typed_;  // the number typed so far
    int chatLine_ = -1;
    pid_t chatPid_ = -1;
    int status_ = -1;    // set once the console is to end
};

}  // namespace kv::console
