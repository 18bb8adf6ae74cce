// The enter-message command: a new message, a reply or a forwarded copy.
//
// EnterMessage takes the caller through the whole of it: the area and the
// right to write there, the recipient and the subject (which the caller may
// change before writing), the privacy of the message, the mail questions of
// NETMAIL and UUCP areas, the text (line editor, upload, or the one-line
// notice of an attached file), and the store.  A message stored in a UUCP
// area leaves as Internet mail: the server learns of it by an 84-byte
// request in its command pipe.
//
// An Internet address goes to the system mailer later, so only addresses of
// the mail-safe characters are taken; an attached file must be a plain file
// inside WorkDir whose path fits the subject field that carries it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/msg_records.h"
#include "common/segment.h"

namespace kv::caller {

// The new message's number (above 0), or 0 when nothing was stored.
//   menu command 27:  (menu argument, none, 0)
//   reader, new:      (area + 1 as a number, none, 0)
//   reader, reply:    (area + 1, the message answered, 0)
//   reader, forward:  (the target area from 1, the message forwarded, 1)
// Argument words: "/M" first (any case) the caller's current area, else a
// leading number the area from 1 (none or 0: the caller chooses); "/L" logs
// the caller off afterwards (exit status 51); "/T=Name_With_Blanks" a fixed
// recipient.
int EnterMessage(const std::string& argument, const MsgHeader* source, int forward);

// The heading: new, reply or forward, the kind and name of the area, and
// who writes.
void ShowPostingHeader(int area, const MsgHeader* source, int forward);

// Asks for the recipient until one is accepted; out is empty when the
// caller gave none (an empty answer or Escape).
void AskRecipient(std::string& out, int area);

// The recipient of a "/T=" word: up to 35 characters to the next blank,
// each '_' read as a blank; shown when found.  The number of characters
// taken, 0 when the argument holds no "/T=".
int ParseRecipientOption(std::string_view argument, std::string& out);

// --- pieces without a terminal ------------------------------------------------

// Whether text is taken as an Internet address: it holds an '@' or a '!',
// does not begin with either, and has nothing but letters, digits and
// "@!%.+-_=" (the address later reaches the system mailer).
bool IsMailAddress(std::string_view text);

// "RE: " and at most 65 characters of the subject replied to, without a
// "RE:" it already had.
std::string ReplySubject(std::string_view sourceSubject);

// Where a name typed for an attachment leads.
enum class AttachCheck { kOk, kNotFound, kOutside, kTooLong };
// The file workDir/name: kOk with its resolved path and size when it is a
// plain file inside workDir whose path fits a subject (71 characters).
AttachCheck CheckAttachment(const std::string& workDir, const std::string& name, std::string& path,
                            int64_t& size);

// Writes request into the server's pipe "kivopipe.bbs" in DataDir, never
// waiting for a server that does not read.  With no pipe text 733 is
// logged; with no server reading nothing is sent and nothing said.  True
// when the whole record went in.
bool SendMailRequest(const ServerCommand& request);

}  // namespace kv::caller
