// Stand-ins until their pieces are built; see later_stubs.h.
#include "caller/core/later_stubs.h"

#include "caller/core/call_state.h"
#include "caller/core/screen.h"
#include "caller/core/terminal.h"
#include "common/dates.h"

namespace kv::caller {

int RegisterLine(int) { return 1; }
int SetLineStatus(int, int, int) { return 1; }
int ReadLineStatus(int, OnlineEntry&) { return 0; }

void ToggleMonitor() {}
void SysopChat() {}
void OnChatRequest() {}

int UpdateTimeLog(int, const TimeLogRecord&) { return 1; }

void ClearUserRecord() {}
void UpdateUserAtLogoff() {}
std::string CallerClearCodes() { return {}; }

int Login() {
    GetKey();
    return 0;
}
int MenuLoop() { return 0; }
int16_t DisplayFile(int, const std::string&, const std::string&, int) { return -1; }
void RingBell() { PutChar(7); }
bool CheckTimeLeft() { return SecondsSince(Call().LogonTime) / 60 < Call().CallMinutes; }

void RotateCallersLog() {}
void LogCaller() {}
void RescueAbortedFiles(int, int, bool) {}

}  // namespace kv::caller
