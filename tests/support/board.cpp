#include "tests/support/board.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "sample/tools/builders.h"

namespace fs = std::filesystem;

namespace kv::test {

TempBoard::TempBoard(const std::string& tty) {
    char tmpl[] = "/tmp/kvboard.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    if (!sample::BuildBoard(SourcePath("sample"), root_.string(), tty, KV_BIN_DIR))
        throw std::runtime_error("cannot build the sample board in " + root_.string());
    if (!sample::ReadConfigRecord((root_ / "kvconfig.bbs").string(), config_))
        throw std::runtime_error("cannot read back kvconfig.bbs");
}

TempBoard::~TempBoard() {
    if (std::getenv("KV_KEEP_BOARDS") == nullptr) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

void TempBoard::Set(const std::string& key, const std::string& value) {
    if (!sample::SetConfigKey(config_, key, value, "test"))
        throw std::runtime_error("no configuration field " + key);
    if (!sample::WriteConfigRecord((root_ / "kvconfig.bbs").string(), config_))
        throw std::runtime_error("cannot write kvconfig.bbs");
}

void TempBoard::WriteFile(const fs::path& rel, const std::string& body) const {
    fs::path p = rel.is_absolute() ? rel : root_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << body;
}

std::string TempBoard::ReadFile(const fs::path& rel) const {
    fs::path p = rel.is_absolute() ? rel : root_ / rel;
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WaitForFlockWaiter(const std::filesystem::path& file, int timeoutMs) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return false;
    char id[64];
    std::snprintf(id, sizeof id, " %02x:%02x:%lu ", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    return WaitUntil(
        [&] {
            std::ifstream locks("/proc/locks");
            for (std::string line; std::getline(locks, line);)
                if (line.find("-> FLOCK") != std::string::npos && line.find(id) != std::string::npos) return true;
            return false;
        },
        timeoutMs);
}

int ScaledTimeout(int timeoutMs) {
    static const int scale = [] {
        const char* s = std::getenv("KV_TEST_TIMEOUT_SCALE");
        int v = s ? std::atoi(s) : 0;
        return v > 0 ? v : 4;
    }();
    return timeoutMs * scale;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        usleep(10 * 1000);
    }
    return true;
}

std::string ProgramPath(const std::string& name) { return std::string(KV_BIN_DIR) + "/" + name; }
std::string SourcePath(const std::string& rel) { return std::string(KV_SOURCE_DIR) + "/" + rel; }

namespace {

void Drain(int fd, std::string& into, bool& open) {
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
        into.append(buf, size_t(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        open = false;
    }
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const fs::path& dir, const std::vector<std::string>& env,
                     int timeoutSeconds) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        close(out[0]);
        close(err[0]);
        // Only 1 and 2 may hold the pipes: a copy left in a program that
        // starts a background process would keep them open after it ends.
        close(out[1]);
        close(err[1]);
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    RunResult r;
    bool outOpen = true, errOpen = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutSeconds * 1000));
    while (outOpen || errOpen) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, left) <= 0) continue;
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) Drain(out[0], r.out, outOpen);
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) Drain(err[0], r.err, errOpen);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

}  // namespace kv::test
