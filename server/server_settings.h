// The server's settings, filled from its command line.
#pragma once

#include <cstdint>
#include <ctime>

namespace kv::server {

struct ServerSettings {
    int16_t Verbosity = 0;      // 1 with -q, 2 with -Q
    int16_t Timeout = 60;       // minutes between mail passes, 1-720
    int16_t NapTime = 20;       // seconds of sleep when idle, 15-120
    int16_t Language[2] = {0, 1};  // message-text file of each slot, -1 none
    uint8_t MailOut = 0;        // -o: the timed pass sends queued mail
    uint8_t MailQueued = 0;     // a queue request came since the start
    time_t StartTime = 0;
};

// The one record of the process.
ServerSettings& Settings();

// Reads the options into s.  Returns -1 to go on, else the exit status
// (after printing the failure text, or the version line for -v).
int ParseServerOptions(int argc, char** argv, ServerSettings& s);

inline constexpr const char* kServerVersion = "kvhubd v1.0";

}  // namespace kv::server
