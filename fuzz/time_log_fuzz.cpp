// A line's time log "timelog.bbs", read, drawn as the usage graph and
// counted on by a call of five hours.  The record decodes and encodes
// again as it lay, and is read exactly when it is whole; the graph is
// plain text within the screen; the call's minutes land on the hour and
// weekday it started in and nowhere else, and no counter goes back.
#include <ctime>
#include <fstream>
#include <vector>

#include "caller/call/usage_graph.h"
#include "caller/term/call_state.h"
#include "caller/term/time_log.h"
#include "common/runtime.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    const std::string path = TimeLogPath(0);
    kv::fuzz::WriteScratchFile(path.substr(path.rfind('/') + 1), data, size);
    CallState& c = Call();
    c.AnsiOn = c.ColorOn = false;
    c.User.Options = 0;
    {
        kv::fuzz::CapturedOutput out;
        ShowUsageGraph("0");
        kv::fuzz::CheckPlainScreen(out.Take(), 80);
    }

    kv::fuzz::WriteScratchFile(path.substr(path.rfind('/') + 1), data, size);
    TimeLogRecord r;
    const int read = ReadTimeLog(0, r);
    Check(read == (size >= TimeLogRecord::kSize ? 1 : 0), "a whole time log refused, or a torn one read");
    if (read != 1) return 0;
    auto again = kv::EncodeRecord(r);
    Check(std::vector<uint8_t>(again.begin(), again.end()) == kv::fuzz::CanonicalRecord<TimeLogRecord>(data),
          "the time log does not encode back as it lay");

    kv::DecodeRecord(again.data(), r);  // a date filling its field loses its last byte when written
    const time_t logon = c.LogonTime;
    c.LogonTime = kv::Now() - 5 * 3600;
    Check(UpdateTimeLog(0, r) == 1, "the time log could not be written");
    std::tm on{};
    localtime_r(&c.LogonTime, &on);
    c.LogonTime = logon;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Check(bytes.size() == TimeLogRecord::kSize, "the time log was not written whole");
    TimeLogRecord after;
    kv::DecodeRecord(bytes.data(), after);
    Check(after.Date == r.Date, "the time log's date changed");
    for (size_t h = 0; h < 24; ++h) {
        Check(after.Hours[h] >= r.Hours[h], "an hour's counter went back");
        if (h != size_t(on.tm_hour)) Check(after.Hours[h] == r.Hours[h], "another hour counted the call");
    }
    for (size_t d = 0; d < 7; ++d) {
        Check(after.Days[d] >= r.Days[d], "a weekday's counter went back");
        if (d != size_t(on.tm_wday)) Check(after.Days[d] == r.Days[d], "another weekday counted the call");
    }
    return 0;
}
