#include "roster/main_menu.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/runtime.h"
#include "common/users.h"
#include "roster/menu_bar.h"
#include "roster/screen.h"
#include "roster/setup.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

// Every entry whose command is not built yet says so, here and only here.
int NotYet() {
    ShowStatusMessage("Not available in this version");
    return 0;
}

std::vector<MenuItem> MainMenuTable() {
    return {
        {" Browse ", "Browse the list to select a record", NotYet},
        {" Next ", "Display next page", NotYet},
        {" Previous ", "Display previous page", NotYet},
        {" Top ", "Go to fisrt user record", NotYet},
        {" Bottom ", "Go to last user record", NotYet},
        {" Comment ", "Edit comment/contrib./UUCP related", NotYet},
        {" Setup ", "Configure the program", RosterSetup},
        {" Edit ", "Edit selected record", NotYet},
        {" Find ", "Find a selected record", NotYet},
        {" Sort ", "Sort the user list", NotYet},
        {" Delete ", "Delete selected/marked users", NotYet},
        {" Pack ", "Rewrite the users database", NotYet},
        {" Add ", "Add a new blank record", NotYet},
        {" Validate ", "Validate selected/marked users", NotYet},
        {" Last read ", "Edit last read record", NotYet},
        {" Toggle ", "Toggle selected fields in window", NotYet},
        {" Global ", "Edit fields globally", NotYet},
        {" Reports ", "Make reports to file/screen/printer", NotYet},
        {" Move ", "Move a record", NotYet},
        {" Utils ", "Externals programs and utilities", NotYet},
        {" Stats ", "Show stats about the users base", NotYet},
        {" Reset ", "Reset user limits", NotYet},
        {" On-Line ", "Show who is on-line now", NotYet},
        {" Marked ", "Mark/Unmark records", NotYet},
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
    ShowHelpLine(kHelpMenu);
}

void RunUserEditor() {
    int fd = open(UsersPath().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        PopupAck(10, 11, "You must use 'Kivo' at least once before using 'Kvroster'");
        return;
    }
    close(fd);
    RunMainMenu();
}

}  // namespace kv::roster
