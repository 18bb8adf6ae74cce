#include "caller/term/time_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/whole_file.h"

namespace kv::caller {
namespace {

bool ReadWhole(const std::string& path, std::array<uint8_t, TimeLogRecord::kSize>& bytes, bool& missing) {
    missing = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        if (!missing) WriteLog("Cannot read %s: %s", path, std::strerror(errno));
        return false;
    }
    bool whole = ReadFully(fd, bytes.data(), bytes.size());
    close(fd);
    if (!whole) WriteLog("Record of %s cut short", path);
    return whole;
}

bool WriteRecord(const std::string& path, const TimeLogRecord& record) {
    auto bytes = EncodeRecord(record);
    if (WriteFileWhole(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()})) return true;
    WriteLog("Cannot write %s: %s", path, std::strerror(errno));
    return false;
}

}  // namespace

std::string TimeLogPath(int line) {
    const ConfigRecord& cfg = Config();
    std::string name = cfg.MultiLine ? "timelog" + std::to_string(line) + ".bbs" : std::string("timelog.bbs");
    return cfg.DataDir + "/" + name;
}

int ReadTimeLog(int line, TimeLogRecord& record) {
    std::string path = TimeLogPath(line);
    std::array<uint8_t, TimeLogRecord::kSize> bytes{};
    bool missing = false;
    if (ReadWhole(path, bytes, missing)) {
        DecodeRecord(bytes.data(), record);
        return 1;
    }
    if (!missing) return 0;
    // The line's first log-in starts the count.
    record = TimeLogRecord{};
    record.Date = DateString();
    return WriteRecord(path, record) ? 1 : 0;
}

int UpdateTimeLog(int line, const TimeLogRecord& record) {
    IgnoreEndSignals();
    const CallState& c = Call();
    TimeLogRecord updated = record;
    time_t seconds = Now() - c.LogonTime;
    uint32_t minutes = seconds > 0 ? uint32_t(seconds / 60) : 0;
    std::tm on{};
    localtime_r(&c.LogonTime, &on);
    // The counters only grow: one already at its end stays there rather
    // than wrapping round to a small count.
    auto add = [minutes](uint32_t& counter) { counter = minutes > UINT32_MAX - counter ? UINT32_MAX : counter + minutes; };
    add(updated.Hours[size_t(on.tm_hour) % updated.Hours.size()]);
    add(updated.Days[size_t(on.tm_wday) % updated.Days.size()]);
    return WriteRecord(TimeLogPath(line), updated) ? 1 : 0;
}

}  // namespace kv::caller
