// Changes to a directory's file list ("files.bbs"), the pieces of the
// upload dialogue that describe one file, and the sysop's commands that
// move (29) and remove (62) a file together with its entry.
//
// These always change "files.bbs" in the directory itself; an area's own
// listing path is only ever listed.  A list is rewritten whole into a
// temporary file beside it that is renamed into place, and every change
// holds a lock on the directory, so that an upload appending on another
// line is never lost to a rewrite.
#pragma once

#include <string>

namespace kv::caller {

// Appends the entry line "name, blanks to column 15, description" (the
// description's leading blanks dropped; a name of 15 characters or more
// keeps blanks before it).  1, or 0 when the list cannot be written.
int AddFileEntry(const std::string& name, const std::string& directory, const std::string& description);

// Drops the entry of name (its whole name; exact case first, else case
// ignored) and the continuation lines below it.  With description, its
// description (text 527 for a name alone) is copied there.  1 when the list
// was rewritten, 0 when the entry is not there or the list could not be
// rewritten (then it stands as it was).
int RemoveFileEntry(const std::string& name, const std::string& directory, std::string* description = nullptr);

// Takes the entry, continuation lines included, from one list to the end of
// the other.  1 when both lists were changed.
int MoveFileEntry(const std::string& name, const std::string& from, const std::string& to);

// The description of an uploaded file in the list file of protocol (0-19):
// the first line holding both the protocol's upload keyword and the name,
// from the upload offset counted from the keyword.  1 when found.
int DescriptionFromList(const std::string& name, int protocol, std::string& description);

// Asks the caller for a description of up to two lines of 70 characters.
// 1, or 0 with text 410 as the description when the caller gave none.
int AskFileDescription(const std::string& name, std::string& description);

// Appends the three lines of a private upload to "prvtfile.log" in
// DataDir (the description less its leading '/').  Always 1.
int LogPrivateUpload(const std::string& name, const std::string& directory, const std::string& description);

void SysopMoveFile(const std::string& argument);    // 29
void SysopRemoveFile(const std::string& argument);  // 62

}  // namespace kv::caller
