#include "caller/areas/transfers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "caller/areas/file_areas.h"
#include "caller/areas/uploads.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/external_programs.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/shell_quote.h"
#include "common/strings.h"
#include "common/whole_file.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

// Columns of an entry of the protocol menu, two to a line.
constexpr int kMenuColumn = 25;

// The working directory before the transfer, while one runs.
std::string& SavedDir() {
    static std::string dir;
    return dir;
}

std::string BaseNameOf(std::string_view path) {
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Colour 3 (cyan) for headings, only where colours go out.
void HeadingColour() {
    if (Call().ColorOn) SetForeground(3);
}

void ClearOrNewLine() {
    if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
    else PutLine();
}

// One entry of the protocol menu: the key letters of the name stand out.
// Returns the columns written.
int PutProtocolEntry(const ProtocolDef& p) {
    const char key = ToUpperChar(char(p.KeyLetter));
    for (char ch : p.ProtocolName) {
        if (ToUpperChar(ch) == key) {
            if (Call().ColorOn) SetColorPair(kColorKeys);
            else SetBold();
            PutChar(uint8_t(ch));
            ResetAttributes();
        } else {
            PutChar(uint8_t(ch));
        }
    }
    int width = int(p.ProtocolName.size());
    if (p.Batch != 0) {
        PutChar('(');
        if (Call().ColorOn) SetForeground(12);
        PutChar('*');
        ResetAttributes();
        PutChar(')');
        width += 3;
    }
    return width;
}

// A highlighted key and its words ("Q - quit").
int PutKeyEntry(char key, const std::string& words) {
    if (Call().ColorOn) SetColorPair(kColorKeys);
    else SetBold();
    PutChar(uint8_t(key));
    ResetAttributes();
    PutString(words);
    return 1 + int(words.size());
}

// Ends an entry: padded to the column when it is the first of its line,
// the line ended when it is the second.
void EndEntry(int& onLine, int width) {
    if (onLine == 0) {
        for (int i = width; i < kMenuColumn; ++i) PutChar(' ');
        onLine = 1;
    } else {
        PutLine();
        onLine = 0;
    }
}

// The protocol whose key letter is key, or -1.
int ProtocolOfKey(const std::vector<int>& defined, int key) {
    for (int n : defined) {
        if (ToUpperChar(char(Config().Protocols[size_t(n)].KeyLetter)) == ToUpperChar(char(key))) return n;
    }
    return -1;
}

// The menu; a protocol's key typed while it is written chooses at once.
int ShowProtocolMenu(const std::vector<int>& defined) {
    ClearOrNewLine();
    HeadingColour();
    std::string title = GetText(469);
    PutLine(title);
    ResetAttributes();
    RepeatChar('-', int(title.size()), true);

    SetNonBlocking(true);
    int chosen = -1;
    int onLine = 0;
    for (int n : defined) {
        EndEntry(onLine, PutProtocolEntry(Config().Protocols[size_t(n)]));
        if (int key = PollKey(); key > 0 && (chosen = ProtocolOfKey(defined, key)) >= 0) break;
    }
    SetNonBlocking(false);
    if (chosen >= 0) {
        if (onLine != 0) PutLine();
        return chosen;
    }
    EndEntry(onLine, PutKeyEntry('Q', GetText(259)));
    PutKeyEntry('?', " " + GetText(226));
    PutLine();
    PutLine();
    return -1;
}

}  // namespace

std::string TransferDirName(int line) {
    std::string dir = Config().WorkDir + "/kvcarry";
    if (Config().MultiLine != 0) dir += std::to_string(line);
    return dir;
}

std::string MakeTransferDir(int line) {
    std::string dir = TransferDirName(line);
    return MakeReceivingDir(dir) ? dir : std::string();
}

bool MakeReceivingDir(const std::string& dir) {
    if (!IsDirectory(dir) && mkdir(dir.c_str(), 0770) != 0 && !IsDirectory(dir)) return false;
    // One made by an earlier version, or by hand, is closed now: what a
    // caller sends is no business of other users of the machine.
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && (st.st_mode & S_IRWXO) != 0) chmod(dir.c_str(), st.st_mode & 07770);
    return true;
}

void MakeReceivedPlain(const std::string& path) {
    // The sender chooses the mode a protocol program gives a file (a
    // set-user program, say); whatever it was, what the board keeps is
    // data that nobody can run.  The directories are the board's own and
    // the program has ended, so nobody swaps a name between the look and
    // the change.
    mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISREG(st.st_mode)) {
        chmod(path.c_str(), 0660 & ~mask);
    } else if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0770 & ~mask);
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path, ec))
            MakeReceivedPlain(entry.path().string());
    } else {
        unlink(path.c_str());
    }
}

int RunReceivingProgram(const std::string& command) {
    // Until the program ends, a file it has finished may carry the mode the
    // sender chose: meanwhile only the board's own user may reach it.
    struct stat st;
    if (stat(".", &st) == 0) chmod(".", st.st_mode & 07700);
    int status = RunExternal(0, 1, 0, command);
    // Before anything else is done with them, above all before the caller
    // is asked anything while they wait here.
    MakeReceivedPlain(".");
    return status;
}

void EmptyTransferDir() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(".", ec)) std::filesystem::remove_all(entry.path(), ec);
}

bool IsProtocolFile(const std::string& name, const std::string& path) {
    return !path.empty() && SamePath(name, path);
}

std::string TransferWord(std::string_view name) {
    std::string word;
    for (char ch : ShellQuote(name)) {
        word += ch;
        if (ch == '*') word += '*';
    }
    return word;
}

int ChooseProtocol(int kind) {
    std::vector<int> defined;
    for (int n = 0; n < kProtocolCount; ++n) {
        if (Config().Protocols[size_t(n)].ProtocolDefined != 0) defined.push_back(n);
    }
    if (defined.empty()) {
        PutColorText(GetText(468), true, false, 2, kColorWarning);
        return -1;
    }

    int chosen = ShowProtocolMenu(defined);
    bool prompted = false;
    while (chosen < 0) {
        if (!prompted) {
            HeadingColour();
            PutString(GetText(464));
            ResetAttributes();
            PutColorText(GetText(465), false, false, 0, kColorPrompt);
            prompted = true;
        }
        int key = ToUpperChar(char(GetKey()));
        if (key == 10 || key == 13) key = 'Q';
        if (key == 'Q') {
            PutLine();
            PutLine(GetText(275));
            return -1;
        }
        if (key == '?') {
            PutLine();
            DisplayFile(1, GetText(661));
            chosen = ShowProtocolMenu(defined);
            prompted = false;
            continue;
        }
        chosen = ProtocolOfKey(defined, key);  // other keys are passed over
    }
    PutLine();
    PutLine(Config().Protocols[size_t(chosen)].ProtocolName + " " + GetText(kind == kDownload ? 466 : 467));
    return chosen;
}

int ChangeTransferDir(int mode, int line) {
    std::string& saved = SavedDir();
    if (mode != 0) {
        int ok = 1;
        if (!saved.empty() && chdir(saved.c_str()) != 0) {
            LogText(494, saved);
            ok = 0;
        }
        saved.clear();
        return ok;
    }

    char here[PATH_MAX];
    if (getcwd(here, sizeof here) == nullptr) return 0;
    saved = here;
    const std::string& work = Config().WorkDir;
    if (work.empty() || !IsDirectory(work) || chdir(work.c_str()) != 0) {
        saved.clear();
        return 0;
    }
    std::string carry = MakeTransferDir(line);
    bool entered = !carry.empty() && chdir(carry.c_str()) == 0;
    if (!entered) {
        if (chdir(saved.c_str()) != 0) LogText(494, saved);
        saved.clear();
        return 0;
    }
    return 1;
}

int WriteProtocolList(int kind, const ProtocolDef& protocol, const std::vector<std::string>& paths) {
    const std::string& list = protocol.ListFile;
    const std::string& form = kind == kDownload ? protocol.DownloadListLine : protocol.UploadListLine;
    size_t code = form.find("%F");
    if (list.empty() || (!form.empty() && code == std::string::npos)) {
        LogText(501, list);
        return 0;
    }
    std::string before = form.empty() ? "" : form.substr(0, code);
    std::string after = form.empty() ? "" : form.substr(code + 2);
    std::string body;
    for (const std::string& p : paths) body += before + p + after + "\n";
    if (!WriteFileWhole(list, body)) {
        LogText(501, list);
        return 0;
    }
    return 1;
}

void AccountTransfer(int kind, int files, int64_t bytes) {
    UserRecord& u = Call().User;
    uint32_t kb = uint32_t(bytes / 1024);
    if (kind == kDownload) {
        u.DownloadedFiles += uint32_t(files);
        u.DownloadedKb += kb;
        u.TodayKb += kb;
    } else {
        u.UploadedFiles += uint32_t(files);
        u.UploadedKb += kb;
    }
}

int64_t ShowTransferList(const std::vector<std::string>& paths, bool show) {
    int64_t total = 0;
    if (show) PutLine();
    for (const std::string& p : paths) {
        int64_t size = FileSize(p);
        if (size > 0) total += size;
        if (!show) continue;
        std::string name = BaseNameOf(p) + " ";
        PutString(name);
        for (size_t col = name.size(); col < 20; ++col) PutChar('.');
        if (size < 0) PutLine(" " + GetText(717));
        else PutLine(" " + std::to_string(size) + " " + GetText(549));
    }
    if (show && paths.size() >= 2 && total != 0) {
        RepeatChar('-', total > 99999 ? 35 : 34, true);
        PutLine(GetText(718) + std::to_string(total) + " " + GetText(549));
    }
    return total;
}

std::vector<std::string> ExpandRequestedFiles(const std::vector<std::string>& names, const std::string& directory) {
    std::vector<std::string> paths, taken;
    for (const std::string& name : names) {
        for (const std::string& found : ExpandPattern(name, false, directory)) {
            if (found == "..") continue;
            bool seen = false;
            for (const std::string& t : taken) seen = seen || t == found;
            if (seen) continue;
            taken.push_back(found);
            paths.push_back(directory + "/" + found);
        }
    }
    return paths;
}

std::vector<std::string> SplitTransferNames(std::string_view answer) {
    std::vector<std::string> names;
    std::string word;
    auto take = [&] {
        bool seen = false;
        for (const std::string& n : names) seen = seen || n == word;
        if (!word.empty() && !seen && int(names.size()) < kMaxTransferNames) names.push_back(word);
        word.clear();
    };
    for (char ch : answer) {
        if (ch == ' ' || ch == ',' || ch == ';' || ch == '\t') take();
        else word += ch;
    }
    take();
    return names;
}

std::vector<std::string> AskTransferNames(int kind, bool batch) {
    std::string answer;
    std::vector<std::string> names;
    if (batch) {
        AskInput(true, false, FormatText(495, kMaxTransferNames), answer, 78);
        if (answer == kEscAnswer) return {};
        names = SplitTransferNames(answer);
    } else {
        AskInput(true, false, FormatText(496, GetText(kind == kDownload ? 466 : 467)), answer, 14);
        if (answer == kEscAnswer) return {};
        TrimRight(answer);
        std::string name(SkipBlanks(answer));
        if (name.empty()) return {};
        if (HasWildcard(name)) {
            PutColorText(GetText(498), true, false, 2, kColorWarning);
            return {};
        }
        names.push_back(name);
    }
    // A name is one file of the directory, never a way out of it; one to
    // be received is a plain name a shell or a list line cannot misread.
    for (const std::string& n : names) {
        if (kind == kUpload && !UploadNameIsPlain(n)) {
            RingBell();
            PutColorText(GetText(504), true, false, 2, kColorWarning);
            return {};
        }
        if (!FileNameIsSafe(n)) {
            PutColorText(GetText(470), true, false, 2, kColorWarning);
            return {};
        }
    }
    return names;
}

int64_t TransferMinutes(int64_t kilobytes, long bps) {
    int64_t rate = int64_t(bps > 0 ? bps : 300) * 760 / 2400;
    return kilobytes * 60 / rate + 1;
}

int DownloadRefusalCode(const DownloadState& s) {
    if (IsSysopLevel(s.level)) return kDownloadAllowed;
    if (s.kilobytes + s.todayKb > s.dailyLimitKb) return kDailyLimit;
    if (s.minutesLeft < s.minutesNeeded) return kTimeLeft;
    if (!s.ratios) return kDownloadAllowed;
    if (s.byteRatio != 0 && int64_t(s.byteRatio) * s.uploadedKb < s.downloadedKb + s.kilobytes) return kByteRatio;
    if (s.fileRatio != 0 && int64_t(s.fileRatio) * s.uploadedFiles < s.downloadedFiles + s.files) return kFileRatio;
    return kDownloadAllowed;
}

int CheckDownloadLimits(int64_t bytes, int files, bool ratios) {
    const CallState& c = Call();
    long bps = GetLineSpeed();
    DownloadState s;
    s.level = c.User.SecurityLevel;
    s.kilobytes = bytes / 1024;
    s.files = files;
    s.todayKb = c.User.TodayKb;
    s.dailyLimitKb = c.DownloadLimitKB;
    s.minutesNeeded = TransferMinutes(s.kilobytes, bps);
    s.minutesLeft = c.CallMinutes - SecondsSince(c.LogonTime) / 60;
    s.fileRatio = c.FileRatio;
    s.byteRatio = c.ByteRatio;
    s.uploadedFiles = c.User.UploadedFiles;
    s.downloadedFiles = c.User.DownloadedFiles;
    s.uploadedKb = c.User.UploadedKb;
    s.downloadedKb = c.User.DownloadedKb;
    s.ratios = ratios;

    int code = DownloadRefusalCode(s);
    if (code != kDownloadAllowed) {
        std::string text;
        int display = 0;
        switch (code) {
        case kDailyLimit: display = 660; text = FormatText(485, int(c.DownloadLimitKB)); break;
        case kFileRatio: display = 656; text = FormatText(486, 0, int(c.FileRatio)); break;
        case kTimeLeft: display = 662; text = FormatText(487, int(s.minutesLeft)); break;
        default: display = 657; text = FormatText(488, int(c.ByteRatio)); break;
        }
        if (DisplayFile(1, GetText(display)) == -1) PutColorText(text, true, true, 0, kColorWarning);
        ResetAttributes();
        TimedPause(4);
        return 0;
    }

    ClearOrNewLine();
    auto value = [](const std::string& words, const std::string& v) {
        SetColorPair(kColorNormal);
        PutString(words);
        SetColorPair(kColorKeys);
        PutString(v);
    };
    value(GetText(489), std::to_string(files));
    value(GetText(490), std::to_string(bytes));
    value(GetText(491), FormatText(492, int(s.minutesNeeded), bps));
    ResetAttributes();
    PutLine();
    return 1;
}

int ParseDownloadLog(const std::vector<std::string>& paths, const ProtocolDef& protocol, int& files,
                     int64_t& bytes) {
    files = 0;
    bytes = 0;
    std::ifstream in(protocol.LogFile);
    if (!in) {
        LogText(500, protocol.LogFile);
        return 0;
    }
    const std::string& keyword = protocol.DownloadKeyword;
    std::string line;
    const std::string* last = nullptr;
    // A file the log names again (a protocol that tried it twice) is one
    // file of the batch, counted once.
    std::vector<bool> counted(paths.size(), false);
    while (std::getline(in, line)) {
        if (line.size() > 254) line.resize(254);
        size_t at = line.find(keyword);
        if (at == std::string::npos) continue;
        TrimRight(line);
        long start = long(at + keyword.size()) + protocol.DownloadNameOffset;
        if (start < 0 || size_t(start) >= line.size()) continue;
        std::string name = line.substr(size_t(start));
        name = name.substr(0, name.find_first_of(" \t"));
        std::string base = BaseNameOf(name);
        for (size_t i = 0; i < paths.size(); ++i) {
            const std::string& p = paths[i];
            if (BaseNameOf(p) != base) continue;
            if (last != nullptr && last != &p) LogText(499, protocol.ProtocolName, *last);
            last = &p;
            if (!counted[i]) {
                counted[i] = true;
                bytes += std::max<int64_t>(FileSize(p), 0);
                ++files;
            }
            break;
        }
    }
    // The file named last was the one on the line when the transfer broke.
    if (last != nullptr) {
        bytes -= std::max<int64_t>(FileSize(*last), 0);
        --files;
    }
    return files > 0 ? 1 : 0;
}

std::string TransferCommandLine(const std::string& program, const std::string& arguments,
                                const std::vector<std::string>& names, bool creditTime, size_t& used) {
    std::string line = program + " ";
    if (!arguments.empty()) line += arguments + " ";
    const std::string codes = creditTime ? "*&*!" : "*&";
    used = 0;
    for (const std::string& name : names) {
        std::string word = TransferWord(name);
        if (line.size() + word.size() + 1 + codes.size() > kCommandRoom) break;
        line += word + " ";
        ++used;
    }
    return line + codes;
}

std::string TransferDirectory(const std::string& argument, int& area, int logText) {
    std::string directory = FileAreaArgument(argument, area);
    if (IsAreaNumberArgument(argument) && area < 0) return {};  // the caller has been told
    if (directory.empty() || !IsDirectory(directory)) {
        LogText(logText, directory);
        PutColorText(GetText(503), true, false, 2, kColorWarning);
        return {};
    }
    return directory;
}

bool ProtocolProgramReady(const ProtocolDef& protocol) {
    const std::string& program = protocol.ProgramPath;
    int shown = 0;
    if (program.empty()) {
        LogText(483, protocol.ProtocolName);
        shown = 484;
    } else if (access(program.c_str(), X_OK) != 0) {
        shown = FileExists(program, kPlainPath) ? 482 : 481;
        LogText(508, program);
    }
    if (shown == 0) return true;
    PutColorText(GetText(shown), true, false, 4, kColorWarning);
    return false;
}

int RunDownload(const std::vector<std::string>& requested, int64_t bytes, int protocol, bool account) {
    if (protocol < 0 || protocol >= kProtocolCount) return 0;
    const ProtocolDef& p = Config().Protocols[size_t(protocol)];
    if (!ProtocolProgramReady(p)) return 0;

    // The program runs in the work directory: a relative name must still
    // name the file the caller chose.
    std::vector<std::string> paths;
    for (const std::string& r : requested) {
        std::error_code ec;
        std::filesystem::path full = std::filesystem::absolute(r, ec);
        paths.push_back(ec ? r : full.lexically_normal().string());
    }

    CallState& c = Call();
    if (ChangeTransferDir(0, c.LineNumber) == 0) {
        LogText(480);
        return 0;
    }
    if (p.WantsFileList != 0) WriteProtocolList(kDownload, p, paths);

    size_t used = 0;
    std::string command = TransferCommandLine(p.ProgramPath, p.DownloadArgs, paths, false, used);
    // Only what the command line holds is sent, charged and logged.
    if (used < paths.size()) {
        WriteLog("Only %d of %d files fit the command line of %s", int(used), int(paths.size()), p.ProtocolName);
        paths.resize(used);
        bytes = 0;
        for (const std::string& path : paths) bytes += std::max<int64_t>(FileSize(path), 0);
    }

    int status = -1;
    if (!paths.empty()) {
        PutColorText(GetText(475), true, false, 0, kColorTitle);
        c.PendingTransfer = uint16_t(protocol + 1000);
        status = RunExternal(0, 1, 0, command);
    } else {
        PutColorText(GetText(477), true, false, 2, kColorWarning);
    }

    if (status == 0) {
        for (const std::string& path : paths) LogText(478, p.ProtocolName, path);
        LogText(476, int(paths.size()), long(bytes));
        if (account) AccountTransfer(kDownload, int(paths.size()), bytes);
        PutColorText(GetText(479), true, false, 4, kColorWarning);
    } else {
        int files = 0;
        int64_t sent = 0;
        if (paths.size() > 1 && !p.LogFile.empty() && FileExists(p.LogFile, kPlainPath) &&
            ParseDownloadLog(paths, p, files, sent)) {
            if (account) AccountTransfer(kDownload, files, sent);
            LogText(476, files, long(sent));
        }
        LogText(477);
        // A hang-up that cut the transfer ends the call here, while the
        // transfer is still marked, so its log is kept in the abort
        // directory rather than deleted below.
        LookForHangup();
        ActOnSignals();
    }

    c.PendingTransfer = kNoTransfer;
    if (!p.LogFile.empty()) unlink(p.LogFile.c_str());
    if (p.WantsFileList != 0 && !p.ListFile.empty()) unlink(p.ListFile.c_str());
    ChangeTransferDir(1, 0);
    return status == 0 ? 1 : 0;
}

}  // namespace kv::caller
