#include "tools/kvconsole/console_main.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fmt/format.h>

#include "common/board_owner.h"
#include "common/config_file.h"
#include "common/config_record.h"
#include "common/runtime.h"
#include "tools/kvconsole/console_name.h"
#include "tools/kvconsole/console_pty.h"
#include "tools/kvconsole/console_screen.h"
#include "tools/kvconsole/console_session.h"
#include "tools/kvconsole/relay.h"

namespace kv::console {
namespace {

int Refuse(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
}

}  // namespace

int ConsoleMain(const std::vector<std::string>& args) {
    KeepStandardDescriptorsOpen();
    if (args.size() > 1 || (!args.empty() && !args[0].empty() && args[0][0] == '-')) {
        std::fputs("usage: kvconsole [BOARD]\n", stderr);
        return 2;
    }
    if (!isatty(0) || !isatty(1)) return Refuse("The sysop's console needs a terminal.");
    // Run as root, the console is the board's owner's: the terminal it was
    // started in stays the sysop's, reached through the descriptors alone.
    const std::string board = args.empty() ? "." : args[0];
    std::string why;
    if (!BecomeBoardOwner(board, why)) return Refuse(why);
    if (chdir(board.c_str()) != 0) return Refuse(fmt::format("Cannot change to {}: {}", board, std::strerror(errno)));

    std::string file, bytes;
    if (!ReadConfigFileWhole(file, bytes)) return Refuse("Cannot load the BBS configuration -- please check!");
    SetConfig(DecodeConfig(reinterpret_cast<const uint8_t*>(bytes.data())));
    struct stat data;
    if (stat(Config().DataDir.c_str(), &data) != 0)
        return Refuse(fmt::format("Cannot find the board's directory {}: {}", Config().DataDir, std::strerror(errno)));
    KeepNewFilesFromOthers();

    InstallConsoleSignals();
    ConsolePty pty;
    if (!MakeConsolePty(data.st_gid, pty, why)) return Refuse(why);

    const SysopTerminal term = DecideSysopTerminal();
    auto screen = std::make_unique<ConsoleScreen>(0, 1, term);
    if (!screen->Start(why)) {
        CloseConsolePty(pty);
        return Refuse(why);
    }
    ConsoleClaim claim;
    Reload reload;
    if (!TakeConsole(pty.Name, claim, reload, why)) {
        screen->Finish();
        CloseConsolePty(pty);
        return Refuse(why);
    }
    // What the shared library reports (a user record it cannot read) goes
    // to the screen, once, rather than over it to standard error.
    std::string lastReport;
    SetLogWriter([&](std::string_view line) {
        if (line.empty() || line == lastReport) return;
        lastReport = line;
        screen->Say(line);
    });

    screen->Say("Pages ring here: SysopConsole is " + pty.Name + " while the console runs.");
    if (reload == Reload::kNoServer)
        screen->Say("The server is not running; it takes " + pty.Name + " from the configuration when it starts.");
    else if (reload == Reload::kFailed)
        screen->Say("The server did not take the reload request: the lines may page " + claim.Previous + ".");

    ConsoleSession session(*screen, pty, term, Config().BbsName + " - the sysop's console on /dev/" + pty.Name);
    int status = session.Run();

    // Whatever ended the console, the lines page what they paged before.
    bool givenBack = GiveBackConsole(claim, why);
    if (givenBack) screen->Say("SysopConsole is " + claim.Previous + " again.");
    SetLogWriter(nullptr);
    screen->Finish();
    CloseConsolePty(pty);
    if (!givenBack) {
        std::fprintf(stderr, "Cannot put SysopConsole back to %s: %s\n", claim.Previous.c_str(), why.c_str());
        return 1;
    }
    return status;
}

}  // namespace kv::console
