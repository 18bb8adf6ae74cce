#include "caller/call/call_handlers.h"

#include "caller/call/line_chat.h"
#include "caller/call/logoff.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"

namespace kv::caller {

void InstallCallHandlers() {
    CallWork work;
    work.Hangup = OnHangup;
    work.Interrupt = OnInterrupt;
    work.ChatRequest = OnChatRequest;
    work.LogOff = LogOff;
    InstallCallWork(work);
    RecordCallSignals();
}

}  // namespace kv::caller
