// Changes to a directory's file list, the pieces of the upload dialogue
// that describe one file, and the sysop's commands that move (29) and
// remove (62) a file together with its entry.
//
// The list changed is the one the area's listing shows (FileListPath):
// with an area (0-49) whose list is kept apart, that list; otherwise, and
// for a plain directory (area -1), "files.bbs" in the directory itself.  A
// list is rewritten whole into a temporary file beside it that is renamed
// into place, and every change holds a lock on the directory holding the
// list, so that an upload appending on another line is never lost to a
// rewrite.
#pragma once

#include <string>

namespace kv::caller {

// Appends the entry line "name, blanks to column 15, description" (the
// description's leading blanks dropped; a name of 15 characters or more
// keeps blanks before it).  1, or 0 when the list cannot be written.
int AddFileEntry(const std::string& name, const std::string& directory, const std::string& description,
                 int area = -1);

// Drops the entry of name (its whole name; exact case first, else case
// ignored) and the continuation lines below it.  With description, its
// description (text 527 for a name alone) is copied there.  1 when the list
// was rewritten, 0 when the entry is not there or the list could not be
// rewritten (then it stands as it was).
int RemoveFileEntry(const std::string& name, const std::string& directory, std::string* description = nullptr,
                    int area = -1);

// Takes the entry, continuation lines included, from one list to the end of
// the other.  1 when both lists were changed; otherwise the entry stays in
// the source (and, when only the source could not be rewritten, is in
// both).
int MoveFileEntry(const std::string& name, const std::string& from, const std::string& to, int fromArea = -1,
                  int toArea = -1);

// Deletes the file name in directory and takes its entry out of the list.
// The file is deleted only once the new list is written, and the new list
// takes the old one's place only once the file is gone.  1 when both are
// done (or the file had no entry); 0 when nothing changed; -1 when the
// file is gone but the list could not be replaced (its entry stays).
int RemoveFileAndEntry(const std::string& name, const std::string& directory, int area = -1);

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
