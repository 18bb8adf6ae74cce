#include "caller/call/menu_commands.h"

#include <string>

#include "caller/areas/archive_view.h"
#include "caller/areas/area_choice.h"
#include "caller/areas/downloads.h"
#include "caller/areas/enter_message.h"
#include "caller/areas/file_entries.h"
#include "caller/areas/file_listing.h"
#include "caller/areas/file_search.h"
#include "caller/areas/mail_check.h"
#include "caller/areas/message_delete.h"
#include "caller/areas/news_groups.h"
#include "caller/areas/news_reader.h"
#include "caller/areas/read_command.h"
#include "caller/areas/screen_codes.h"
#include "caller/areas/uploads.h"
#include "caller/call/callers_log.h"
#include "caller/call/line_chat.h"
#include "caller/call/login.h"
#include "caller/call/questionnaire.h"
#include "caller/call/registration.h"
#include "caller/call/text_display.h"
#include "caller/call/usage_graph.h"
#include "caller/call/user_list.h"
#include "caller/call/user_settings.h"
#include "caller/term/display_file.h"
#include "caller/term/external_programs.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"

namespace kv::caller {

void DoMenuCommand(int code, MenuRecord line) {
    const std::string& arg = line.Argument;
    switch (code) {
    case 5:
    case 40: DisplayFile(1, arg); break;
    case 6: ShowBulletins(arg); break;
    case 7: RunExternal(1, 0, 0, arg); break;
    case 8: ShowCredits(); break;
    case 10: ShowUsageGraph(arg); break;
    case 11: PageSysop(); break;
    case 12: RunQuestionnaire(arg); break;
    case 13: ListUsers(); break;
    case 14: ShowCallStatus(); break;
    case 16: ChangeLocation(); break;
    case 17: ChangePassword(false); break;
    case 18: SetScreenLength(); break;
    case 19: ToggleClearScreen(); break;
    case 20: TogglePageBreak(); break;
    case 21: ToggleColor(); break;
    case 22: CheckMail(); break;
    case 23:
    case 24:
    case 25: ReadMessagesCommand(arg, code - 23); break;
    case 26: DeleteMessageByNumber(arg); break;
    case 27: EnterMessage(arg, nullptr, 0); break;
    case 28: SelectScanAreas(); break;
    case 29: SysopMoveFile(arg); break;
    case 30:
    case 31: ListFiles(arg, code - 30); break;
    case 32: DownloadFiles(arg, 0); break;
    case 48: DownloadFiles(arg, 1); break;
    case 33: UploadFiles(arg); break;
    case 34: ViewArchive(arg); break;
    case 35:
    case 36: SearchFiles(code - 35); break;
    case 37: ShowNewFiles(arg); break;
    case 38: TypeTextFile(arg); break;
    case 39: ShowFileAndWait(arg, false, false); break;
    case 45: ShowFileAndWait(arg, true, true); break;
    case 46: ShowFileAndWait(arg, true, false); break;
    case 41: ToggleFullScreenEditor(); break;
    case 42: ToggleHotKeys(); break;
    case 43: ShowAreaSummary(); break;
    case 44: SetAllScanAreas(); break;
    case 47: StampLog(arg); break;
    case 49:
    case 50: ChooseCurrentArea(code); break;
    case 51: ListCallers(arg); break;
    case 52: WhoIsOnline(); break;
    case 53: ToggleDoNotDisturb(); break;
    case 54: RequestChat(); break;
    case 55: DownloadByPath(); break;
    case 57: ChangeHomePhone(); break;
    case 58: ChangeDataPhone(); break;
    case 59: ToggleAnsi(); break;
    case 60: SetClearScreenCodes(); break;
    case 61: SwitchMessageFile(arg); break;
    case 62: SysopRemoveFile(arg); break;
    case 63: ReadNews(); break;
    case 64: SubscribeNewsGroups(1); break;
    default: break;  // 15, 56, 65-68 and codes without a command
    }
}

}  // namespace kv::caller
