// Stand-ins until their pieces are built; see later_stubs.h.
#include "caller/core/later_stubs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "caller/core/call_state.h"
#include "caller/core/display_file.h"
#include "caller/core/screen.h"
#include "caller/core/terminal.h"
#include "common/dates.h"

namespace kv::caller {

void OnChatRequest() {}

int UpdateTimeLog(int, const TimeLogRecord&) { return 1; }
int ReadTimeLog(int, TimeLogRecord& record) {
    record.Date = DateString();
    return 1;
}

int RunExternal(int, int transfer, int, const std::string& command) {
    if (command.empty()) return 0;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) return transfer ? -1 : 0;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (transfer) return int16_t(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 1;
}

int RunQuestionnaire(const std::string&) { return 1; }
void PostWatchdogMessage(const std::string&) {}
void ShowFileAndWait(const std::string& name, bool, bool inTextDir) { DisplayFile(inTextDir ? 1 : 0, name); }

void RotateCallersLog() {}
void LogCaller() {}
void RescueAbortedFiles(int, int, bool) {}

}  // namespace kv::caller
