#include "caller/areas/uploads.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_entries.h"
#include "caller/areas/transfers.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {
namespace {

bool IsPlainByte(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '.' ||
           ch == '_' || ch == '-';
}

std::string AbortDir() { return Config().WorkDir + "/abort"; }

bool MakeAbortDir() { return MakeReceivingDir(AbortDir()); }

// A name in directory that nothing holds yet: name itself, else name.1,
// name.2, ...  A rescue never replaces what an earlier one kept.
std::string FreeNameIn(const std::string& directory, const std::string& name) {
    std::string target = directory + "/" + name;
    for (int n = 1; std::filesystem::symlink_status(target).type() != std::filesystem::file_type::not_found; ++n)
        target = directory + "/" + name + "." + std::to_string(n);
    return target;
}

// The minutes of a transfer charged to the call after all: taken off its
// time and added to the minutes used today.
void ChargeMinutes(int minutes) {
    CallState& c = Call();
    c.CallMinutes = int16_t(c.CallMinutes - minutes);
    c.User.MinutesToday = int16_t(c.User.MinutesToday + minutes);
}

bool ExistsHere(const std::string& name) {
    return std::filesystem::symlink_status(name).type() != std::filesystem::file_type::not_found;
}

// A duplicate goes to the abort directory and the caller is told.
void PutAsideDuplicate(const std::string& name, int area) {
    if (MakeAbortDir()) MoveFile(name, FreeNameIn(AbortDir(), name));
    PutColorText(FormatText(680, name, area), true, false, 0, kColorWarning);
    PutColorText(GetText(420), false, false, 0, kColorPrompt);
    GetKey();
    PutLine();
}

}  // namespace

bool UploadNameIsPlain(std::string_view name) {
    if (name.empty() || name[0] == '.' || name[0] == '-') return false;
    for (char ch : name) {
        if (!IsPlainByte(ch)) return false;
    }
    return true;
}

std::string PlainUploadName(std::string_view name) {
    std::string plain(name);
    for (char& ch : plain) {
        if (!IsPlainByte(ch)) ch = '_';
    }
    if (!plain.empty() && (plain[0] == '.' || plain[0] == '-')) plain[0] = '_';
    return plain;
}

std::string AreaUploadName(const std::string& name, int caseByte) {
    if (caseByte == 0) return name;
    std::string changed = name;
    if (caseByte == 1) UpperCase(changed);
    else LowerCase(changed);
    size_t dot = changed.rfind('.');
    std::string base = changed.substr(0, dot), ext = dot == std::string::npos ? "" : changed.substr(dot + 1);
    if (base.empty()) base = "_";
    return base.substr(0, 8) + (ext.empty() ? "" : "." + ext.substr(0, 3));
}

std::string RescuedLogName(const std::string& logPath, int pid) {
    std::string base = logPath.substr(logPath.rfind('/') + 1);
    size_t dot = base.rfind('.');
    return (dot == std::string::npos ? base : base.substr(0, dot)) + "." + std::to_string(pid);
}

int FindDuplicate(const std::string& name) {
    std::string base = name.substr(name.rfind('/') + 1);
    std::string lower = base, upper = base;
    LowerCase(lower);
    UpperCase(upper);
    for (int area = 0; area < kFileAreaCount; ++area) {
        const FileAreaDef& a = Config().FileAreas[size_t(area)];
        if (a.AreaDefined == 0 || a.AreaDir.empty()) continue;
        for (const std::string* n : {&base, &lower, &upper}) {
            if (FileExists(a.AreaDir + "/" + *n, kPlainPath)) return area;
        }
    }
    return -1;
}

void RescueAbortedFiles(int kind, int protocol, bool hangup) {
    struct sigaction ignore{}, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, &before);

    if (MakeAbortDir() && protocol >= 0 && protocol < kProtocolCount) {
        const ProtocolDef& p = Config().Protocols[size_t(protocol)];
        std::string workDir = TransferDirName(Call().LineNumber);
        // A relative log is the program's, in the work directory.
        std::string log = p.LogFile.empty() || p.LogFile[0] == '/' ? p.LogFile : workDir + "/" + p.LogFile;
        if (!log.empty() && FileExists(log, kPlainPath)) {
            MakeReceivedPlain(log);
            if (MoveFile(log, FreeNameIn(AbortDir(), RescuedLogName(log, int(getpid())))) != 0) LogText(511, log);
        }
        if (kind == kUpload) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(workDir, ec)) {
                std::string name = entry.path().filename().string();
                MakeReceivedPlain(entry.path().string());
                if (!ExistsHere(entry.path().string())) continue;  // not a file, not kept
                if (MoveFile(entry.path().string(), FreeNameIn(AbortDir(), name)) != 0) LogText(512, name);
            }
        }
    }
    if (!hangup) sigaction(SIGHUP, &before, nullptr);
}

int ProcessUploads(const std::vector<std::string>& names, const std::string& directory, int area, int protocol,
                   int& files, int64_t& bytes) {
    files = 0;
    bytes = 0;
    const ProtocolDef& p = Config().Protocols[size_t(protocol)];
    std::vector<std::string> received;
    if (names.empty()) {
        for (const std::string& name : ExpandPattern("*", false, ".")) {
            // The protocol's own files, not a received file whose name
            // happens to lie inside their paths.
            if (IsProtocolFile(name, p.LogFile) || IsProtocolFile(name, p.ListFile)) continue;
            received.push_back(name);
        }
        if (received.empty()) {
            LogText(509);
            return 0;
        }
    } else {
        for (const std::string& name : names) {
            if (FileExists(name, kPlainPath)) received.push_back(name);
        }
    }

    int result = 1;
    const int caseByte = area >= 0 ? Config().FileAreas[size_t(area)].UploadNameCase : 0;
    for (const std::string& got : received) {
        // From here on the file has a name nothing can misread.
        std::string name = PlainUploadName(got);
        if (name != got) {
            if (ExistsHere(name) || MoveFile(got, name) != 0) {
                PutAsideDuplicate(got, -1);
                result = -1;
                continue;
            }
        }
        std::string cased = AreaUploadName(name, caseByte);
        if (cased != name) {
            if (ExistsHere(cased) || MoveFile(name, cased) != 0) {
                PutAsideDuplicate(name, -1);
                result = -1;
                continue;
            }
            name = cased;
        }
        // Never over a file the directory already holds, in any area or
        // under this very name, nor as the list an area is listed from.
        int duplicate = FindDuplicate(name);
        bool list = IsFileListName(name, directory, area);
        if (list && duplicate < 0) duplicate = area;
        if (duplicate >= 0 || list || ExistsHere(directory + "/" + name)) {
            PutAsideDuplicate(name, duplicate);
            result = -1;
            continue;
        }

        std::string description;
        if (p.UploadKeyword.empty() || DescriptionFromList(got, protocol, description) == 0)
            AskFileDescription(name, description);

        int64_t size = std::max<int64_t>(FileSize(name), 0);
        if (Config().TouchUploads != 0) TouchFile(name);
        if (MoveFile(name, directory + "/" + name) != 0) {
            WriteLog("Cannot move %s into %s", name, directory);
            PutAsideDuplicate(name, area);
            result = -1;
            continue;
        }
        // The entry only once the file is there.
        if (!description.empty() && description[0] == '/') LogPrivateUpload(name, directory, description);
        else AddFileEntry(name, directory, description, area);
        LogText(510, p.ProtocolName, directory, name);
        ++files;
        bytes += size;
    }
    return files == 0 && result == 1 ? 0 : result;
}

void RunUpload(int protocol, const std::string& directory, int area) {
    if (protocol < 0 || protocol >= kProtocolCount) return;
    const ProtocolDef& p = Config().Protocols[size_t(protocol)];
    if (!ProtocolProgramReady(p)) return;
    // The program runs in the work directory: the target must not depend
    // on where we were.
    std::error_code ec;
    std::string target = std::filesystem::absolute(directory, ec).lexically_normal().string();
    if (ec) target = directory;

    CallState& c = Call();
    if (ChangeTransferDir(0, c.LineNumber) == 0) {
        PutColorText(GetText(503), true, false, 3, kColorWarning);
        return;
    }
    EmptyTransferDir();

    std::vector<std::string> names;
    bool ask = p.Batch == 0 || p.WantsFileList != 0;
    if (ask) names = AskTransferNames(kUpload, p.Batch != 0);
    if (!ask || !names.empty()) {
        if (p.WantsFileList != 0) WriteProtocolList(kUpload, p, names);
        const bool credit = Config().UploadCredit > 0;
        size_t used = 0;
        std::string command = TransferCommandLine(p.ProgramPath, p.UploadArgs, names, credit, used);
        names.resize(used);
        time_t started = Now();
        PutColorText(GetText(505), true, false, 0, kColorTitle);
        c.PendingTransfer = uint16_t(protocol);
        int status = (ask && names.empty()) ? -1 : RunReceivingProgram(command);
        int minutes = int((Now() - started) / 60);

        if (status != 0) {
            if (credit) ChargeMinutes(minutes);
            RescueAbortedFiles(kUpload, protocol, false);
            LogText(477);
            PutColorText(GetText(477), true, false, 2, kColorWarning);
        } else {
            PutColorText(GetText(507), false, false, 0, kColorPrompt);
            GetKey();
            PutLine();
            int files = 0;
            int64_t bytes = 0;
            int result = ProcessUploads(names, target, area, protocol, files, bytes);
            if (result != 0) {
                LogText(476, files, long(bytes));
                AccountTransfer(kUpload, files, bytes);
            }
            if (result == 1 && Config().UploadCredit > 1) {
                int extra = Config().UploadCredit * minutes / 60;
                c.CallMinutes = int16_t(c.CallMinutes + extra);
                c.User.MinutesToday = int16_t(c.User.MinutesToday - extra);
            } else if (result == -1 && credit) {
                ChargeMinutes(minutes);
            }
        }
    }

    c.PendingTransfer = kNoTransfer;
    if (!p.LogFile.empty()) unlink(p.LogFile.c_str());
    if (p.WantsFileList != 0 && !p.ListFile.empty()) unlink(p.ListFile.c_str());
    ChangeTransferDir(1, 0);
}

void UploadFiles(const std::string& argument) {
    const ConfigRecord& cfg = Config();
    if (int64_t(cfg.MinFreeSpace) >= int64_t(FreeDiskSpace(cfg.WorkDir))) {
        if (DisplayFile(1, GetText(664)) == -1) {
            if (Call().ColorOn) SetColorPair(kColorWarning);
            else SetBold();
            SetBlink();
            PutLine(GetText(694));
            ResetAttributes();
        }
        TimedPause(4);
        return;
    }

    int area = -1;
    std::string directory = TransferDirectory(argument, area, 502);
    if (directory.empty()) return;
    int protocol = ChooseProtocol(kUpload);
    if (protocol < 0) return;
    RunUpload(protocol, directory, area);
}

}  // namespace kv::caller
