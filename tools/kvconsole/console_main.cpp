#include "tools/kvconsole/console_main.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fmt/format.h>

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

// To minimise confusion, the standard descriptors are open before anything
// else is: a file opened later must never become one of them.
void KeepStandardDescriptorsOpen() {
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
}

std::string DirectoryOf(const std::string& file) {
    size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

// Root rewrites the configuration only where no other user may write:
// anywhere else the console is the board's user's business.
bool SafeForRoot(const std::string& file, std::string& why) {
    if (geteuid() != 0) return true;
    const std::string dir = DirectoryOf(file);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        why = dir + ": " + std::strerror(errno);
        return false;
    }
    bool othersWrite = (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
    if (st.st_uid == 0 && !othersWrite) return true;
    const passwd* owner = getpwuid(st.st_uid);
    why = fmt::format("{} is not root's alone: run the console as the board's user ({}).", dir,
                      owner != nullptr ? owner->pw_name : std::to_string(st.st_uid));
    return false;
}

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
    if (!args.empty() && chdir(args[0].c_str()) != 0)
        return Refuse(fmt::format("Cannot change to {}: {}", args[0], std::strerror(errno)));
    if (!isatty(0) || !isatty(1)) return Refuse("The sysop's console needs a terminal.");

    std::string file, bytes, why;
    if (!ReadConfigFileWhole(file, bytes)) return Refuse("Cannot load the BBS configuration -- please check!");
    SetConfig(DecodeConfig(reinterpret_cast<const uint8_t*>(bytes.data())));
    if (!SafeForRoot(file, why)) return Refuse(why);
    struct stat board;
    if (stat(Config().DataDir.c_str(), &board) != 0)
        return Refuse(fmt::format("Cannot find the board's directory {}: {}", Config().DataDir, std::strerror(errno)));
    KeepNewFilesFromOthers();

    InstallConsoleSignals();
    ConsolePty pty;
    if (!MakeConsolePty(board.st_gid, pty, why)) return Refuse(why);

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
