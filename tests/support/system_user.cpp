#include "tests/support/system_user.h"

#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/board.h"

namespace fs = std::filesystem;

namespace kv::test {

ThrowAwayUser::ThrowAwayUser(const std::string& tag, const std::string& shell, const std::string& home) {
    static int made = 0;
    name_ = "kv" + tag + std::to_string(getpid()) + "x" + std::to_string(made++);
    // useradd takes the lock of the user files, which another test's
    // useradd or userdel may hold this moment.
    RunResult r;
    for (int tries = 0; tries < 20; ++tries) {
        r = RunProgram({"/usr/sbin/useradd", "-M", "-U", "-s", shell, "-d", home, name_}, "/");
        if (r.status == 0 || getpwnam(name_.c_str()) != nullptr) break;
        usleep(250 * 1000);
    }
    if (passwd* pw = getpwnam(name_.c_str())) {
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
    }
}

ThrowAwayUser::~ThrowAwayUser() {
    if (!ok()) return;
    for (int tries = 0; tries < 20 && getpwnam(name_.c_str()) != nullptr; ++tries) {
        if (RunProgram({"/usr/sbin/userdel", name_}, "/").status == 0) break;
        usleep(250 * 1000);
    }
}

void ThrowAwayUser::Own(const fs::path& tree) const {
    RunProgram({"/bin/chown", "-R", std::to_string(uid_) + ":" + std::to_string(gid_), tree.string()}, "/");
}

bool CanMakeUsers() { return geteuid() == 0 && access("/usr/sbin/useradd", X_OK) == 0; }

uid_t ProcessUser(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) != 0) continue;
        std::istringstream fields(line.substr(4));
        long uid = -1;
        fields >> uid;
        return uid_t(uid);
    }
    return uid_t(-1);
}

}  // namespace kv::test
