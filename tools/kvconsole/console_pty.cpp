#include "tools/kvconsole/console_pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kv::console {

bool MakeConsolePty(gid_t boardGroup, ConsolePty& pty, std::string& why) {
    auto fail = [&](const std::string& what) {
        why = what + ": " + std::strerror(errno);
        CloseConsolePty(pty);
        return false;
    };
    pty.Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.Master < 0) return fail("Cannot make a pseudo-terminal");
    char name[128];
    if (grantpt(pty.Master) != 0 || unlockpt(pty.Master) != 0 || ptsname_r(pty.Master, name, sizeof name) != 0)
        return fail("Cannot make a pseudo-terminal");
    pty.Slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.Slave < 0) return fail(std::string("Cannot open ") + name);
    termios t{};
    if (tcgetattr(pty.Slave, &t) != 0) return fail(std::string("Cannot read the modes of ") + name);
    cfmakeraw(&t);
    if (tcsetattr(pty.Slave, TCSANOW, &t) != 0) return fail(std::string("Cannot set the modes of ") + name);
    // The lines run as the board's user or group: the group may read and
    // write this terminal, nobody else.  The sysop's own stays as it is.
    if (fchown(pty.Slave, uid_t(-1), boardGroup) != 0 || fchmod(pty.Slave, 0660) != 0)
        return fail(std::string("Cannot open ") + name + " to the board's group (gid " + std::to_string(boardGroup) +
                    "; the console runs as the board's user or a member of its group)");
    fcntl(pty.Master, F_SETFL, fcntl(pty.Master, F_GETFL) | O_NONBLOCK);
    pty.Name = std::string(name).substr(std::strlen("/dev/"));
    return true;
}

void CloseConsolePty(ConsolePty& pty) {
    if (pty.Slave >= 0) close(pty.Slave);
    if (pty.Master >= 0) close(pty.Master);
    pty.Slave = pty.Master = -1;
}

}  // namespace kv::console
