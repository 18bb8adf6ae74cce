#include "caller/areas/downloads.h"

#include <unistd.h>

#include <vector>

#include "caller/areas/file_areas.h"
#include "caller/areas/transfers.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {
namespace {

std::string BaseNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Waits for a key after text 104.
void PressAKey() {
    PutColorText(GetText(104), false, false, 0, kColorPrompt);
    GetKey();
    PutLine();
}

// The list of command 48: base name, dots to column 40, size.
void ShowListedFiles(const std::vector<std::string>& paths, int64_t total) {
    if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
    else PutLine();
    if (Call().ColorOn) SetForeground(3);
    std::string title = GetText(548);
    PutLine(title);
    ResetAttributes();
    RepeatChar('-', int(title.size()), true);
    for (const std::string& p : paths) {
        std::string name = BaseNameOf(p) + " ";
        SetColorPair(kColorHighlight);
        PutString(name);
        ResetAttributes();
        for (size_t col = name.size(); col < 40; ++col) PutChar('.');
        PutLine(" " + std::to_string(FileSize(p)) + " " + GetText(549));
    }
    RepeatChar('-', 55, true);
    PutLine(FormatText(552, int(paths.size()), long(total)));
}

}  // namespace

long NeededDownloadSpeed(int minDownloadSpeed) {
    switch (minDownloadSpeed) {
    case 0: return 300;
    case 1: return 1200;
    default: return 2400;
    }
}

void DownloadFiles(const std::string& argument, int mode) {
    const CallState& c = Call();
    long needed = NeededDownloadSpeed(Config().MinDownloadSpeed);
    long speed = GetLineSpeed();
    bool inHours = InTimeWindow(kDownloadHours) != 0;
    bool allowed = (speed >= needed && inHours) || c.User.SecurityLevel == kSysopLevel ||
                   (c.User.Options & USER_IGNORE_LIMITS) != 0;
    if (!allowed) {
        if (speed < needed) {
            PutColorText(FormatText(473, needed), true, false, 3, kColorWarning);
        } else if (!IsSysopLevel(c.User.SecurityLevel) && DisplayFile(1, GetText(627)) == -1) {
            const TimeWindow& w = Config().DownloadHours;
            PutColorText(FormatText(474, w.Start, w.End), true, false, 3, kColorWarning);
        }
        return;
    }
    if (mode == 0) DownloadFromArea(argument);
    else DownloadListed(argument);
}

void DownloadFromArea(const std::string& argument) {
    int area = -1;
    std::string directory = TransferDirectory(argument, area, 471);
    if (directory.empty()) return;
    if (area >= 0 && CanUseFileArea(area, kFileDownload) == 0) {
        PutColorText(GetText(429), true, false, 2, kColorWarning);
        return;
    }

    int protocol = ChooseProtocol(kDownload);
    if (protocol < 0) return;
    std::vector<std::string> names = AskTransferNames(kDownload, Config().Protocols[size_t(protocol)].Batch != 0);
    if (names.empty()) return;
    std::vector<std::string> paths = ExpandRequestedFiles(names, directory);
    if (paths.empty()) {
        PutColorText(GetText(470), true, false, 2, kColorWarning);
        return;
    }
    if (paths.size() > size_t(kMaxTransferNames)) paths.resize(kMaxTransferNames);
    int64_t total = ShowTransferList(paths, true);
    if (total == 0) return;

    // Send, send and log off, or cancel.
    std::string keys = GetText(720);
    if (keys.size() < 3) keys = "SLC";
    keys = UpperCase(keys);
    PutLine();
    int key = ChoicePrompt(GetText(719), true, true, true, false, keys);
    if (key == keys[2]) return;
    bool logOffAfter = key == keys[1];

    // An open area counts nothing against the ratios; a plain directory is
    // no open area.
    bool ratios = area < 0 || Config().FileAreas[size_t(area)].OpenArea == 0;
    if (CheckDownloadLimits(total, int(paths.size()), ratios) == 0) return;
    int sent = RunDownload(paths, total, protocol, ratios);

    if (logOffAfter && sent != 0) {
        LogText(721);
        DisplayFile(1, GetText(643));
        RestoreTtyMode();
        TerminateCall(kLogOffNormal, 51);
    }
}

void DownloadListed(const std::string& argument) {
    std::string trimmed(SkipBlanks(argument));
    TrimRight(trimmed);
    size_t blank = trimmed.find_first_of(" \t");
    std::string path = trimmed.substr(0, blank);
    bool ratios = true;
    if (blank != std::string::npos) {
        std::string option(SkipBlanks(std::string_view(trimmed).substr(blank)));
        LowerCase(option);
        if (option.rfind("/ratio=", 0) == 0 && option.substr(7) == "no") ratios = false;
    }

    // A directory and a name or pattern in it.
    std::vector<std::string> paths;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        std::string directory = slash == 0 ? "/" : path.substr(0, slash);
        std::string pattern = path.substr(slash + 1);
        if (!pattern.empty()) {
            for (std::string& p : ExpandRequestedFiles({pattern}, directory)) paths.push_back(std::move(p));
        }
    }
    if (paths.empty()) {
        PutLine(FormatText(723, argument.empty() ? std::string("(NULL)") : argument));
        PressAKey();
        return;
    }

    int64_t total = ShowTransferList(paths, false);
    ShowListedFiles(paths, total);
    if (ChoicePrompt(GetText(550), true, true, true, false, GetText(35)) != Call().YesKey) return;
    if (paths.size() > 1) {
        PutLine(FormatText(551, int(paths.size())));
        PutLine(GetText(553));
        PressAKey();
    }
    int protocol = ChooseProtocol(kDownload);
    if (protocol < 0) return;
    if (Config().Protocols[size_t(protocol)].Batch == 0 && paths.size() > 1) {
        paths.resize(1);
        total = ShowTransferList(paths, false);
    }
    if (CheckDownloadLimits(total, int(paths.size()), ratios) == 0) return;
    RunDownload(paths, total, protocol, true);
}

void DownloadByPath() {
    int protocol = ChooseProtocol(kDownload);
    if (protocol < 0) return;
    std::string path;
    AskInput(true, false, GetText(737), path, 75);
    if (path.empty() || path == kEscAnswer) return;
    if (!FileExists(path, kPlainPath)) {
        PutColorText(GetText(470), true, false, 3, kColorWarning);
        return;
    }
    const int64_t bytes = FileSize(path);
    if (CheckDownloadLimits(bytes, 1, true) == 0) return;
    RunDownload({path}, bytes, protocol, true);
}

}  // namespace kv::caller
