// File areas: who may use one, which directory a menu argument names, and
// the pieces every file command shares.
//
// A file area is a directory the configuration describes (areas 0-49 inside
// the program, typed from 1).  Menu lines name the directory of a file
// command in one of three ways, and every file command reads them through
// FileAreaArgument:
//
//   "/F"      (any case) the caller's current file area;
//   "$F" n    (any case) area n, after the range, in-use and access tests
//             of ResolveFileArea;
//   other     a directory path, used as it stands.
//
// The caller's file names are single path components: FileNameIsSafe says
// whether a typed name may be joined to an area directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::caller {

// Modes of CanUseFileArea.
enum FileAreaUse { kFileList = 0, kFileDownload = 1 };

// 1 when the caller may use area (0-49): kFileList to list and enter it,
// kFileDownload to download as well; else 0.  An open area is granted
// whatever the caller's level and flags.
int CanUseFileArea(int area, int mode);

// The area number after the first two characters of argument ("$F12"):
// the area (0-based) with its directory in directory, or -1 with directory
// empty after telling the caller why (texts 429-431).
int ResolveFileArea(std::string_view argument, std::string& directory);

// Whether the argument begins with "/F" or "$F" (case ignored).
bool IsCurrentAreaArgument(std::string_view argument);
bool IsAreaNumberArgument(std::string_view argument);

// The directory a file command's argument names (see above).  area gets
// the area (0-based) for "/F" and "$F", -1 for a path or a refused "$F".
// Empty when an area was refused (the caller has been told) or the current
// area has no directory.
std::string FileAreaArgument(std::string_view argument, int& area);

// Whether a name a caller typed is one path component: not empty, no '/',
// not "." or "..".
bool FileNameIsSafe(std::string_view name);

// Whether the second date text is later than the first.  Each text is read
// as three two-digit fields in the configured date order; a two-digit year
// from 80 on is 19xx, below 80 it is 20xx.
bool IsLaterDate(std::string_view first, std::string_view second);

// The next piece of text for word wrapping: the leading white space and the
// word after it, up to the first blank after the word, the end of text, or
// width characters in all.  An empty view at the end of the text.  The
// piece is a view into text, so its size is the number of characters taken.
std::string_view CopyNextWord(std::string_view text, size_t width);

// The names in directory dir that match a wildcard pattern, in the sorted
// order of the directory listing.  "." is never listed; other directories
// only when directories is set, then with a '/' after the name (but "..",
// which is listed as it stands).  Empty when nothing matches or the
// directory cannot be read.
std::vector<std::string> ExpandPattern(std::string_view pattern, bool directories, const std::string& dir = ".");

// --- the file list ("files.bbs") ------------------------------------------------
//
// One line per entry: the file name up to the first TAB (or, in a line
// without TAB, up to the first blank), then blanks, then the description.
// A line beginning with '#' is a comment; one beginning with a blank
// continues the description above it; an empty line is shown as one.  A
// name alone has no description.  Trailing white space never counts.

constexpr const char* kFileListName = "files.bbs";

enum class FileLineKind { kComment, kEmpty, kContinuation, kEntry };

struct FileListLine {
    FileLineKind Kind = FileLineKind::kEmpty;
    std::string_view Text;         // the line without trailing white space
    std::string_view Name;         // an entry's file name
    std::string_view Description;  // an entry's description; empty for a name alone
};
FileListLine ParseFileListLine(std::string_view line);

// The list an area is listed from: its own listing path when the
// configuration gives one, else "files.bbs" in its directory.  For a plain
// directory (area -1) the "files.bbs" in it.
std::string FileListPath(int area, const std::string& directory);

// Whether two paths name one place once made absolute (from the working
// directory) and free of "." and "..".  Links are not followed.
bool SamePath(const std::string& a, const std::string& b);

// Whether a file called name in directory would be a list: "files.bbs",
// or the area's own list kept under another name there.
bool IsFileListName(const std::string& name, const std::string& directory, int area);

// --- the files of a directory, with their sizes and dates ------------------------

struct FileInfo {
    int64_t Size = 0;
    std::string Date;  // modification date as a date text
};

struct AreaFiles {
    std::string Directory;
    int Area = -1;                   // the area listed, -1 for a plain directory
    std::vector<std::string> Names;  // sorted as the directory listing sorts
    std::vector<FileInfo> Infos;     // parallel to Names, once ReadFileInfo ran
    // The information of a name (exact, case counts), or none.
    const FileInfo* Find(std::string_view name) const;
    // The place of a name in Names (exact), Names.size() when it is not there.
    size_t IndexOf(std::string_view name) const;
    mutable size_t NextGuess = 0;  // where IndexOf looks first, after the last name found
};

// The names of the directory an argument names that match pattern (asked
// for with text 424 when empty: Enter alone is "*").  false when there is
// no list: the caller has been told why, except when silent is set and
// merely nothing matched, or when the question was cancelled.
bool CollectAreaFiles(std::string_view argument, std::string pattern, bool silent, AreaFiles& files);
// Fills Infos from the files' status.
void ReadFileInfo(AreaFiles& files);
// The same for one file of a directory.
FileInfo ReadOneFileInfo(const std::string& directory, const std::string& name);

// A directory opened once to be asked after single names: a search that
// shows a few entries of a long list needs no listing of the whole
// directory.  An area whose directory cannot be listed (read) does not
// open.
class DirectoryNames {
public:
    explicit DirectoryNames(const std::string& directory);
    ~DirectoryNames();
    DirectoryNames(const DirectoryNames&) = delete;
    DirectoryNames& operator=(const DirectoryNames&) = delete;
    explicit operator bool() const { return fd_ >= 0; }
    // Whether the directory's listing of its files (ExpandPattern "*"
    // without directories) holds name: a file, or a link that does not
    // lead to a directory.  With info, its size and date as ReadFileInfo
    // reads them.
    bool Holds(const std::string& name, FileInfo* info = nullptr) const;

private:
    std::string directory_;
    int fd_ = -1;
};

// --- the layout of one entry -------------------------------------------------------

// Display lines hold at most this many characters, so that none wraps on
// an 80-column screen.
constexpr size_t kEntryWidth = 79;
constexpr size_t kEntryMaxLines = 6;
// Columns of the described layout.
constexpr size_t kSizeColumn = 15;
constexpr size_t kNewMarkColumn = 23;
constexpr size_t kDateColumn = 24;

struct EntryLayout {
    std::vector<std::string> Lines;  // 1-6 display lines
    bool Continuation = false;       // a continuation or empty line, not an entry
};

// Lays out one list line (not a comment): an entry gets its name, its
// size (or the start of text 421 when the file is missing) and, with
// style non-zero, the new mark and the date, with the description from
// column 24 (style 0) or 33; a continuation starts at column 0.  A long
// text is wrapped by words onto at most six lines.
EntryLayout FormatFileEntry(std::string_view line, const AreaFiles& files, int style);
// The column the description of an entry starts at.
size_t EntryIndent(int style);

}  // namespace kv::caller
