// One append, the library's against the floor program's (bench/
// append_floor.c: only the system calls the design needs), on two copies
// of the same base of 100,000 and of 1,000,000 messages, in turns.  Run by
// hand:
//   build/testbin/bench_append [appends]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_base.h"
#include "common/runtime.h"

namespace fs = std::filesystem;
using namespace kv;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 10;

double LibraryMicros(const fs::path& dir, int appends) {
    MutableConfig().MsgBaseDir = dir.string();
    auto t = Clock::now();
    for (int i = 0; i < appends; ++i) {
        MsgHeader h = bench::SampleHeader(i);
        int32_t at = 0;
        if (!AppendMessage(bench::SampleText(i), h, at)) std::abort();
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - t).count() / appends;
}

double FloorMicros(const fs::path& dir, int appends) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        std::string n = std::to_string(appends);
        execl(KV_TESTBIN_DIR "/append_floor", "append_floor", dir.c_str(), n.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[64] = {};
    ssize_t got = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return got > 0 ? std::atof(buf) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int appends = argc > 1 ? std::atoi(argv[1]) : 20000;
    char tmpl[] = "/tmp/kvappendbench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    fs::path root = tmpl;
    std::printf("%10s %14s %14s %7s\n", "messages", "library us", "floor us", "ratio");
    for (int size : {100000, 1000000}) {
        fs::path lib = root / "library", floor = root / "floor";
        fs::create_directories(lib);
        bench::WriteBase(lib, size);
        fs::copy(lib, floor);
        // In turns, so that both meet the machine in the same state; the
        // best round of each, as other work on a shared machine only adds.
        double l = 1e9, f = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            l = std::min(l, LibraryMicros(lib, appends / kRounds));
            f = std::min(f, FloorMicros(floor, appends / kRounds));
        }
        std::printf("%10d %14.2f %14.2f %7.2f\n", size, l, f, l / f);
        fs::remove_all(lib);
        fs::remove_all(floor);
    }
    fs::remove_all(root);
    return 0;
}
