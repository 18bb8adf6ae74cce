#include "caller/term/call_end.h"

#include <cstdio>
#include <cstdlib>

#include "caller/term/screen.h"

namespace kv::caller {
namespace {

CallWork gWork;

}  // namespace

void InstallCallWork(const CallWork& work) { gWork = work; }

const CallWork& InstalledCallWork() { return gWork; }

void TerminateCall(int reason, int status) {
    if (gWork.LogOff != nullptr) gWork.LogOff(reason);
    ExitProgram(status);
}

void ExitHook(int) {}

void ExitProgram(int status) {
    ExitHook(0);
    ResetAttributes();
    FlushOutput();
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace kv::caller
