// The line editor: where a caller writes the text of a message.
//
// Numbered lines of at most 72 characters are typed one after another; a
// word that does not fit on a full line moves on to the next one.  An empty
// line opens the command menu of nine commands, whose keys are the nine
// characters of text 204 in this order:
//
//   0 delete lines   1 edit a line   2 replace text   3 insert lines
//   4 list the text  5 help          6 continue       7 save   8 abort
//
// Each area has a line limit (LineLimit, 0 for 999).  A reply can start
// with the replied message's text, quoted and re-wrapped; a forward starts
// with the forwarded text under a heading of six lines.  A caller who uses
// the full-screen editor (USER_FULL_EDITOR) gets that instead, with the
// same loaded text.
//
// Every line that reaches the buffer keeps to 72 columns: typed lines are
// bounded by their input, and loaded lines (quotes, headings, uploaded
// files) are wrapped at a blank, or cut at column 72 when a word is longer
// than the line, never cut off.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "caller/areas/message_buffer.h"
#include "common/msg_records.h"

namespace kv::caller {

// Positions of the commands in the editor's keys.
enum EditorCommand {
    kEditDelete = 0,
    kEditLine = 1,
    kEditReplace = 2,
    kEditInsert = 3,
    kEditList = 4,
    kEditHelp = 5,
    kEditContinue = 6,
    kEditSave = 7,
    kEditAbort = 8,
};
constexpr int kEditorCommandCount = 9;

// The program name that forward headings and the text's PID line carry.
inline constexpr const char* kKivoVersion = "Kivo v1.0";

// The line limit of an area (0-99): its LineLimit, 999 for 0.
int EditorLineLimit(int area);

// The nine command keys (text 204, upper case).
std::string EditorKeys();

// Writes a message.  source: the message replied to (its text is offered
// quoted) or forwarded (forward set), or none.  Returns the finished text
// (ended by 0x1A), or none when the caller aborted or no memory could be had.
std::optional<MessageBuffer> MessageEditor(int area, const MsgHeader* source, bool forward);

// Adds an earlier text to buffer, at most up to limit lines in all, and
// returns the number of lines added.  Without a path the text is source's
// in "msgtxt.bbs" at its TextOffset; a reply's lines are quoted with
// MakeQuotePrefix of its sender, under a line of text 234 when it was
// addressed to somebody else than the caller; a forward comes unquoted
// under the lines of texts 235-240 and a blank line.  With a path the
// file's text is taken from its start as it stands (no quote, no heading
// unless source is addressed to somebody else).  Control lines are left
// out; a line too long for its slot is cut at its last blank that fits and
// the rest flows on into the next line.
int LoadMessageText(const MsgHeader& source, MessageBuffer& buffer, int limit, bool forward,
                    const std::string& path = "");

// The quote prefix: QuoteTemplate with each '@' replaced by the author's
// initials (the first letter of the name and the first letter after its
// first blank).
std::string MakeQuotePrefix(std::string_view sender);
std::string MakeQuotePrefix(std::string_view quoteTemplate, std::string_view sender);

// The command menu; returns the key chosen (one of keys).  An abort is
// asked for confirmation first, and only a confirmed one is returned.
char EditorCommandPrompt(std::string_view keys);

// Lists lines from index first (0-based) on, with the ruler when asked.
void ListEditorLines(const MessageBuffer& buffer, bool ruler, int first);
void ShowRuler();
void ShowEditorHeader(int area);
void ShowEditorHelp(std::string_view keys);
void ShowNoLines();

}  // namespace kv::caller
