#include "caller/areas/file_entries.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <iterator>
#include <vector>

#include "caller/areas/file_areas.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/whole_file.h"

namespace kv::caller {
namespace {

constexpr size_t kNameField = 15;

// The list that belongs to a directory (of an area, or none): the one its
// listing shows, and the directory that holds it.
struct EntryList {
    std::string Path;
    std::string Dir;
};

EntryList ListOf(const std::string& directory, int area) {
    EntryList l{FileListPath(area, directory), {}};
    size_t slash = l.Path.rfind('/');
    l.Dir = slash == std::string::npos ? "." : slash == 0 ? "/" : l.Path.substr(0, slash);
    return l;
}

// Holds an exclusive lock on the directory holding a list while the list
// changes.  The lock is on the directory, not the list, because a rewrite
// replaces the list's inode under anyone who locked that.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& directory)
        : fd_(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~DirectoryLock() {
        if (fd_ >= 0) close(fd_);
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int fd_;
};

// One line of the list, as written; descriptions never span lines, and no
// TAB runs on from the name's field into them.
std::string OneLine(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return std::string(SkipBlanks(s));
}

std::string EntryLine(const std::string& name, const std::string& description) {
    size_t pad = name.size() < kNameField ? kNameField - name.size() : name.size() == kNameField ? 1 : kNameField;
    return name + std::string(pad, ' ') + OneLine(description) + "\n";
}

bool AppendToList(const EntryList& list, const std::string& text) {
    int fd = open(list.Path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // A list edited by hand may end without a line end: the new entry
    // starts a line of its own instead of running on in the last one.
    std::string lines = text;
    struct stat st;
    char last = '\n';
    if (fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        lines.insert(0, 1, '\n');
    // One write: the lines reach the list together or not at all.
    ssize_t n;
    do n = write(fd, lines.data(), lines.size());
    while (n < 0 && errno == EINTR);
    bool ok = n == ssize_t(lines.size());
    return close(fd) == 0 && ok;
}

// The list's lines, each with its newline (a last line may lack one).
bool ReadList(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    for (size_t at = 0; at < all.size();) {
        size_t nl = all.find('\n', at);
        size_t end = nl == std::string::npos ? all.size() : nl + 1;
        lines.push_back(all.substr(at, end - at));
        at = end;
    }
    return true;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToUpperChar(a[i]) != ToUpperChar(b[i])) return false;
    return true;
}

// The entry's line number: the first whose name is the name exactly, else
// the first that differs from it in case alone; -1 when none.
long FindEntry(const std::vector<std::string>& lines, std::string_view name) {
    long loose = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        FileListLine l = ParseFileListLine(lines[i]);
        if (l.Kind != FileLineKind::kEntry) continue;
        if (l.Name == name) return long(i);
        if (loose < 0 && SameNameIgnoringCase(l.Name, name)) loose = long(i);
    }
    return loose;
}

enum class Taken { kDone, kNoEntry, kFailed };

// Takes the entry and its continuation lines out of list; the lock is the
// caller's.  With description, the entry's description (text 527 for a
// name alone) is copied there.
// before runs once the new list is written beside the old one and before
// it takes the old one's place, with the description and the continuation
// lines; when before fails, the list stays as it is.  So an entry reaches
// another list, or its file is deleted, before it leaves this one, and a
// list that cannot be rewritten changes nothing.
Taken TakeEntry(const std::string& name, const EntryList& list, std::string* description,
                const std::function<bool(const std::string&, const std::string&)>& before = nullptr) {
    std::vector<std::string> lines;
    if (!ReadList(list.Path, lines)) {
        // No list at all holds no entry; one that cannot be read may.
        return access(list.Path.c_str(), F_OK) != 0 && errno == ENOENT ? Taken::kNoEntry : Taken::kFailed;
    }
    long at = FindEntry(lines, name);
    if (at < 0) return Taken::kNoEntry;
    size_t end = size_t(at) + 1;
    while (end < lines.size() && ParseFileListLine(lines[end]).Kind == FileLineKind::kContinuation) ++end;
    FileListLine l = ParseFileListLine(lines[size_t(at)]);
    std::string text = l.Description.empty() ? GetText(527) : std::string(l.Description);
    if (description != nullptr) *description = text;
    std::string kept, taken;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > size_t(at) && i < end) taken += lines[i];
        else if (i != size_t(at)) kept += lines[i];
    }
    if (!taken.empty() && taken.back() != '\n') taken += '\n';
    TempFile tmp = MakeTempBeside(list.Path);
    if (tmp.fd < 0 || !WriteFully(tmp.fd, kept)) {
        DiscardTemp(tmp);
        LogText(407, list.Dir);
        return Taken::kFailed;
    }
    if (before && !before(text, taken)) {
        DiscardTemp(tmp);
        return Taken::kFailed;
    }
    if (!CommitTemp(tmp, list.Path)) {
        LogText(407, list.Dir);
        return Taken::kFailed;
    }
    return Taken::kDone;
}

bool ClearScreenWanted() { return (Call().User.Options & USER_CLEAR_SCREEN) != 0; }

void Warn(int text, int seconds) { PutColorText(GetText(text), true, false, seconds, kColorWarning); }

// The directory of a sysop command's argument, without a trailing '/',
// and its area (-1 for a plain path); empty when there is none.
std::string SysopDirectory(const std::string& argument, int& area) {
    area = -1;
    std::string dir = FileAreaArgument(argument, area);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

void NotADirectory(const std::string& dir, int pair, int seconds) {
    RingBell();
    PutColorText(dir, false, false, 0, pair);
    Warn(403, seconds);
}

// Asks for the name of a file in dir (text 399): empty when the caller
// gave none; a name that is not one existing file there is refused with
// text 406.
std::string AskExistingName(const std::string& dir, int seconds) {
    std::string name;
    AskInput(true, false, GetText(399), name, 14);
    PutLine();
    if (name.empty() || name[0] == kKeyEsc) return {};
    if (!FileNameIsSafe(name) || !FileExists(dir + "/" + name, kPlainPath)) {
        PutColorText(FormatText(406, name), true, false, seconds, kColorWarning);
        return {};
    }
    return name;
}

}  // namespace

int AddFileEntry(const std::string& name, const std::string& directory, const std::string& description, int area) {
    EntryList list = ListOf(directory, area);
    DirectoryLock lock(list.Dir);
    return AppendToList(list, EntryLine(name, description)) ? 1 : 0;
}

int RemoveFileEntry(const std::string& name, const std::string& directory, std::string* description, int area) {
    EntryList list = ListOf(directory, area);
    DirectoryLock lock(list.Dir);
    return TakeEntry(name, list, description) == Taken::kDone ? 1 : 0;
}

int MoveFileEntry(const std::string& name, const std::string& from, const std::string& to, int fromArea,
                  int toArea) {
    EntryList source = ListOf(from, fromArea), target = ListOf(to, toArea);
    // Two areas listed from one list: the entry is where it belongs (and
    // a rewrite after the append would drop it).
    if (source.Path == target.Path) {
        DirectoryLock lock(source.Dir);
        std::vector<std::string> lines;
        return ReadList(source.Path, lines) && FindEntry(lines, name) >= 0 ? 1 : 0;
    }
    // Both lists are locked, always in the same order, so two moves the
    // other way round cannot wait for each other; the entry is added to
    // the target before it leaves the source.
    const std::string& first = std::min(source.Dir, target.Dir);
    const std::string& second = std::max(source.Dir, target.Dir);
    DirectoryLock lockFirst(first);
    std::optional<DirectoryLock> lockSecond;
    if (second != first) lockSecond.emplace(second);
    return TakeEntry(name, source, nullptr,
                     [&](const std::string& description, const std::string& continuation) {
                         return AppendToList(target, EntryLine(name, description) + continuation);
                     }) == Taken::kDone
               ? 1
               : 0;
}

int RemoveFileAndEntry(const std::string& name, const std::string& directory, int area) {
    EntryList list = ListOf(directory, area);
    DirectoryLock lock(list.Dir);
    std::string path = directory + "/" + name;
    bool deleted = false;
    auto deleteFile = [&](const std::string&, const std::string&) {
        deleted = unlink(path.c_str()) == 0;
        return deleted;
    };
    switch (TakeEntry(name, list, nullptr, deleteFile)) {
    case Taken::kDone: return 1;
    case Taken::kNoEntry: return unlink(path.c_str()) == 0 ? 1 : 0;
    case Taken::kFailed: break;
    }
    return deleted ? -1 : 0;
}

int DescriptionFromList(const std::string& name, int protocol, std::string& description) {
    if (protocol < 0 || protocol >= kProtocolCount) return 0;
    const ProtocolDef& p = Config().Protocols[size_t(protocol)];
    std::ifstream in(p.ListFile);
    if (!in || p.UploadKeyword.empty()) return 0;
    std::string line;
    while (std::getline(in, line)) {
        size_t key = line.find(p.UploadKeyword);
        if (key == std::string::npos || line.find(name) == std::string::npos) continue;
        TrimRight(line);
        long from = long(key) + p.UploadNameOffset;
        if (from < 0 || size_t(from) >= line.size()) return 0;
        // The sender's words, shown to every caller who lists the area: no
        // control byte of them reaches a screen, as none can be typed, and
        // no TAB reaches the list, where it would join the name.
        description = line.substr(size_t(from));
        BlankControlBytes(description, "");
        TrimRight(description);
        return 1;
    }
    return 0;
}

int AskFileDescription(const std::string& name, std::string& description) {
    CallState& c = Call();
    c.AcceptHighChars = true;
    if (ClearScreenWanted())
        EraseScreen();
    else
        PutLine();
    if (c.ColorOn) SetColor(12, 0);
    PutString(FormatText(408, name));
    PutLine(GetText(409));
    SetColorPair(kColorNormal);
    PutLine("   [" + std::string(70, '-') + "]");

    auto inputColour = [&] {
        if (c.ColorOn) SetColor(3, 0);
    };
    std::string first, carried;
    PutColorText(" 1: ", false, false, 0, kColorTitle);
    inputColour();
    InputLineWrap(true, carried, 70, first);
    PutLine();
    if (first.empty() || first == kEscAnswer) {
        c.AcceptHighChars = false;
        description = GetText(410);
        return 0;
    }
    std::string second(SkipBlanks(carried)), unused;
    PutColorText(" 2: ", false, false, 0, kColorTitle);
    inputColour();
    InputLineWrap(false, unused, 70, second);
    PutLine();
    c.AcceptHighChars = false;
    SetColorPair(kColorNormal);
    TrimRight(first);
    if (second == kEscAnswer) second.clear();
    description = first + " " + second;
    TrimRight(description);
    return 1;
}

int LogPrivateUpload(const std::string& name, const std::string& directory, const std::string& description) {
    std::string_view rest = description;
    if (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
    std::string lines = FormatText(411, DateString(), TimeString()) + "\n" + FormatText(412, Call().CallerName) +
                        "\n" + FormatText(413, name, directory, std::string(rest)) + "\n";
    int fd = open((Config().DataDir + "/prvtfile.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return 1;
    ssize_t n;
    do n = write(fd, lines.data(), lines.size());
    while (n < 0 && errno == EINTR);
    close(fd);
    return 1;
}

void SysopMoveFile(const std::string& argument) {
    PutLine();
    int sourceArea = -1, targetArea = -1;
    std::string source = SysopDirectory(argument, sourceArea);
    if (source.empty()) return;
    if (!IsDirectory(source)) return NotADirectory(source, kColorWarning, 2);
    std::string name = AskExistingName(source, 2);
    if (name.empty()) return;

    std::string target;
    AskInput(true, false, GetText(400), target, 80);
    if (target.empty() || target == kEscAnswer) {
        PutLine();
        return;
    }
    if (IsAreaNumberArgument(target)) {
        // The area's directory takes the place of what was typed.
        for (size_t i = 0; i < target.size(); ++i) EraseChar();
        std::string typed = target;
        targetArea = ResolveFileArea(typed, target);
        PutString(target);
        if (target.empty()) {
            PutLine();
            return;
        }
    }
    PutLine();
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    if (target == source) {
        RingBell();
        return Warn(405, 2);
    }
    if (name.size() + target.size() > 80) {
        RingBell();
        return Warn(404, 2);
    }
    if (!IsDirectory(target)) return NotADirectory(target, kColorWarning, 2);

    // A file of that name in the target would be replaced by the move and
    // its entry doubled: the move is refused, both files stay.
    if (std::filesystem::symlink_status(target + "/" + name).type() != std::filesystem::file_type::not_found) {
        RingBell();
        return Warn(402, 2);
    }
    // The file is touched first so that it counts as new where it lands.
    std::string path = source + "/" + name;
    TouchFile(path);
    if (MoveFile(path, target) != 0) {
        RingBell();
        return Warn(402, 2);
    }
    if (ChoicePrompt(GetText(401), true, true, true, false, GetText(35)) != Call().YesKey) return;
    if (!MoveFileEntry(name, source, target, sourceArea, targetArea)) {
        RingBell();
        Warn(402, 2);
    }
}

void SysopRemoveFile(const std::string& argument) {
    PutLine();
    int area = -1;
    std::string dir = SysopDirectory(argument, area);
    if (dir.empty()) {
        if (!IsAreaNumberArgument(argument)) Warn(743, 3);
        return;
    }
    if (!IsDirectory(dir)) return NotADirectory(dir, kColorTitle, 3);
    std::string name;
    AskInput(true, false, GetText(399), name, 14);
    PutLine();
    if (name.empty() || name[0] == kKeyEsc) return;
    // Neither the directory's own list nor the area's list kept in it.
    if (IsFileListName(name, dir, area)) return Warn(726, 3);
    if (!FileNameIsSafe(name) || !FileExists(dir + "/" + name, kPlainPath)) {
        PutColorText(FormatText(406, name), true, false, 3, kColorWarning);
        return;
    }
    PutColorText(name, false, false, 0, kColorKeys);
    PutString(" ");
    if (ChoicePrompt(GetText(724), false, true, true, false, GetText(35)) == Call().YesKey) {
        std::string path = dir + "/" + name;
        int removed = RemoveFileAndEntry(name, dir, area);
        if (removed == 1) {
            std::string text = FormatText(725, path);
            WriteLogLine(text);
            PutColorText(text, true, false, 3, kColorWarning);
        } else {
            // Either nothing changed, or the file is gone and its entry
            // stayed (the list could not be rewritten; logged with 407).
            std::string text = removed < 0 ? FormatText(407, ListOf(dir, area).Dir) : FormatText(727, path);
            if (removed == 0) WriteLogLine(text);
            RingBell();
            PutColorText(text, true, false, 3, kColorWarning);
        }
    }
    PutLine();
}

}  // namespace kv::caller
