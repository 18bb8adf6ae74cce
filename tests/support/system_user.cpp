#include "tests/support/system_user.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include <fstream>
#include <sstream>

#include "common/process_info.h"
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
    KillProcesses();
    // -f: a process that ended but that nobody reaps (where no init
    // collects the dead) still counts as the user's.
    for (int tries = 0; tries < 20 && getpwnam(name_.c_str()) != nullptr; ++tries) {
        if (RunProgram({"/usr/sbin/userdel", "-f", name_}, "/").status == 0) break;
        usleep(250 * 1000);
    }
}

void ThrowAwayUser::KillProcesses() const {
    auto processes = [&] {
        std::vector<pid_t> found;
        if (DIR* d = opendir("/proc")) {
            while (dirent* e = readdir(d)) {
                pid_t pid = std::atoi(e->d_name);
                if (pid > 0 && ProcessUser(pid) == uid_) found.push_back(pid);
            }
            closedir(d);
        }
        return found;
    };
    // Killed ones of the test's own are collected; the others are gone
    // once they are zombies.
    WaitUntil([&] {
        bool left = false;
        for (pid_t pid : processes()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, WNOHANG);
            ProcessInfo info;
            if (ReadProcessInfo(pid, info) && info.state != 'Z') left = true;
        }
        return !left;
    });
}

void ThrowAwayUser::Own(const fs::path& tree) const {
    RunProgram({"/bin/chown", "-R", std::to_string(uid_) + ":" + std::to_string(gid_), tree.string()}, "/");
}

std::vector<std::string> ThrowAwayUser::As(const std::vector<std::string>& argv) const {
    std::vector<std::string> all = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid_),
                                    "--regid=" + std::to_string(gid_), "--clear-groups", "--"};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

std::unique_ptr<TempBoard> BoardOwnedBy(const ThrowAwayUser& owner) {
    auto board = std::make_unique<TempBoard>();
    fs::create_directory(board->root() / "state");
    fs::permissions(board->root() / "state", fs::perms(02770));
    owner.Own(board->root());
    return board;
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
