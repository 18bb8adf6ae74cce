#include "caller/call/logoff.h"

#include <unistd.h>

#include <cstdio>

#include "caller/areas/uploads.h"
#include "caller/call/callers_log.h"
#include "caller/call/line_chat.h"
#include "caller/call/registration.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/line_status.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

constexpr const char* kLogSeparator = "------------------------------------------\n";

void BeginEnd() {
    Call().Ending = true;
    IgnoreEndSignals();
}

}  // namespace

void LogOff(int reason) {
    CallState& c = Call();
    BeginEnd();
    ResetAttributes();
    // Only the entry this process made is freed: a call refused before it
    // registered must not wipe the entry of the caller who holds the line.
    if (c.LineRegistered) {
        SetLineStatus(c.LineNumber, 4, 0);
        c.LineRegistered = false;
    }
    if (c.LoggedIn != 0) {
        if (SysopChatFlag() == kLineChatMarker) TellChatPartner(reason);
        if (c.PendingTransfer != kNoTransfer) {
            if (c.PendingTransfer <= 999) {
                RescueAbortedFiles(2, c.PendingTransfer, reason == kLogOffHangup);
            } else {
                RescueAbortedFiles(1, c.PendingTransfer - 1000, reason == kLogOffHangup);
            }
            if (chdir(Config().DataDir.c_str()) != 0) WriteLog("Cannot go back to %s", Config().DataDir);
        }
        if (reason != kLogOffHangup && c.LoggedIn == 1) UpdateUserAtLogoff();
        if (!c.TimeLogLoaded.Date.empty() && !UpdateTimeLog(c.LineNumber, c.TimeLogLoaded)) LogText(11);
        LogCaller();
    }
    WriteLog(kLogSeparator);
    MergeLog();
    ExitHook(0);
}

void OnHangup() {
    BeginEnd();
    if (Call().LoggedIn != 0) UpdateUserAtLogoff();
    LogText(10);
    LogOff(kLogOffHangup);
    if (Call().RawMode) RestoreTtyMode();
    ExitProgram(99);
}

void OnInterrupt() {
    BeginEnd();
    if (Call().ColorOn) ResetAttributes();
    LogText(8);
    LogOff(kLogOffInterrupt);
    if (Call().RawMode) RestoreTtyMode();
    std::printf("%s\n", GetText(9).c_str());
    ExitProgram(98);
}

}  // namespace kv::caller
