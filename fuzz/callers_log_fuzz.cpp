// The daily callers log read back: a line split into its seven fields and
// joined again unchanged, a call's line written from fields taken out of
// the input and split back into them, and the whole input as today's file
// listed as the callers command lists it: nothing but text in columns
// reaches the caller's screen, whatever a torn or hand-edited file holds.
#include <algorithm>
#include <string>
#include <vector>

#include "caller/call/callers_log.h"
#include "caller/term/call_state.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    std::string_view text = kv::fuzz::Bytes(data, size);
    std::string_view first = text.substr(0, text.find('\n'));

    std::vector<std::string> fields = SplitCallerLogLine(std::string(first));
    Check(fields.size() == 7, "a line did not give seven fields");
    std::string joined = fields[0];
    for (size_t i = 1; i < fields.size(); ++i) joined += "|" + fields[i];
    if (std::count(first.begin(), first.end(), '|') >= 6)
        Check(joined == first, "splitting a line lost or changed bytes");
    else
        Check(joined.substr(0, first.size()) == first && joined.find_first_not_of('|', first.size()) == std::string::npos,
              "splitting a short line lost or changed bytes");

    // A call's own line: the name and location the input's fields give.
    std::string name = fields[0] + "|" + fields[1], location = fields[6];
    std::vector<std::string> back =
        SplitCallerLogLine(FormatCallerLogLine(name, 3, 38400, "10:00:00", "10:05:00", 1234567, location));
    std::string noBar = name;
    std::replace(noBar.begin(), noBar.end(), '|', '!');
    std::string noBarLocation = location;
    std::replace(noBarLocation.begin(), noBarLocation.end(), '|', '!');
    const std::vector<std::string> want = {noBar, "3", "38400", "10:00:00", "10:05:00", "1234567", noBarLocation};
    Check(back == want, "a call's line does not split into what was written");

    CallState& c = Call();
    c.AnsiOn = c.ColorOn = false;
    c.User.Options = 0;  // no pauses, no clearing
    c.LineNumber = 1;
    kv::fuzz::WriteScratchFile(CallersLogName(0).substr(kv::fuzz::ScratchDir().size() + 1), text);
    kv::fuzz::CapturedOutput out;
    ListCallers(size % 2 ? "%" : "");
    kv::fuzz::CheckPlainScreen(out.Take(), 80);
    return 0;
}
