// Stand-ins for the menu commands of pieces still to come; see command_stubs.h.
#include "caller/core/command_stubs.h"

#include "caller/core/call_state.h"
#include "common/config_record.h"
#include "common/runtime.h"

namespace kv::caller {

void ShowCredits() {}
void ShowUsageGraph(const std::string&) {}
void ListUsers() {}
void ListCallers(const std::string&) {}

void ChangeLocation() {}
void SetScreenLength() {}
void ToggleClearScreen() {}
void TogglePageBreak() {}
void ToggleColor() {}
void ToggleFullScreenEditor() {}
void ToggleHotKeys() {}
void ToggleDoNotDisturb() {}
void ChangeHomePhone() {}
void ChangeDataPhone() {}
void ToggleAnsi() {}
void SetClearScreenCodes() {}

void DeleteMessageByNumber(const std::string&) {}
void SelectScanAreas() {}
void ShowAreaSummary() {}
void SetAllScanAreas() {}
int ChooseCurrentArea(int) { return 0; }
void SwitchMessageFile(const std::string&) {}

void SysopMoveFile(const std::string&) {}
void ListFiles(const std::string&, int) {}
void DownloadFiles(const std::string&, int) {}
void UploadFiles(const std::string&) {}
void ViewArchive(const std::string&) {}
void SearchFiles(int) {}
void ShowNewFiles(const std::string&) {}
void DownloadByPath() {}
void SysopRemoveFile(const std::string&) {}

void TypeTextFile(const std::string&) {}

void WhoIsOnline() {}
void RequestChat() {}
void ReadNews() {}
void SubscribeNewsGroups(int) {}

namespace {

// The caller's level and flags against an area's (signed comparison).
bool Grants(int32_t level, const FlagGroups& flags) {
    const UserRecord& u = Call().User;
    return level <= u.SecurityLevel && HasAllFlags(u.Flags, flags);
}

}  // namespace

int CanUseFileArea(int area, int mode) {
    if (area < 0 || area >= kFileAreaCount) return 0;
    const FileAreaDef& a = Config().FileAreas[size_t(area)];
    if (a.AreaDefined == 0) return 0;
    if (a.OpenArea != 0) return 1;
    if (!Grants(a.ListLevel, a.ListFlags)) return 0;
    return mode == 1 ? Grants(a.DownloadLevel, a.DownloadFlags) : 1;
}

}  // namespace kv::caller
