#include "roster/roster_main.h"

#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/config_file.h"
#include "common/cp437.h"
#include "common/runtime.h"
#include "roster/main_menu.h"
#include "roster/roster_log.h"
#include "roster/screen.h"
#include "roster/session.h"

namespace kv::roster {

RosterOptions ParseRosterOptions(std::vector<std::string> args) {
    RosterOptions o;
    // args[0] is the program name: "more than one argument" counts it.
    while (args.size() > 1 && args[1].size() > 0 && args[1][0] == '-') {
        if (args[1].size() > 1 && args[1][1] == 'v') {
            o.printVersion = true;
            return o;
        }
        args.erase(args.begin() + 1);
    }
    return o;
}

bool LoadRosterConfig() {
    auto slot = std::make_unique<ConfigBytes>();
    if (!LoadConfigBytes(*slot)) return false;
    SetConfig(DecodeConfig(slot->data()));
    return true;
}

int RosterMain(int argc, char** argv) {
    std::signal(SIGQUIT, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    KeepNewFilesFromOthers();
    if (argc > 1 && ParseRosterOptions(std::vector<std::string>(argv, argv + argc)).printVersion) {
        std::printf("%s\n", kVersionBanner);
        return 0;
    }
    if (!LoadRosterConfig()) {
        std::fputs("Cannot load kivo configuration\n", stderr);
        return 1;
    }
    // Before the screen starts, so that nothing the shared library reports
    // goes to standard error over it.
    OpenRosterLog(Config().DataDir);
    if (chdir(Config().DataDir.c_str()) != 0) RosterLog("Cannot change to %s", Config().DataDir);
    std::setlocale(LC_ALL, "");
    // A terminal whose locale names UTF-8 speaks it even where that locale
    // is not installed here: curses then reads and writes with the one
    // that always is.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0 &&
        OwnLocaleNamesUtf8())
        std::setlocale(LC_CTYPE, "C.UTF-8");

    std::string why;
    if (!InitCurses(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    int status = 0;
    try {
        LoadRosterSettings();
        DrawFrame();
        RunUserEditor();
    } catch (const TerminalLost&) {
        RosterLog("The terminal was lost; kvroster ends");
        status = 1;
    }
    EndScreen();
    return status;
}

}  // namespace kv::roster
