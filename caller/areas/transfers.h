// File transfers through the sysop's protocol programs: the protocol menu,
// the line's work directory, the protocol's file list and log, the limits
// a download must pass and the totals of the caller's record.
//
// A transfer program is one of the 20 protocols of the configuration.  It
// runs through RunExternal's transfer form (a clean 8-bit line, the line
// marked as transferring) inside the line's own work directory "kvcarry"
// in WorkDir ("kvcarry3" for line 3 of a multi-line board), so that what
// it writes there (its log, received files) never meets another line's.
//
// Names reach the program's command line each as one shell-quoted word,
// with every '*' doubled so RunExternal never reads it as one of its
// codes: a file called "a;rm -rf ~" or "-x" is still one file name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/config_record.h"

namespace kv::caller {

enum TransferKind { kDownload = 1, kUpload = 2 };

// Codes of CheckDownloadLimits's refusals.
enum DownloadRefusal {
    kDownloadAllowed = 0,
    kDailyLimit = -1,
    kFileRatio = -2,
    kTimeLeft = -3,
    kByteRatio = -4,
};

// At most this many names are asked for and sent from a file area.
constexpr int kMaxTransferNames = 10;

// The protocol menu: the chosen protocol's number (0-19), or -1 when none
// is defined or the caller quits.  kind: kDownload or kUpload.
int ChooseProtocol(int kind);

// Mode 0 saves the working directory and enters the line's work directory
// (made when missing); mode 1 goes back.  1, or 0 on failure (then the
// working directory is the one before).
int ChangeTransferDir(int mode, int line);
// The work directory of a line: WorkDir/kvcarry, the line number after it
// on a multi-line board.
std::string TransferDirName(int line);

// The line's work directory, made when missing and closed to others;
// empty when it cannot be.
std::string MakeTransferDir(int line);
// A directory that received files wait in (the work and the abort
// directory), made when missing, closed to other users; false when it
// cannot be made.
bool MakeReceivingDir(const std::string& dir);
// What a transfer program left at path becomes plain data: a file gets
// 0660 less the umask (no set-id, sticky or execute bit), a directory 0770
// less the umask and the same for all it holds, anything else (a link, a
// device) is removed.
void MakeReceivedPlain(const std::string& path);
// Runs a receiving protocol's command (RunExternal) in the work directory,
// the current one, and makes what it left plain; its exit status.
int RunReceivingProgram(const std::string& command);
// Removes everything the working directory (the work directory, while a
// transfer runs) holds: what an earlier call left is no part of this one.
void EmptyTransferDir();
// Whether the entry name of the working directory is the file at path (a
// protocol's log or list, relative to the work directory or not).
bool IsProtocolFile(const std::string& name, const std::string& path);

// A name as one shell word of a command for RunExternal: quoted, every
// '*' doubled.
std::string TransferWord(std::string_view name);

// Writes the protocol's list file with one line per path, through the
// protocol's list template for kind ("%F" standing for the path).  1, or 0
// (logged) when the list path is empty, the template has no "%F" or the
// file cannot be written.
int WriteProtocolList(int kind, const ProtocolDef& protocol, const std::vector<std::string>& paths);

// Adds a transfer to the caller's record: files and the kilobytes (bytes
// / 1024) to the download totals and today's kilobytes (kind kDownload),
// or to the upload totals.
void AccountTransfer(int kind, int files, int64_t bytes);

// The base name of each path, dots to column 20, its size; a total line
// for two files or more.  Nothing is shown without show.  The total of the
// sizes; a missing file adds nothing.
int64_t ShowTransferList(const std::vector<std::string>& paths, bool show);

// The files of directory that match each name (a name or a pattern), in
// listing order, as "directory/name"; "." and "..", directories and a
// name already taken are left out.
std::vector<std::string> ExpandRequestedFiles(const std::vector<std::string>& names, const std::string& directory);

// Asks the caller for the names of a transfer: up to kMaxTransferNames for
// a batch protocol, split at blanks, commas and semicolons (a name given
// twice counts once); otherwise one name without wildcards.  Each name is
// one path component.  Empty when the caller gives none.
std::vector<std::string> AskTransferNames(int kind, bool batch);
// The splitting of a batch answer alone.
std::vector<std::string> SplitTransferNames(std::string_view answer);

// The first refusal that holds for a download of kilobytes and files
// (kDownloadAllowed when none).  With ratios off the ratios are not asked.
struct DownloadState {
    int32_t level = 0;
    int64_t kilobytes = 0;       // of this download
    int32_t files = 0;           // of this download
    int64_t todayKb = 0;         // downloaded today before it
    int64_t dailyLimitKb = 0;
    int64_t minutesLeft = 0;
    int64_t minutesNeeded = 0;
    int32_t fileRatio = 0, byteRatio = 0;
    int64_t uploadedFiles = 0, downloadedFiles = 0;
    int64_t uploadedKb = 0, downloadedKb = 0;
    bool ratios = true;
};
int DownloadRefusalCode(const DownloadState& s);
// Minutes a transfer of kilobytes takes at bps (0 counts as 300), plus one.
int64_t TransferMinutes(int64_t kilobytes, long bps);

// The checks before a download of bytes in files: 1 when it may go ahead
// (the summary is shown), 0 when refused (the reason is shown).
int CheckDownloadLimits(int64_t bytes, int files, bool ratios);

// The files of a failed batch that the protocol's log names as sent: each
// log line with the download keyword names a file DownloadNameOffset
// characters after the keyword; its base name must equal that of a path.
// The last one named counts as unfinished and is taken off again.  1 when
// at least one file remains (files and bytes set), else 0.
int ParseDownloadLog(const std::vector<std::string>& paths, const ProtocolDef& protocol, int& files,
                     int64_t& bytes);

// The command line of a transfer: the program, its arguments and each
// name as one quoted word while the line stays within what RunExternal
// takes, then the "*&" code (and "*!" when asked).  used is how many of
// names made it onto the line.
std::string TransferCommandLine(const std::string& program, const std::string& arguments,
                                const std::vector<std::string>& names, bool creditTime, size_t& used);

// The directory a transfer command's argument names (see file_areas.h);
// empty when the area was refused or the directory is missing (logged
// with text logText), the caller told why.
std::string TransferDirectory(const std::string& argument, int& area, int logText);

// Whether the protocol's program can run; when not, the reason is shown
// and logged.
bool ProtocolProgramReady(const ProtocolDef& protocol);

// Sends paths (bytes in all) through protocol; account: the caller's
// totals count what was sent.  1 when the program ended with status 0.
int RunDownload(const std::vector<std::string>& paths, int64_t bytes, int protocol, bool account);

}  // namespace kv::caller
