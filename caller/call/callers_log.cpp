#include "caller/call/callers_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {
namespace {

constexpr const char* kWeekdays[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr size_t kFieldCount = 7;
constexpr size_t kLineRoom = 254;

// A field that must not split its line.
std::string NoBar(std::string text) {
    std::replace(text.begin(), text.end(), '|', '!');
    return text;
}

bool SameDay(time_t a, time_t b) {
    std::tm x{}, y{};
    localtime_r(&a, &x);
    localtime_r(&b, &y);
    return x.tm_year == y.tm_year && x.tm_yday == y.tm_yday;
}

// The stop and pause keys between fields; false when the list stops.
bool GoOn(const std::string& keys) {
    int index = 0;
    if (!HotKeyPressed(index, 2, keys)) return true;
    if (index == 0) return false;
    SetNonBlocking(false);
    GetKey();
    SetNonBlocking(true);
    return true;
}

}  // namespace

std::string CallersLogName(int dayOffset) {
    int day = (LocalNow().tm_wday + dayOffset % 7 + 7) % 7;
    return FormatChecked("%s/%.3s_call.tdy", Config().DataDir, kWeekdays[day]);
}

void RotateCallersLog() {
    std::string today = CallersLogName(0);
    // A file of today's weekday written on another day is last week's: its
    // calls are not today's.  Appends stamp the board's own clock on it.
    if (FileExists(today, kPlainPath) && !SameDay(FileTime(today), Now())) MoveFile(today, today + ".B");
    if (FileExists(today, kPlainPath)) return;
    std::string yesterday = CallersLogName(-1);
    if (FileExists(yesterday, kPlainPath)) MoveFile(yesterday, yesterday + ".B");
}

std::string FormatCallerLogLine(const std::string& name, int line, long speed, const std::string& logon,
                                const std::string& logoff, long calls, const std::string& location) {
    return FormatChecked("%s|%d|%ld|%s|%s|%ld|%s", NoBar(name), line, speed, logon, logoff, calls, NoBar(location));
}

std::vector<std::string> SplitCallerLogLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < kFieldCount) {
        size_t bar = line.find('|', start);
        if (bar == std::string::npos) break;
        fields.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(start <= line.size() ? line.substr(start) : std::string());
    fields.resize(kFieldCount);
    return fields;
}

void LogCaller() {
    IgnoreEndSignals();
    RotateCallersLog();
    const CallState& c = Call();
    if (c.CurrentUserNumber == 0 && !Config().ShowSysop) return;
    std::tm on{};
    localtime_r(&c.LogonTime, &on);
    std::string text = FormatCallerLogLine(c.User.Name, c.LineNumber, GetLineSpeed(), FormatTime(on), TimeString(),
                                           long(c.User.TotalCalls), c.User.Location) +
                       "\n";
    std::string path = CallersLogName(0);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0660);
    if (fd < 0) return;
    struct stat st {};
    const off_t before = fstat(fd, &st) == 0 ? st.st_size : -1;
    // One write: lines of other lines never land inside this one.
    if (WriteFully(fd, text.data(), text.size())) {
        const timespec stamp[2] = {{Now(), 0}, {Now(), 0}};
        futimens(fd, stamp);
    } else if (before >= 0 && fstat(fd, &st) == 0 && st.st_size > before &&
               st.st_size - before < off_t(text.size())) {
        // A full disk took only part of the line: the part goes, or the
        // next call's line would run on from it.
        if (ftruncate(fd, before) != 0) WriteLog("Cannot take back a part line of %s", path);
    }
    close(fd);
}

void ListCallers(const std::string& argument) {
    const CallState& c = Call();
    bool pauses = (c.User.Options & USER_PAGE_BREAK) != 0;
    const std::string keys = GetText(200);
    int only = -1;
    if (!argument.empty()) only = argument[0] == '%' ? c.LineNumber : std::atoi(argument.c_str());

    FILE* in = std::fopen(CallersLogName(0).c_str(), "r");
    if (in == nullptr) {
        SetColorPair(kColorWarning);
        PutLine(GetText(556));
        TimedPause(2);
        return;
    }
    if (c.User.Options & USER_CLEAR_SCREEN) EraseScreen();
    if (c.ColorOn) SetColor(3, 0);
    std::string title = FormatText(554, Config().BbsName);
    int indent = std::max(0, 40 - int(title.size()) / 2);
    RepeatChar(' ', indent, false);
    PutLine(title);
    RepeatChar(' ', indent, false);
    RepeatChar('-', int(title.size()), true);
    PutLine();
    SetColorPair(kColorTitle);
    PutLine(GetText(555));
    RepeatChar('-', 79, true);
    SetColorPair(kColorNormal);

    static constexpr const char* kFormats[kFieldCount] = {"%-20.19s", "%-8.8s", "%-10.10s", "%-7.5s",
                                                          "%-9.5s",   "%-7.7s", "%.18s"};
    SetNonBlocking(true);
    uint16_t lines = 5;
    bool stopped = false;
    char buffer[kLineRoom + 2];
    while (!stopped && std::fgets(buffer, sizeof buffer, in) != nullptr) {
        std::string line = buffer;
        bool whole = !line.empty() && line.back() == '\n';
        // The rest of a line longer than the room is not a line of its own.
        if (!whole)
            for (int ch; (ch = std::fgetc(in)) != EOF && ch != '\n';) {
            }
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        TrimRight(line);
        std::vector<std::string> fields = SplitCallerLogLine(line);
        // A torn or hand-edited file sends no control byte to the caller.
        for (std::string& field : fields) BlankControlBytes(field, "");
        if (only >= 0 && (fields[1].empty() || std::atoi(fields[1].c_str()) != only)) continue;
        for (size_t i = 0; i < kFieldCount && !stopped; ++i) {
            PutString(FormatChecked(kFormats[i], fields[i]));
            stopped = !GoOn(keys);
        }
        PutLine();
        ++lines;
        if (!stopped && pauses && int(lines) >= ScreenLength() - 1) {
            SetNonBlocking(false);
            int key = PausePrompt();
            SetNonBlocking(true);
            if (key == c.NoKey) stopped = true;
            if (key == '=') pauses = false;
            lines = 0;
        }
    }
    SetNonBlocking(false);
    std::fclose(in);
    SetColorPair(kColorPrompt);
    PutString(GetText(420));
    GetKey();
    PutLine();
}

}  // namespace kv::caller
