// A pack of a base of 100,000 and of 1,000,000 messages: kvprune run whole
// (its configuration, the lock, the purge scan, the pack, the journalled
// swap and the counters) beside "cp" of the same five files followed by
// "sync" of the copies, each in turns, with the peak memory of each.  Run
// by hand:
//   build/testbin/bench_kvprune [rounds]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_base.h"
#include "common/config_record.h"
#include "common/runtime.h"

namespace fs = std::filesystem;
using namespace kv;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    double seconds = 0;
    long peakKb = 0;
};

// Runs argv in dir; its wall time and its peak resident memory.
Run Time(const std::vector<std::string>& argv, const fs::path& dir) {
    auto t = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage use {};
    if (wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return {std::chrono::duration<double>(Clock::now() - t).count(), use.ru_maxrss};
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    char tmpl[] = "/tmp/kvprunebench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    fs::path root = tmpl, base = root / "msgbase", copies = root / "copies";
    fs::create_directories(base);
    fs::create_directories(copies);
    ConfigRecord c;
    c.DataDir = root.string();
    c.MsgBaseDir = base.string();
    c.LineLogName = "prune.log";
    c.DateOrder = 1;
    SetConfig(c);
    ConfigBytes slot{};
    EncodeConfig(c, slot.data());
    std::ofstream(root / "kvconfig.bbs", std::ios::binary)
        .write(reinterpret_cast<const char*>(slot.data()), kConfigFileSize);

    std::printf("%10s %12s %10s %12s %10s %7s\n", "messages", "kvprune s", "peak MB", "cp+sync s", "peak MB", "ratio");
    for (int size : {100000, 1000000}) {
        bench::WriteBase(base, size);
        std::vector<std::string> cp = {"cp"}, sync = {"sync"};
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile}) {
            cp.push_back((base / f).string());
            sync.push_back((copies / f).string());
        }
        cp.push_back(copies.string());
        Run prune, copy;
        long prunePeak = 0, copyPeak = 0;
        for (int r = 0; r < rounds; ++r) {
            Run p = Time({std::string(KV_BIN_DIR) + "/kvprune", "-m0", "-p", "-k"}, root);
            Run a = Time(cp, root), b = Time(sync, root);
            prune.seconds += p.seconds;
            copy.seconds += a.seconds + b.seconds;
            prunePeak = std::max(prunePeak, p.peakKb);
            copyPeak = std::max({copyPeak, a.peakKb, b.peakKb});
        }
        std::printf("%10d %12.3f %10.1f %12.3f %10.1f %7.2f\n", size, prune.seconds / rounds, prunePeak / 1024.0,
                    copy.seconds / rounds, copyPeak / 1024.0, prune.seconds / copy.seconds);
    }
    fs::remove_all(root);
    return 0;
}
