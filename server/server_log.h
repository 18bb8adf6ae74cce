// "server.log" in DataDir: the log of kvhubd, which kvpost writes as well.
//
// Each line is "* date time message".  A new file opens with a banner that
// names the file, the system and the moment it was created.
#pragma once

#include <string>
#include <string_view>

#include "common/textfmt.h"

namespace kv {

// The notice that follows a version line ("kvhubd v1.0 - ...") and stands
// in the log banner.
inline constexpr const char* kNoticeText = "Kivo bulletin-board system";

inline constexpr const char* kServerLogName = "server.log";
inline constexpr size_t kServerLogMessageMax = 127;

// Writes the whole of s to fd, going on after short writes and signals;
// false (errno set) when a write fails.  The server's files use it too.
bool WriteAll(int fd, std::string_view s);

// Appends one line with the message cut to 127 characters.  When the file
// cannot be opened nothing is written.
void WriteServerLogLine(std::string_view message);

// While one lives, "server.log" stays open from the first line written to
// its end, so a pass that logs a line per mail opens the file once.
class ServerLogBatch {
public:
    ServerLogBatch();
    ~ServerLogBatch();
    ServerLogBatch(const ServerLogBatch&) = delete;
    ServerLogBatch& operator=(const ServerLogBatch&) = delete;
};

// The message is a fixed format of ours with its values; text from outside
// is passed as a value, never as the format.
template <class... Args>
void WriteServerLog(std::string_view format, const Args&... args) {
    WriteServerLogLine(FormatChecked(format, args...));
}

}  // namespace kv
