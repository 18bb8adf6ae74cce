// A pack of a base of 100,000 and of 1,000,000 messages: kvprune run whole
// (its configuration, the lock, the purge scan, the pack, the journalled
// swap and the counters) beside "cp" of the same five files followed by
// "sync" of the copies, each in turns, with the processor time and the
// peak memory of each (the wall time of both waits mostly for the disk).  Run
// by hand:
//   build/testbin/bench_kvprune [rounds]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
    double seconds = 0, cpu = 0;
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
    double cpu = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    return {std::chrono::duration<double>(Clock::now() - t).count(), cpu, use.ru_maxrss};
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

    std::printf("%10s %10s %8s %8s %10s %8s %8s %7s %7s\n", "messages", "kvprune s", "cpu s", "peak MB", "cp+sync s",
                "cpu s", "peak MB", "ratio", "cpu");
    for (int size : {100000, 1000000}) {
        bench::WriteBase(base, size);
        std::vector<std::string> cp = {"cp"}, sync = {"sync"};
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile}) {
            cp.push_back((base / f).string());
            sync.push_back((copies / f).string());
        }
        cp.push_back(copies.string());
        // In turns; the best round of each, as other work on a shared
        // machine only adds.
        double pruneBest = 1e9, copyBest = 1e9, pruneCpu = 1e9, copyCpu = 1e9;
        long prunePeak = 0, copyPeak = 0;
        for (int r = 0; r < rounds; ++r) {
            Run p = Time({std::string(KV_BIN_DIR) + "/kvprune", "-m0", "-p", "-k"}, root);
            Run a = Time(cp, root), b = Time(sync, root);
            pruneBest = std::min(pruneBest, p.seconds);
            copyBest = std::min(copyBest, a.seconds + b.seconds);
            pruneCpu = std::min(pruneCpu, p.cpu);
            copyCpu = std::min(copyCpu, a.cpu + b.cpu);
            prunePeak = std::max(prunePeak, p.peakKb);
            copyPeak = std::max({copyPeak, a.peakKb, b.peakKb});
        }
        std::printf("%10d %10.3f %8.3f %8.1f %10.3f %8.3f %8.1f %7.2f %7.2f\n", size, pruneBest, pruneCpu,
                    prunePeak / 1024.0, copyBest, copyCpu, copyPeak / 1024.0, pruneBest / copyBest, pruneCpu / copyCpu);
    }
    fs::remove_all(root);
    return 0;
}
