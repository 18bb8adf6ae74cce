#include "tools/kvline/line_entry.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/process_info.h"
#include "common/board_owner.h"
#include "common/config_file.h"
#include "common/line_table.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "common/safe_open.h"
#include "common/whole_file.h"
#include "tools/kvline/owner_relay.h"

namespace fs = std::filesystem;

namespace kv::line {
namespace {

constexpr const char* kUsage =
    "usage: kvline [--bin DIR] BOARD | kvline --in-use BOARD | kvline --owner DIR\n"
    "       kvline --as-owner DIR COMMAND [ARG...] | kvline --as-owner-on-pty DIR COMMAND [ARG...]";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string OwnPath() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("./kvline") : self.string();
}

void Nothing(int) {}

// Hang-up, Ctrl-C and a kill reach kivo as well; the entry waits for it to
// end and then frees the line.  A handler, not SIG_IGN: kivo must get the
// signals' own actions back when it starts.
void OutlastTheCall() {
    struct sigaction sa {};
    sa.sa_handler = Nothing;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaction(sig, &sa, nullptr);
}

bool Lock(int fd, int how) {
    while (flock(fd, how) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// A line's claim and its entry in online.ctl once its call has ended.
class LineHold {
public:
    LineHold(int lockFd, std::string state) : lockFd_(lockFd), state_(std::move(state)) {}
    std::string ClaimPath() const { return state_ + "/line." + std::to_string(line_); }

    bool Take(int line, std::string& why) {
        line_ = line;
        std::string me = std::to_string(getpid()) + " " + ProcessStartTime(getpid()) + "\n";
        // Renamed into place: a link put where the claim goes is replaced,
        // never written through.
        return WriteFileWhole(ClaimPath(), me, &why);
    }
    void Free() {
        if (line_ < 0) return;
        Lock(lockFd_, LOCK_EX);
        // A kivo that was killed left its entry in use: cleared, so that
        // the line reads as free to every other line at once.
        OnlineEntry e;
        if (ReadOnlineEntry(line_, e) && e.Pid != -1 && !KivoLive(e.Pid)) WriteOnlineEntry(line_, OnlineEntry{});
        unlink(ClaimPath().c_str());
        Lock(lockFd_, LOCK_UN);
        line_ = -1;
    }

private:
    int lockFd_;
    std::string state_;
    int line_ = -1;
};

// The state directory, made open to the board's group (the sysop and the
// callers' account share it) with new files in that group.
bool MakeStateDirectory(const std::string& board, const std::string& state, std::string& why) {
    if (mkdir(state.c_str(), 02770) != 0) {
        if (errno == EEXIST) return true;
        why = "cannot make " + state + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    int fd = open(state.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (stat(board.c_str(), &st) == 0) (void)fchown(fd, uid_t(-1), st.st_gid);
        // mkdir's mode went through the umask, and a change of group
        // clears the set-group bit.
        (void)fchmod(fd, 02770);
        close(fd);
    }
    return true;
}

int RunKivo(const std::string& bin) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string kivo = bin + "/kivo";
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "kvline: cannot start %s: %s\n", kivo.c_str(), std::strerror(errno));
        return 1;
    }
    if (pid == 0) {
        execl(kivo.c_str(), kivo.c_str(), static_cast<char*>(nullptr));
        std::fprintf(stderr, "kvline: cannot run %s: %s\n", kivo.c_str(), std::strerror(errno));
        _exit(127);
    }
    return WaitFor(pid);
}

int Call(const std::string& board, const std::string& bin) {
    std::string state = board + "/state", why;
    if (!MakeStateDirectory(board, state, why)) {
        std::fprintf(stderr, "kvline: %s\n", why.c_str());
        return 1;
    }
    const char* device = ttyname(STDIN_FILENO);
    if (device == nullptr) {
        std::fputs("The board needs a terminal: call it with ssh -t.\n", stderr);
        return 1;
    }
    std::string tty = device;
    if (tty.rfind("/dev/", 0) == 0) tty.erase(0, 5);
    OutlastTheCall();

    int lock = OpenNoFollow(state + "/lock", O_WRONLY | O_APPEND | O_CREAT, FileKindWanted::kRegular, &why);
    if (lock < 0 || !Lock(lock, LOCK_EX)) {
        std::fprintf(stderr, "kvline: %s\n", lock < 0 ? why.c_str() : std::strerror(errno));
        return 1;
    }
    std::string lines = Config().DataDir + "/" + kLineTableFile;
    std::string table = ReadAll(lines);
    int line = ChooseLine(state, CountLineEntries(table));
    if (line < 0) {
        std::fputs("Every line of the board is taken; call again later.\n", stderr);
        return 1;
    }
    LineHold hold(lock, state);
    // The terminal goes into the line's entry: the whole file is written
    // anew and renamed into place, so kivo starting on another line reads
    // the old file or the new one, never half of one.
    if (!hold.Take(line, why) || !WriteFileWhole(lines, SetLineDevice(table, line, tty), &why)) {
        std::fprintf(stderr, "kvline: %s\n", why.c_str());
        Lock(lock, LOCK_UN);
        hold.Free();
        return 1;
    }
    Lock(lock, LOCK_UN);

    std::printf("This terminal (%s) is line %d.\n", tty.c_str(), line);
    int status = RunKivo(bin);
    hold.Free();
    return status;
}

int InUse(const std::string& board) {
    int count = CountLineEntries(ReadAll(Config().DataDir + "/" + kLineTableFile));
    for (int i = 0; i < count && i < kLineTableMax; ++i)
        if (LineBusy(board + "/state", i)) return 0;
    return 1;
}

int Owner(const std::string& given) {
    if (geteuid() != 0) return 0;
    uid_t uid;
    gid_t gid;
    std::string why;
    if (!BoardOwnerFor(given, uid, gid, why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    if (uid != 0) std::printf("%u %u\n", unsigned(uid), unsigned(gid));
    return 0;
}

int OnOwnTerminal(uid_t uid, gid_t gid, const std::vector<std::string>& command) {
    std::string why;
    int status = RunOnOwnTerminal(uid, gid, command, why);
    if (status >= 0) return status;
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
}

// Root's way to the board of another user's: the command runs as that
// user, root's process relays.
int AsOwner(const LineOptions& o) {
    uid_t uid;
    gid_t gid;
    std::string why;
    if (geteuid() != 0)
        why = "kvline: --as-owner is for root, on a board of another user's.";
    else if (BoardOwnerFor(o.board, uid, gid, why) && uid == 0)
        why = o.board + " is root's own board: run the command itself.";
    if (!why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    return o.mode == LineOptions::kAsOwner ? RunWithoutTerminal(uid, gid, o.command)
                                           : OnOwnTerminal(uid, gid, o.command);
}

}  // namespace

bool ParseLineOptions(int argc, const char* const* argv, LineOptions& options, std::string& error) {
    options = LineOptions{};
    // The login shell of the callers' account: "-kvline" from login and
    // "su -", no arguments from su, "-c COMMAND" from sshd and "su -c".
    if (argc < 2 || (argv[0] != nullptr && argv[0][0] == '-') || std::strcmp(argv[1], "-c") == 0) {
        options.mode = LineOptions::kAccountShell;
        return true;
    }
    std::string first = argv[1];
    if ((first == "--in-use" || first == "--owner") && argc == 3) {
        options.mode = first == "--in-use" ? LineOptions::kInUse : LineOptions::kOwner;
        options.board = argv[2];
        return true;
    }
    if (first == "--as-owner" || first == "--as-owner-on-pty") {
        if (argc < 4 || argv[3][0] != '/') {
            error = kUsage;
            return false;
        }
        options.mode = first == "--as-owner" ? LineOptions::kAsOwner : LineOptions::kAsOwnerOnPty;
        options.board = argv[2];
        options.command.assign(argv + 3, argv + argc);
        return true;
    }
    int at = 1;
    if (first == "--bin" && argc >= 3) {
        options.bin = argv[2];
        at = 3;
    }
    if (argc != at + 1 || argv[at][0] == '-') {
        error = kUsage;
        return false;
    }
    options.board = argv[at];
    return true;
}

std::vector<std::string> AccountShellEnvironment(const char* const* env, const std::string& home,
                                                 const std::string& user, const std::string& shell) {
    std::vector<std::string> out;
    for (; env != nullptr && *env != nullptr; ++env) {
        std::string_view e = *env;
        if (e.rfind("TERM=", 0) == 0 || e.rfind("LANG=", 0) == 0 || e.rfind("LC_", 0) == 0) out.emplace_back(e);
    }
    out.push_back("HOME=" + home);
    out.push_back("USER=" + user);
    out.push_back("LOGNAME=" + user);
    out.push_back("SHELL=" + shell);
    out.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    return out;
}

std::string ProcessStartTime(pid_t pid) {
    ProcessInfo info;
    return ReadProcessInfo(pid, info) ? info.startTime : std::string();
}

bool ClaimLive(const std::string& path) {
    std::istringstream claim(ReadAll(path));
    pid_t pid = 0;
    std::string start;
    if (!(claim >> pid >> start) || pid <= 0) return false;
    return ProcessStartTime(pid) == start;
}

bool LineBusy(const std::string& state, int n) {
    if (ClaimLive(state + "/line." + std::to_string(n))) return true;
    OnlineEntry e;
    return ReadOnlineEntry(n, e) && KivoLive(e.Pid);
}

int ChooseLine(const std::string& state, int count) {
    for (int i = 0; i < count && i < kLineTableMax; ++i)
        if (!LineBusy(state, i)) return i;
    return count >= kLineTableMax ? -1 : count;
}

int LineMain(int argc, char** argv) {
    LineOptions o;
    std::string why;
    if (!ParseLineOptions(argc, argv, o, why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 2;
    }
    KeepStandardDescriptorsOpen();
    if (o.mode == LineOptions::kOwner) return Owner(o.board);
    if (o.mode == LineOptions::kAsOwner || o.mode == LineOptions::kAsOwnerOnPty) return AsOwner(o);
    if (o.mode == LineOptions::kAccountShell) {
        // Whatever command came with the call is never run, and nothing of
        // the caller's environment but the terminal and the locale passes.
        passwd* pw = getpwuid(getuid());
        if (pw == nullptr) {
            std::fputs("kvline: this account is unknown to the system\n", stderr);
            return 1;
        }
        o.board = pw->pw_dir;
        std::vector<std::string> env = AccountShellEnvironment(environ, pw->pw_dir, pw->pw_name, pw->pw_shell);
        clearenv();
        for (const std::string& e : env) setenv(e.substr(0, e.find('=')).c_str(), e.substr(e.find('=') + 1).c_str(), 1);
    }
    if (o.bin.empty()) o.bin = fs::path(OwnPath()).parent_path().string();
    if (o.mode != LineOptions::kInUse && geteuid() == 0) {
        // kivo and whatever it starts run as the board's owner: on a
        // terminal of root's they would hold it.  So the call of another
        // user's board goes to a terminal of the owner's, relayed here.
        uid_t uid;
        gid_t gid;
        if (!BoardOwnerFor(o.board, uid, gid, why)) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        if (uid != 0) return OnOwnTerminal(uid, gid, {OwnPath(), "--bin", o.bin, o.board});
    }
    if (!BecomeBoardOwner(o.board, why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    std::error_code ec;
    std::string board = fs::weakly_canonical(fs::absolute(o.board), ec).string();
    if (ec) board = fs::absolute(o.board).string();
    if (!fs::is_regular_file(board + "/kvconfig.bbs", ec)) {
        std::fprintf(stderr, "%s holds no board (no kvconfig.bbs).\n", board.c_str());
        return 1;
    }
    // New files are the board's user's and group's, as the board's are.
    umask(007);
    ConfigBytes slot;
    if (chdir(board.c_str()) != 0 || !LoadConfigBytes(slot)) {
        std::fprintf(stderr, "kvline: cannot read %s/kvconfig.bbs\n", board.c_str());
        return 1;
    }
    SetConfig(DecodeConfig(slot.data()));
    return o.mode == LineOptions::kInUse ? InUse(board) : Call(board, o.bin);
}

}  // namespace kv::line
