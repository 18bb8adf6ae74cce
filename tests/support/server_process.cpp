#include "tests/support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/record_io.h"

namespace kv::test {

void ServerTest::SetUp() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

void ServerTest::TearDown() {
    for (pid_t pid : running_) {
        if (waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // A killed server leaves its segment; the next test would meet it.
    if (int id = SegmentId(); id >= 0) shmctl(id, IPC_RMID, nullptr);
}

pid_t ServerTest::StartServer(const TempBoard& b, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {ProgramPath("kvhubd")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string before = ServerLog(b);
    last_ = RunProgram(argv, b.root(), {}, 10);
    if (last_.status != 0) return -1;
    // The daemon names itself in the log before it lets go of our pipes.
    std::string log = ServerLog(b).substr(before.size());
    size_t at = log.rfind("-- kvhubd started (PID=");
    if (at == std::string::npos) return -1;
    pid_t pid = std::atoi(log.c_str() + at + 23);
    running_.push_back(pid);
    return pid;
}

void ServerTest::StopServer(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        if (WaitForExit(pid, 2000) < 0) {
            kill(pid, SIGKILL);
            WaitForExit(pid, 2000);
        }
    }
    if (int id = SegmentId(); id >= 0) shmctl(id, IPC_RMID, nullptr);
}

RunResult ServerTest::RunTool(const TempBoard& b, const std::string& name) {
    return RunProgram({ProgramPath(name)}, b.root(), {}, 10);
}

int ServerTest::WaitForExit(pid_t pid, int timeoutMs) {
    for (int waited = 0, limit = ScaledTimeout(timeoutMs); waited < limit; waited += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::erase(running_, pid);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void ServerTest::SendCommand(const TempBoard& b, int16_t code) {
    int fd = open((b.DataDir() / kCommandPipeName).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ServerCommand cmd;
    cmd.Code = code;
    auto rec = EncodeRecord(cmd);
    EXPECT_EQ(write(fd, rec.data(), rec.size()), ssize_t(rec.size()));
    close(fd);
}

std::string ServerLog(const TempBoard& b) { return b.ReadFile(b.DataDir() / "server.log"); }

bool WaitForLog(const TempBoard& b, const std::string& text, int timeoutMs) {
    for (int waited = 0, limit = ScaledTimeout(timeoutMs); waited < limit; waited += 10) {
        if (ServerLog(b).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int SegmentId() { return shmget(kSegmentKey, 0, 0); }

Attachment::Attachment() {
    int id = SegmentId();
    void* at = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, SHM_RDONLY);
    if (at != reinterpret_cast<void*>(-1)) p_ = static_cast<uint8_t*>(at);
}

Attachment::~Attachment() {
    if (p_ != nullptr) shmdt(p_);
}

}  // namespace kv::test
