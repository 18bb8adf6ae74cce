// The drop file "exitinfo" as a door program leaves it: read back into
// the call (for the caller it names, so that the values are taken), then
// written out again from what was taken.
#include "caller/core/call_state.h"
#include "caller/core/exit_info.h"
#include "caller/core/external_programs.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    CallState& c = Call();
    if (size >= ExitInfoRecord::kSize) {
        ExitInfoRecord r = DecodeExitInfo(data);
        c.CurrentUserNumber = r.UserNumber;
        c.User.Name = r.User.Name;
    }
    c.TimeLogLoaded.Date = "01/01/26";
    kv::fuzz::WriteScratchFile(ExitInfoPath().substr(kv::fuzz::ScratchDir().size() + 1), data, size);
    if (ReadExitInfo()) WriteExitInfo();
    return 0;
}
