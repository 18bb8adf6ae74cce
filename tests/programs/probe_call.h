// The start of a call in a test-only probe: the sample board's message
// texts stand in for the server's segment, and the caller program's services,
// signal handlers and terminal character set are set up as kivo's start-up
// sets them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "caller/call/call_handlers.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/term_charset.h"
#include "common/runtime.h"
#include "common/users.h"
#include "server/config_loader.h"
#include "tests/support/text_segment.h"

namespace kv::test {

inline caller::CallState& StartProbeCall() {
    static std::vector<uint8_t> image = SampleTextSegment();
    caller::CallState& c = caller::Call();
    c.Segment = image.data();
    caller::SelectMessageFile(0);
    caller::InstallCallerServices();
    caller::InstallCallHandlers();
    caller::DecideTerminalCharset();
    return c;
}

// The same, with the board's configuration from the working directory and
// a line log of its own on a single-line board; false without one.
inline bool StartProbeCallOnBoard(const char* lineLogName) {
    caller::CallState& c = StartProbeCall();
    if (LoadConfig() != 1) return false;
    MutableConfig().LineLogName = lineLogName;
    MutableConfig().MultiLine = 0;
    c.LogonTime = Now();
    return true;
}

// The caller of a probe on its board: record N of "users.bbs" for an
// argument "user=N" (record 1 without one), with a call of 60 minutes.
// The record's number, or -1 when it cannot be read.
inline int LoadProbeCaller(int argc, char** argv) {
    int user = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("user=", 0) == 0) user = std::atoi(a.c_str() + 5);
    }
    caller::CallState& c = caller::Call();
    c.CallMinutes = 60;
    if (!ReadUserRecord(user, c.User)) return -1;
    c.CurrentUserNumber = user;
    c.CallerName = c.User.Name;
    return user;
}

}  // namespace kv::test
