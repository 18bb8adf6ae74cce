// The drop file "exitinfo" as a door program leaves it: read back into the
// call (for the caller it names, so that the values are taken), then
// written out again from what was taken and read back once more.  The
// record decodes and encodes again as it lay; the file is taken exactly
// when it is whole, and gone once read; what the call takes indexes its
// tables within their bounds; and what the call writes it reads back
// unchanged.
#include <unistd.h>

#include <vector>

#include "caller/term/call_state.h"
#include "caller/term/exit_info.h"
#include "caller/term/external_programs.h"
#include "common/runtime.h"
#include "common/user_record.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    CallState& c = Call();
    const bool whole = size >= ExitInfoRecord::kSize;
    if (whole) {
        ExitInfoRecord r = DecodeExitInfo(data);
        ExitInfoBytes again = EncodeExitInfo(r);
        std::vector<uint8_t> want = kv::fuzz::CanonicalRecord<ExitInfoRecord>(data);
        kv::UserBytes user = kv::EncodeUserRecord(r.User);
        std::copy(user.begin(), user.end(), want.begin() + 308);
        Check(std::vector<uint8_t>(again.begin(), again.end()) == want, "the drop file does not encode back as it lay");
        c.CurrentUserNumber = r.UserNumber;
        c.User.Name = r.User.Name;
    }
    c.TimeLogLoaded.Date = "01/01/26";
    const std::string path = ExitInfoPath();
    kv::fuzz::WriteScratchFile(path.substr(kv::fuzz::ScratchDir().size() + 1), data, size);
    const bool taken = ReadExitInfo() != 0;
    Check(taken == whole, "a whole drop file of this caller was refused, or a torn one taken");
    Check(access(path.c_str(), F_OK) != 0, "the drop file stayed after it was read");
    if (!taken) return 0;
    const kv::ConfigRecord& config = kv::Config();
    Check(c.User.MsgArea >= 0 && size_t(c.User.MsgArea) < config.MsgAreas.size(), "a message area beyond the table");
    Check(c.User.FileArea >= 0 && size_t(c.User.FileArea) < config.FileAreas.size(), "a file area beyond the table");
    Check(c.User.ClearScreenLength <= c.User.ClearScreenCodes.size(), "a clear-screen code longer than its field");
    Check(c.HighestRead >= 0 && c.PagesMade >= 0, "a count below zero taken");

    // As the board holds a record: texts within their fields (a foreign
    // file's name may fill its field without an end).
    c.User = kv::DecodeUserRecord(kv::EncodeUserRecord(c.User).data());
    const kv::UserBytes before = kv::EncodeUserRecord(c.User);
    const int32_t highest = c.HighestRead;
    Check(WriteExitInfo() == 1, "the drop file could not be written");
    Check(ReadExitInfo() == 1, "the call's own drop file was refused");
    Check(kv::EncodeUserRecord(c.User) == before && c.HighestRead == highest,
          "the call's own drop file read back otherwise");
    return 0;
}
