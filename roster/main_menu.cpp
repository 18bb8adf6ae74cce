#include "roster/main_menu.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/runtime.h"
#include "common/users.h"
#include "common/lastread.h"
#include "common/msgbase.h"
#include "roster/browse.h"
#include "roster/commands.h"
#include "roster/find.h"
#include "roster/menu_bar.h"
#include "roster/record_form.h"
#include "roster/session.h"
#include "roster/screen.h"
#include "roster/reports.h"
#include "roster/setup.h"
#include "roster/utilities.h"
#include "roster/validate.h"
#include "roster/widgets.h"

namespace kv::roster {

namespace {

std::vector<MenuItem> MainMenuTable() {
    return {
        {" Browse ", "Browse the list to select a record", BrowseList},
        {" Next ", "Display next page", NextPage},
        {" Previous ", "Display previous page", PreviousPage},
        {" Top ", "Go to fisrt user record", TopRecord},
        {" Bottom ", "Go to last user record", BottomRecord},
        {" Comment ", "Edit comment/contrib./UUCP related", CommentFromMenu},
        {" Setup ", "Configure the program", RosterSetup},
        {" Edit ", "Edit selected record", EditRecordFromMenu},
        {" Find ", "Find a selected record", FindFromMenu},
        {" Sort ", "Sort the user list", SortUsers},
        {" Delete ", "Delete selected/marked users", DeleteUsers},
        {" Pack ", "Rewrite the users database", PackUsers},
        {" Add ", "Add a new blank record", AddBlankRecord},
        {" Validate ", "Validate selected/marked users", ValidateFromMenu},
        {" Last read ", "Edit last read record", LastReadFromMenu},
        {" Toggle ", "Toggle selected fields in window", NextLayout},
        {" Global ", "Edit fields globally", GlobalEdit},
        {" Reports ", "Make reports to file/screen/printer", RunReports},
        {" Move ", "Move a record", MoveUser},
        {" Utils ", "Externals programs and utilities", RunUtilities},
        {" Stats ", "Show stats about the users base", ShowStatistics},
        {" Reset ", "Reset user limits", ResetLimits},
        {" On-Line ", "Show who is on-line now", ShowOnline},
        {" Marked ", "Mark/Unmark records", MarkRecords},
    };
}

}  // namespace

int RunMainMenu() {
    ShowHelpLine(kHelpMenu);
    MainMenuKeys keys;
    keys.next = 1;
    keys.previous = 2;
    keys.top = 3;
    keys.bottom = 4;
    return RunMenuBar(MainMenuTable(), 6, Windows().status, 0, 0, 0, true, keys);
}

void RedrawMainScreen() {
    TouchAll();
    BrowseState& b = Browser();
    b.base.FetchAt(b.currentPos, b.current);
    if (b.base.count() > 0) ShowCurrentLine(b.currentPos);
    ShowListPage(b.top);
    ShowColumnHeader(State().layout);
    ShowHelpLine(kHelpMenu);
}

bool OpenUserFiles() {
    int fd = open(UsersPath().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    // A board that never had a caller lacks "lastread.bbs"; it starts empty.
    std::string lastRead = Config().MsgBaseDir + "/" + kLastReadFile;
    fd = open(lastRead.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return true;
}

void RunUserEditor() {
    // A rewrite of the user files that a crash interrupted is finished
    // (the message-base lock does so) before anything is read.
    { MsgBaseLock finish; }
    if (!OpenUserFiles()) {
        PopupAck(10, 11, "You must use 'Kivo' at least once before using 'Kvroster'");
        return;
    }
    BrowseState& b = Browser();
    if (!b.base.BuildIndex()) return;
    ShowColumnHeader(State().layout);
    ShowRecord(0);
    RunMainMenu();
}

}  // namespace kv::roster
