// Reading a mailbox: splitting it into mails, parsing the header lines the
// gateway cares about and wrapping the body into lines the readers can show.
//
// Everything here works on lines and texts only; finding the addressee among
// the users is handed in by the caller, so the whole parser can be driven
// from a table of cases.
//
// Two mailbox formats:
//   "From " lines  each mail begins with "From sender weekday month day time
//                  [zone] [year]" (one or more blanks between the words);
//   MMDF           each mail begins (and ends) with a line of four 0x01 bytes.
// Line ends may be LF or CRLF; the CR is dropped with the LF.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::server {

enum class MailboxFormat { kFromLines, kMmdf };

// Widths of the texts a parsed mail fills; each is its header field less
// the NUL (FromName and ToName are 61 bytes, Subject 72).
constexpr size_t kSenderWidth = 60;
constexpr size_t kSubjectWidth = 71;
// A body piece holds at most this many characters.
constexpr size_t kPieceWidth = 79;

// Lines of an open mailbox, without their line end.  A line longer than
// kMaxLine is handed out in parts of kMaxLine bytes, so a mailbox with no
// line ends at all cannot make the reader hold the whole file.
class MailboxReader {
public:
    static constexpr size_t kMaxLine = 64 * 1024;
    // Offsets count from where the file stands when the reader is made.
    explicit MailboxReader(FILE* f) : f_(f) {}
    // False at the end of the file (line is then empty).
    bool ReadLine(std::string& line);

    // Where the line read last began (the end of the file after a read
    // that found none), and where the next one begins, as byte offsets.
    uint64_t LineStart() const { return lineStart_; }
    uint64_t Offset() const { return offset_; }

private:
    FILE* f_;
    uint64_t lineStart_ = 0, offset_ = 0;
};

// The first line of a mailbox that the configured format accepts: "From "
// or the four 0x01 bytes.  Only the start is tested; the body splitter is
// stricter (IsMailStart).
bool BeginsMailbox(std::string_view line, MailboxFormat format);
// A mailbox whose first line asks the mail system to forward it.
bool IsForwardLine(std::string_view line);
// Whether a line begins a new mail.
bool IsMailStart(std::string_view line, MailboxFormat format);

struct MailDate {
    std::string date;  // date text in the given order, "" for an unknown order
    std::string time;  // "HH:MM:SS"
};
// A "Date:" value such as "Sat, 9 Mar 1996 10:15 +0100".  A part that is
// missing reads as 0 (day, month, year) and the time as "00:00:00".
MailDate ParseMailDate(std::string_view value, int dateOrder);

// The sender text of a "From:" or "Reply-To:" value: the address, with
// " (name)" when both fit; never longer than kSenderWidth.
std::string FormatSender(std::string_view value);
// An address longer than the sender field: leading UUCP hops dropped while
// the rest is too long, or "ADDRESS TOO LONG" when it has no hops.
std::string ShortenAddress(std::string_view address);
// The sender of an envelope line (the text after ">From "): "host!user"
// when it says "remote from host", else the user.
std::string SenderFromEnvelope(std::string_view envelope);
// The alias that a "To:" or "Cc:" value addresses (the local part of its
// address, UUCP hops and "%" routes taken off).  A list of addresses gives
// its first member on this machine (named nodeName), nothing when none is;
// an address without a local part gives an empty alias.
std::optional<std::string> RecipientAlias(std::string_view value, std::string_view nodeName);

// A parsed mail's header, bounded to the widths of the message header.
struct MailHeader {
    std::string FromName;   // sender text, "UNKNOWN" when the mail gave none
    std::string ToName;     // the user found, "" when none
    std::string Subject;
    std::string DateText;   // "" when the mail had no "Date:"
    std::string TimeText;
    std::string Addressed;  // the last "To:"/"Cc:" value, for the log when no user was found
};

// Given a "To:" or "Cc:" value, the name of the user it addresses or "".
using RecipientLookup = std::function<std::string(std::string_view value)>;

enum HeaderResult { kHeaderEndOfFile = -1, kHeaderNoRecipient = 0, kHeaderComplete = 1 };

// Reads one mail's header lines (its start line already read) up to the
// empty line that ends them.  kHeaderEndOfFile when the file ends first.
int ParseMailHeader(MailboxReader& in, MailHeader& header, const RecipientLookup& findRecipient, int dateOrder);

// Appends the pieces of one body line (trailing white space already
// removed): cut at most kPieceWidth characters long, at white space where
// there is some; an empty line gives one empty piece.
void WrapBodyLine(std::string_view line, std::vector<std::string>& pieces);

// Reads a mail's body up to the end of the file or the next mail's start
// line (consumed).  False when memory ran out; the pieces gathered so far
// stay and the rest of that mail is skipped.
bool GetBody(MailboxReader& in, MailboxFormat format, std::vector<std::string>& pieces);

}  // namespace kv::server
