// kvpost: hands messages that callers addressed to Internet mail to the
// system mailer.
//
// The server starts it on a request file, one line per message:
//   name|alias|message number|header byte offset in "msghdr.bbs"
// Each line is checked against the message base before anything is sent, the
// mail (headers, text, signature, or an attached file as shell-archive
// parts) is written into the mailer, and only a mail that really left marks
// its message sent, or deletes it when the caller asked for that.  Failures
// go to "server.log" as "KP: ..." lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/command_words.h"

namespace kv::post {

inline constexpr const char* kVersion = "kvpost v1.0";  // the version line begins with it
inline constexpr const char* kMailerName = "Kivo v0.3";  // the X-Mailer header
inline constexpr const char* kSignatureFile = "signe.bbs";

// Exit statuses.
enum SendStatus {
    kAllSent = 0,             // every line worked through; the request file is removed
    kUsage = 1,               // not exactly one argument
    kNoRequestFile = 2,       // the request file does not exist
    kNoConfig = 3,            // the configuration cannot be loaded
    kCannotOpenRequests = 5,  // the request file cannot be opened
    kMailerFailed = 6,        // the mailer cannot be run, or the mail did not leave
    kNoText = 7,              // a message text cannot be read
    kNoHeader = 8,            // "msghdr.bbs" cannot be read
    kNoStreams = 9,           // the standard streams cannot be set up
    kVersionShown = 99,       // -v
};

// One line of a request file.
struct MailRequest {
    std::string Name;    // sender's full name
    std::string Alias;   // sender's alias
    int32_t Number = 0;  // message number
    int32_t Offset = 0;  // byte offset of its header in "msghdr.bbs"
};

// Splits a request line: exactly four fields, a message number above 0 and
// an offset that is a whole number of headers.  False when it is not one.
bool ParseRequestLine(std::string_view line, MailRequest& out);

// The whole program after "-v": loads the configuration, sets up the
// standard streams and works through the request file.  Returns the exit
// status.
int SenderMain(const std::vector<std::string>& args);

// Works through one request file; stops at the first line that fails.
int SendRequestFile(const std::string& path);

}  // namespace kv::post
