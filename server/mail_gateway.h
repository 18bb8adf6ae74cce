// The server's mail gateway: Internet mail in from the system mailbox,
// callers' mail requests out to the mail sender (normally kvpost).
//
// Incoming, on each timed pass: the mailbox (MailboxPath) is taken under its
// lock file (MailboxPath + ".lock"; one older than a few minutes is stale
// and removed), checked, copied to "incoming.bbs" in MailDir and only then
// removed; the copy is split into mails and each mail whose addressee is a
// user (found by alias in "users.bbs") is appended to the message area
// MailArea as private e-mail.  A mail is gone from "incoming.bbs" only once
// it is posted: one that could not be is kept there for the next pass.
//
// Outgoing: a request from the command pipe becomes a MailRequestLine
// "name|alias|number|header offset".  Code 1 writes it into a one-line file
// of its own and runs SenderPath on it at once; code 2 (and a code 1 whose
// sender failed) appends it to "outgoing.bbs" in MailDir, which the timed
// pass hands to the sender when the server runs with -o.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

#include "common/msgbase.h"
#include "common/segment.h"
#include "server/mail_parse.h"

namespace kv::server {

inline constexpr const char* kIncomingFile = "incoming.bbs";
inline constexpr const char* kOutgoingFile = "outgoing.bbs";
// Present while "incoming.bbs" holds mail not yet posted.  It also lists,
// one decimal byte offset a line, where each mail of "incoming.bbs" that a
// pass has posted begins, so that a pass cut short (a killed server) posts
// none of them again.  Every offset it lists is the start of a mail of the
// file as it stands, posted already: the list is emptied before the file
// is rewritten, and a new mailbox only goes after the mail that waits.
inline constexpr const char* kPendingFile = "incoming.pnd";
inline constexpr const char* kServerPid = "kvhubd v0.1b";
// Seconds the import waits for another holder of the mailbox lock.
inline constexpr int kMailboxLockWait = 45;

// The incoming pass.
void ImportIncomingMail();

enum class MoveResult {
    kMoved,    // "incoming.bbs" holds the whole mailbox, which is gone
    kRefused,  // the mailbox is not one we can read; it stays untouched (logged)
    kFailed,   // locked, or the copy failed; the mailbox stays
};
MoveResult MoveMailbox();

// Splits "incoming.bbs" and posts every mail with an addressee.  The mails
// whose post failed stay in it (the file rewritten without the others) to
// be tried again at the next pass, which puts a new mailbox after them.
void ProcessMailbox();

// The users' aliases, read from "users.bbs" at the first lookup and kept:
// one read per pass, however many mails it has.
class AliasBook {
public:
    // The name of the user whose alias is alias (compared lower-cased), or
    // "" (logged) when nobody has it; an empty alias finds nobody.
    std::string Find(std::string_view alias);

private:
    bool loaded_ = false, complete_ = false;
    std::unordered_map<std::string, std::string> names_;
};

// FindUserByAlias looks in the file as it is now.
std::string FindUserByAlias(std::string_view alias);
// The user that a "To:" or "Cc:" value addresses, or "".
std::string ParseRecipient(std::string_view value);
std::string ParseRecipientIn(std::string_view value, AliasBook& users);

// Appends a parsed mail to MailArea; number gets its message number.  A
// pass hands in its writer; without one the mail is appended alone.
bool PostMail(const MailHeader& header, const std::vector<std::string>& body, int32_t& number,
              MsgBaseWriter* writer = nullptr);

// Opens the request file that path names (flags as open takes them) and
// takes its lock, waiting while another holds it: the server appends to
// "outgoing.bbs" and kvpost works it through and removes it under this
// lock, so a line queued meanwhile is never removed unsent, and two
// kvposts never mail one line twice.  A file removed or replaced while we
// waited is opened afresh.  -1 (errno set) when it cannot be opened;
// ENOENT when there is no such file (any longer).
int OpenLockedRequestFile(const std::string& path, int flags);

// The request line of a pipe command, with its line feed.
std::string MailRequestLine(const ServerCommand& cmd);
// Acts on a request of code 1 or 2.
void HandleMailRequest(const ServerCommand& cmd);
// Runs SenderPath on a request file and waits for it; true only when it
// ran and exited with status 0.
bool StartMailSender(const std::string& requestPath);
// The outgoing pass: "outgoing.bbs" to the sender.
void SendQueuedMail();

// The one-second sleep of the lock wait; tests put a clock of their own.
using SleepFn = std::function<void(unsigned seconds)>;
void SetMailboxLockSleep(SleepFn fn);

}  // namespace kv::server
