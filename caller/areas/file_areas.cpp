#include "caller/areas/file_areas.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/config_record.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

// The caller's level and flags against an area's (signed comparison).
bool Grants(int32_t level, const FlagGroups& flags) {
    const UserRecord& u = Call().User;
    return level <= u.SecurityLevel && HasAllFlags(u.Flags, flags);
}

bool BeginsWith(std::string_view text, char first, char second) {
    return text.size() >= 2 && text[0] == first && ToUpperChar(text[1]) == second;
}

// The decimal number at the start of text, as a caller types it: leading
// blanks and a sign allowed, digits up to the first other character.  Kept
// within int range however many digits follow.
long LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (n < 1000000000L) n = n * 10 + (text[i] - '0');
    }
    return negative ? -n : n;
}

int TwoDigits(std::string_view text, size_t at) {
    if (at + 2 > text.size()) return 0;
    char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
    return (a - '0') * 10 + (b - '0');
}

// A date text as year, month, day for comparison; two-digit years pivot at
// 80 so that the turn of the century keeps its order.
struct DateKey {
    int year = 0, month = 0, day = 0;
    auto operator<=>(const DateKey&) const = default;
};

DateKey ReadDateText(std::string_view text) {
    int f0 = TwoDigits(text, 0), f1 = TwoDigits(text, 3), f2 = TwoDigits(text, 6);
    DateKey k;
    switch (Config().DateOrder) {
    case 0: k = {f0, f1, f2}; break;
    case 1: k = {f2, f0, f1}; break;
    case 2:
    case 3: k = {f2, f1, f0}; break;
    default: return k;
    }
    if (k.year < 80) k.year += 100;
    return k;
}

}  // namespace

int CanUseFileArea(int area, int mode) {
    if (area < 0 || area >= kFileAreaCount) return 0;
    const FileAreaDef& a = Config().FileAreas[size_t(area)];
    if (a.AreaDefined == 0) return 0;
    if (a.OpenArea != 0) return 1;
    if (!Grants(a.ListLevel, a.ListFlags)) return 0;
    return mode == kFileDownload ? Grants(a.DownloadLevel, a.DownloadFlags) : 1;
}

int ResolveFileArea(std::string_view argument, std::string& directory) {
    directory.clear();
    long n = LeadingNumber(argument.size() > 2 ? argument.substr(2) : std::string_view());
    if (n < 1 || n > kFileAreaCount) {
        std::string text = FormatText(431, n);
        WriteLogLine(text);
        PutColorText(text, true, false, 3, kColorWarning);
        return -1;
    }
    int area = int(n - 1);
    if (Config().FileAreas[size_t(area)].AreaDefined == 0) {
        std::string text = FormatText(430, n);
        WriteLogLine(text);
        PutColorText(text, true, false, 3, kColorWarning);
        return -1;
    }
    if (CanUseFileArea(area, kFileList) == 0) {
        // Blinking where colours go out, bold on a plain terminal.
        if (Call().ColorOn) {
            SetColorPair(kColorWarning);
            SetBlink();
        } else {
            SetBold();
        }
        PutLine(GetText(429));
        ResetAttributes();
        TimedPause(3);
        return -1;
    }
    directory = Config().FileAreas[size_t(area)].AreaDir;
    return area;
}

bool IsCurrentAreaArgument(std::string_view argument) { return BeginsWith(argument, '/', 'F'); }
bool IsAreaNumberArgument(std::string_view argument) { return BeginsWith(argument, '$', 'F'); }

std::string FileAreaArgument(std::string_view argument, int& area) {
    area = -1;
    if (IsCurrentAreaArgument(argument)) {
        int current = Call().User.FileArea;
        if (current < 0 || current >= kFileAreaCount) return {};
        area = current;
        return Config().FileAreas[size_t(current)].AreaDir;
    }
    if (IsAreaNumberArgument(argument)) {
        std::string directory;
        area = ResolveFileArea(argument, directory);
        return directory;
    }
    return std::string(argument);
}

bool FileNameIsSafe(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

bool IsLaterDate(std::string_view first, std::string_view second) {
    return ReadDateText(second) > ReadDateText(first);
}

std::string_view CopyNextWord(std::string_view text, size_t width) {
    size_t i = 0;
    while (i < text.size() && i < width && IsWhiteSpace(text[i])) ++i;
    while (i < text.size() && i < width && text[i] != ' ') ++i;
    return text.substr(0, i);
}

std::vector<std::string> ExpandPattern(std::string_view pattern, bool directories, const std::string& dir) {
    std::vector<std::string> names;
    DirListing listing;
    ListingEntry e;
    for (int r = listing.FindFirst(pattern, e, dir); r == 0; r = listing.FindNext(e)) {
        if (e.Name == ".") continue;
        // The directory tells most entries' kind; a link or a file system
        // that does not is asked.
        bool isDir = e.Type == DT_DIR || ((e.Type == DT_UNKNOWN || e.Type == DT_LNK) && IsDirectory(dir + "/" + e.Name));
        if (isDir && !directories) continue;
        names.push_back(isDir && e.Name != ".." ? e.Name + "/" : e.Name);
    }
    return names;
}

FileListLine ParseFileListLine(std::string_view line) {
    FileListLine l;
    size_t end = line.size();
    while (end > 0 && IsWhiteSpace(line[end - 1])) --end;
    l.Text = line.substr(0, end);
    if (l.Text.empty()) return l;
    if (l.Text[0] == '#') {
        l.Kind = FileLineKind::kComment;
        return l;
    }
    if (l.Text[0] == ' ') {
        l.Kind = FileLineKind::kContinuation;
        return l;
    }
    l.Kind = FileLineKind::kEntry;
    size_t cut = l.Text.find('\t');
    if (cut == std::string_view::npos) cut = l.Text.find(' ');
    if (cut == std::string_view::npos) {
        l.Name = l.Text;
        return l;
    }
    l.Name = l.Text.substr(0, cut);
    l.Description = SkipBlanks(l.Text.substr(cut));
    return l;
}

std::string FileListPath(int area, const std::string& directory) {
    if (area >= 0 && area < kFileAreaCount) {
        const FileAreaDef& a = Config().FileAreas[size_t(area)];
        if (!a.ListingPath.empty()) return a.ListingPath;
    }
    return directory + "/" + kFileListName;
}

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    auto full = [&](const std::string& path) { return std::filesystem::absolute(path, ec).lexically_normal(); };
    return full(a) == full(b);
}

bool IsFileListName(const std::string& name, const std::string& directory, int area) {
    return name == kFileListName || SamePath(directory + "/" + name, FileListPath(area, directory));
}

const FileInfo* AreaFiles::Find(std::string_view name) const {
    size_t i = IndexOf(name);
    return i < Infos.size() ? &Infos[i] : nullptr;
}

size_t AreaFiles::IndexOf(std::string_view name) const {
    // A list mostly follows the directory's order: the name after the last
    // one asked for is tried first.
    if (NextGuess < Names.size() && Names[NextGuess] == name) return NextGuess++;
    // Names are sorted in byte order, the order string_view compares in.
    auto it = std::lower_bound(Names.begin(), Names.end(), name,
                               [](const std::string& a, std::string_view b) { return std::string_view(a) < b; });
    if (it == Names.end() || *it != name) return Names.size();
    NextGuess = size_t(it - Names.begin()) + 1;
    return NextGuess - 1;
}

bool CollectAreaFiles(std::string_view argument, std::string pattern, bool silent, AreaFiles& files) {
    files = AreaFiles{};
    files.Directory = FileAreaArgument(argument, files.Area);
    // A refused area number has been explained already.
    if (IsAreaNumberArgument(argument) && files.Area < 0) return false;
    if (files.Directory.empty() && argument.empty()) {
        PutColorText(GetText(416), true, false, 2, kColorWarning);
        return false;
    }
    const std::string& dir = files.Directory;
    if (!IsDirectory(dir) || access(dir.c_str(), R_OK | X_OK) != 0) {
        LogText(675, dir);
        RingBell();
        PutColorText(dir, false, false, 0, kColorWarning);
        PutColorText(GetText(426), true, false, 2, kColorWarning);
        return false;
    }
    if (pattern.empty()) {
        std::string answer;
        AskInput(true, false, GetText(424), answer, 14);
        PutLine();
        if (!answer.empty() && answer[0] == kKeyEsc) return false;
        pattern = answer.empty() ? "*" : answer;
    }
    files.Names = ExpandPattern(pattern, false, dir);
    if (files.Names.empty() && !silent) PutColorText(GetText(428), true, false, 2, kColorWarning);
    return !files.Names.empty();
}

namespace {

// One stat per file, by name in the open directory when there is one: a
// path looked up whole for each of thousands of files costs more than the
// listing itself.  A file that cannot be read has size 0 and the date of
// time 0.
FileInfo InfoOf(int dirFd, const std::string& dir, const std::string& name) {
    struct stat st {};
    bool ok = dirFd >= 0 ? fstatat(dirFd, name.c_str(), &st, 0) == 0 : stat((dir + "/" + name).c_str(), &st) == 0;
    FileInfo info;
    time_t t = ok ? st.st_mtime : 0;
    if (ok) info.Size = std::max<int64_t>(st.st_size, 0);
    std::tm tm{};
    localtime_r(&t, &tm);
    info.Date = FormatDate(tm);
    return info;
}

}  // namespace

void ReadFileInfo(AreaFiles& files) {
    files.Infos.clear();
    files.Infos.reserve(files.Names.size());
    int dirFd = open(files.Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : files.Names) files.Infos.push_back(InfoOf(dirFd, files.Directory, name));
    if (dirFd >= 0) close(dirFd);
}

FileInfo ReadOneFileInfo(const std::string& directory, const std::string& name) {
    return InfoOf(-1, directory, name);
}

DirectoryNames::DirectoryNames(const std::string& directory)
    : directory_(directory), fd_(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

DirectoryNames::~DirectoryNames() {
    if (fd_ >= 0) close(fd_);
}

bool DirectoryNames::Holds(const std::string& name, FileInfo* info) const {
    // "." is left out of every listing, and a name is one component.
    if (fd_ < 0 || name.empty() || name == "." || name.find('/') != std::string::npos) return false;
    struct stat st;
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return false;
    // A link counts as what it leads to; one that leads nowhere is a file.
    if (S_ISLNK(st.st_mode) && fstatat(fd_, name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode)) return false;
    if (info != nullptr) *info = InfoOf(fd_, directory_, name);
    return true;
}

size_t EntryIndent(int style) { return style != 0 ? 33 : 24; }

namespace {

// The number in decimal, blanks before it up to width characters ("%7ld").
std::string RightAligned(int64_t n, size_t width) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    size_t len = size_t(end - digits);
    std::string out(len < width ? width - len : 0, ' ');
    out.append(digits, len);
    return out;
}

// Puts text into line at column, widening the line as needed.
void PutAt(std::string& line, size_t column, std::string_view text) {
    if (line.size() < column + text.size()) line.resize(column + text.size(), ' ');
    line.replace(column, text.size(), text);
}

}  // namespace

EntryLayout FormatFileEntry(std::string_view line, const AreaFiles& files, int style) {
    EntryLayout out;
    FileListLine l = ParseFileListLine(line);
    size_t indent = EntryIndent(style);
    size_t start = indent;
    std::string first, bare;
    // Room for a whole display line at once, rather than growing with each
    // field put in.
    first.reserve(kEntryWidth + 1);
    std::string_view text;
    if (l.Kind != FileLineKind::kEntry) {
        out.Continuation = true;
        start = 0;
        text = l.Text;
    } else {
        // The size field begins at column 15, so a longer name is cut there.
        PutAt(first, 0, l.Name.substr(0, kSizeColumn));
        if (const FileInfo* info = files.Find(l.Name)) {
            PutAt(first, kSizeColumn, RightAligned(info->Size, 7));
            if (style != 0) {
                if (IsLaterDate(Call().User.LastCallDate, info->Date)) PutAt(first, kNewMarkColumn, "*");
                PutAt(first, kDateColumn, info->Date.substr(0, 8));
            }
        } else {
            PutAt(first, kSizeColumn, GetText(421).substr(0, 8));
        }
        text = l.Description;
        if (text.empty()) {
            bare = GetText(527);
            text = bare;
        }
    }
    first.resize(start, ' ');
    out.Lines.push_back(std::move(first));

    if (start + text.size() <= kEntryWidth) {
        out.Lines.back() += text;
    } else {
        // Word by word: a piece that does not fit starts the next line at
        // the indent, less one leading blank.  Pieces are cut so that one
        // always fits a fresh line.
        size_t width = std::min<size_t>(55, kEntryWidth - indent);
        while (!text.empty()) {
            std::string_view piece = CopyNextWord(text, width);
            text.remove_prefix(piece.size());
            std::string* cur = &out.Lines.back();
            if (cur->size() + piece.size() > kEntryWidth) {
                if (out.Lines.size() == kEntryMaxLines) break;
                out.Lines.emplace_back(indent, ' ');
                cur = &out.Lines.back();
                if (!piece.empty() && piece[0] == ' ') piece.remove_prefix(1);
            }
            *cur += piece;
        }
    }
    for (std::string& s : out.Lines) TrimRight(s);
    return out;
}

}  // namespace kv::caller
