// Uploads: files a caller sends into a file area (menu command 33).
//
// The protocol program receives into the line's work directory (see
// transfers.h).  Each received file is then checked against every file
// area for a duplicate, named in the area's case, described, entered into
// the directory's "files.bbs" (or, for a description that begins with '/',
// logged in "prvtfile.log" as a private upload), counted into the caller's
// upload totals and moved into the directory.  What a failed transfer
// leaves, and every duplicate, goes to the "abort" directory of WorkDir.
//
// Names: a caller types one plain file name (letters, digits, '.', '_'
// and '-', not beginning with '.' or '-').  A received name with any other
// byte has it changed to '_' before anything else happens to the file,
// and no upload ever replaces a file that is already there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::caller {

void UploadFiles(const std::string& argument);  // 33

// protocol 0-19; area the 0-based file area, or -1 for a plain directory.
void RunUpload(int protocol, const std::string& directory, int area);

// Takes the received files into directory: 1 when every file was taken,
// -1 when at least one was a duplicate, 0 when nothing could be processed.
int ProcessUploads(const std::vector<std::string>& names, const std::string& directory, int area, int protocol,
                   int& files, int64_t& bytes);

// The first file area (0-49) whose directory holds the base name of name
// as it stands, in lower case or in upper case; -1 when none does.
int FindDuplicate(const std::string& name);

// Moves the protocol's log (named after this process) and, for an upload
// (kind 2), everything the line's work directory holds into the abort
// directory.  Hang-ups wait meanwhile (and stay ignored when called for
// one).  Also called at log-off for a transfer that was still running.
void RescueAbortedFiles(int kind, int protocol, bool hangup);

// A typed upload name: one plain file name (see above).
bool UploadNameIsPlain(std::string_view name);
// A received name with every byte outside the plain set, and a leading '.'
// or '-', changed to '_'.
std::string PlainUploadName(std::string_view name);
// The name in the area's case (1 upper, other non-zero lower) and cut to
// eight characters, a dot and three; caseByte 0 leaves it as it is.
std::string AreaUploadName(const std::string& name, int caseByte);
// Where the protocol's log goes in the abort directory: its base name with
// the part after the last '.' replaced by pid, or ".pid" added.
std::string RescuedLogName(const std::string& logPath, int pid);

}  // namespace kv::caller
