// The activity log of a call.
//
// Each kivo process appends its events to a log of its own, "kivo.<pid>" in
// DataDir, so that lines never write into one file at once.  At the end of
// the call MergeLog appends that file to the line's log (LineLogName in
// DataDir, with the line number before the extension on a multi-line
// system) and deletes it.  A line of either file reads
//   * <date> <time> <event text>
//
// Event texts are fixed formats with their values passed apart: a caller's
// name or a sysop's text is a value, never a format.
#pragma once

#include <string>
#include <string_view>

#include "caller/term/call_state.h"
#include "common/textfmt.h"

namespace kv::caller {

// Appends one line with this event text as it stands (cut to 127
// characters).  Without a DataDir, or when the file cannot be opened, the
// line goes to standard error.  A hang-up during the write waits for it.
void WriteLogLine(std::string_view text);

// The event text formatted printf-style from a fixed format.
template <class... Args>
void WriteLog(std::string_view format, const Args&... values) {
    WriteLogLine(FormatChecked(format, values...));
}

// Logs text n of the bound table, formatted with values.
template <class... Args>
void LogText(int n, const Args&... values) {
    WriteLogLine(FormatText(n, values...));
}

// Appends this process's log to the line log and deletes it: 1 when done,
// 0 when the line log cannot be written (the process log stays) or the
// process log is missing (a note of that goes into the line log).
// SIGINT and SIGQUIT stay ignored afterwards: the call is ending.
int MergeLog();

// Path of the line log, and of this process's log.
std::string LogFileName();
std::string PerProcessLogName();

}  // namespace kv::caller
