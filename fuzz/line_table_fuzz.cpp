// The line list "bbsline.ctl": read whole, devices looked up in it (among
// them the first devices the file names and the same in other case), and
// the entry program's rewrite of one entry.  The list holds at most 256
// lines; a device is found exactly when a line names it whole (case
// ignored), as the first such line, whose number fits the table of lines
// on line, with that line's speed (-1 for none) and output delay.  The
// rewrite names the new device in its entry and leaves every other entry
// as it read.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "caller/call/startup.h"
#include "caller/term/call_state.h"
#include "common/line_table.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    kv::fuzz::WriteScratchFile("bbsline.ctl", data, size);
    std::vector<LineTableEntry> lines;
    Check(ReadLineTable(lines), "the line list could not be read");
    Check(lines.size() <= 256, "more lines than the board has room for");
    std::vector<std::string> devices = {"pts/3", "tty1", "console"};
    for (size_t i = 0; i < lines.size() && i < 4; ++i) {
        devices.push_back(lines[i].Device);
        std::string other = lines[i].Device;
        for (char& ch : other) ch = char(std::islower(uint8_t(ch)) ? std::toupper(uint8_t(ch)) : std::tolower(uint8_t(ch)));
        devices.push_back(other);
    }
    for (const std::string& device : devices) {
        CallState& c = Call();
        c.DeviceName = device;
        c.OutputDelay = -7;
        const long speed = LookupLine();
        size_t at = 0;
        while (at < lines.size() && !kv::fuzz::SameIgnoringCase(lines[at].Device, device)) ++at;
        if (at == lines.size()) {
            Check(speed == 0, "a device no line names was found");
            continue;
        }
        Check(c.LineNumber == int(at) && c.LineNumber < 256, "the device got another line's number");
        Check(speed == (lines[at].Speed == 0 ? -1 : lines[at].Speed), "the device got another line's speed");
        Check(c.OutputDelay == int16_t(lines[at].Delay), "the device got another line's delay");
    }

    std::string_view text = kv::fuzz::Bytes(data, size);
    // The entry program writes an entry that is there or the one after the last.
    int line = size > 0 ? int(data[0] % (lines.size() + 1)) : 0;
    std::vector<LineTableEntry> after = kv::ParseLineTable(kv::SetLineDevice(text, line, "pts/9"));
    if (lines.size() < size_t(kv::kLineTableMax))
        Check(after.size() == std::max(lines.size(), size_t(line) + 1), "the rewrite added or lost entries");
    if (size_t(line) < after.size() && size_t(line) < size_t(kv::kLineTableMax))
        Check(after[size_t(line)].Device == "pts/9", "the rewrite did not name the new device");
    for (size_t i = 0; i < lines.size() && i < after.size(); ++i)
        if (int(i) != line)
            Check(after[i].Device == lines[i].Device && after[i].Speed == lines[i].Speed,
                  "the rewrite changed another entry");
    return 0;
}
