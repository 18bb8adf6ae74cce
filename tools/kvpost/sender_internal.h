// Pieces of kvpost that its source files share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/msg_records.h"
#include "tools/kvpost/sender.h"

namespace kv::post {

// What one request line is sent with.
struct Outgoing {
    MailRequest Request;
    MsgHeader Header;
    std::string FromLine;    // "From: ..." or empty
    std::vector<std::string> Mailer;  // the mailer's argument vector, MailerPath first
    std::string Signature;   // "\n--\n..." or empty
};

// SendOne's answer for a line that is logged and passed over.
inline constexpr int kLineSkipped = -1;

// The header block of a mail: the From line and the extra header when not
// empty, X-Mailer, Subject and the empty line.
std::string MailHeaders(const std::string& fromLine, const std::string& extraHeader, const std::string& subject);

// How a program run without a shell went.
struct ProgramRun {
    bool started = false;     // the program was executed
    bool inputTaken = true;   // every byte of the input was written into it
    int status = -1;          // its exit status, 128 + signal when a signal ended it
};

// Runs argv[0] (looked up in PATH when it holds no '/') with the arguments
// argv, in dir, with input on its standard input when input is given, and
// waits for it.  No shell ever sees the words.
ProgramRun RunWithoutShell(const std::vector<std::string>& argv, const std::string& dir, const std::string* input);

// Writes a whole mail into the mailer and waits for it.  kAllSent only when
// every byte was taken and the mailer ended with status 0; otherwise the
// failure is logged and kMailerFailed returned.
int DeliverMail(const std::vector<std::string>& mailer, const std::string& mail);

// Sends the attached file of a message as shell-archive parts, one mail per
// part.  kAllSent, kLineSkipped (the file may not be sent) or kMailerFailed.
int SendSharParts(const Outgoing& out);

// After the mail has left: sets MAIL_SENT in the header at the request's
// offset, or deletes the message when it carries MAIL_KILL_SENT.  Failures
// are logged; the mail is gone either way.
void MarkSent(const Outgoing& out);
void KillMessage(const Outgoing& out);

// The whole of a file, or the rest of an open one; false when it cannot be
// opened or read.
bool ReadWholeFile(const std::string& path, std::string& body);
bool ReadWholeFile(int fd, std::string& body);

// A mkstemp/mkdtemp template below TMPDIR (or /tmp): name + "XXXXXX".
std::string TempTemplate(const char* name);

// A directory of our own below TMPDIR (or /tmp), mode 0700, or "" when none
// can be made.  name is its prefix.
std::string MakeTempDirectory(const char* name);

}  // namespace kv::post
