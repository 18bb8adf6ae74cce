// Process-wide services that the shared library calls back into.
//
// Each program installs its own: the configuration it runs with (its loaded
// record, or in kivo the copy taken from the shared segment), its log writer
// and its message-text lookup.  The clock is injectable so that tests can
// put "now" where they need it.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "common/config_record.h"

namespace kv {

// The configuration in use.  Before a program installs one, an empty record.
const ConfigRecord& Config();
ConfigRecord& MutableConfig();
void SetConfig(const ConfigRecord& c);

// Log writer: one line of text, without date or line end; the program adds
// its own frame ("* date time text").  Without one, lines go to stderr.
using LogWriterFn = std::function<void(std::string_view)>;
void SetLogWriter(LogWriterFn fn);
void LogService(std::string_view line);

// Message-text lookup: text n of the program's table, or "" when it has none.
using TextLookupFn = std::function<std::string(int)>;
void SetTextLookup(TextLookupFn fn);
std::string LookupText(int n);

// The clock.  Tests may install their own; the environment variable
// KV_TEST_NOW (seconds since the epoch) starts the default clock at that
// moment, from where it runs on in real time.  KV_TEST_CLOCK_FILE names a
// file holding seconds since the epoch, read again at every Now(), so a
// test can move a running program's time (the server's timed pass); while
// the file is missing or unreadable the clock falls back as above.
using ClockFn = std::function<time_t()>;
void SetClock(ClockFn fn);
time_t Now();
std::tm LocalNow();

// Adds every permission of other users to the umask.  The board's programs
// run as the board's user or group; what they create (the message base, the
// user file with its passwords, logs, the pipe) is no business of anyone
// else on the machine.  Each program calls it before it creates anything.
void KeepNewFilesFromOthers();

// To minimise confusion, a program makes sure its standard descriptors are
// open (on /dev/null where its starter closed one) before it opens anything
// else: a file opened later must never become one of them.
void KeepStandardDescriptorsOpen();

}  // namespace kv
