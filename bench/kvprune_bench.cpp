// A pack of a base of 100,000 messages, beside a plain "cp" of the same
// five files: the pack as the library does it, and kvprune run whole (its
// configuration, the lock, the purge scan, the pack and the counters).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_base.h"
#include "common/runtime.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/prune_log.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

constexpr int kBaseMessages = 100000;

struct BenchBoard {
    fs::path root, base, copies;
};

// The board, made once per run in a temporary directory removed at exit:
// kvconfig.bbs at its root, the base below it.
const BenchBoard& Board() {
    static const BenchBoard* board = [] {
        char tmpl[] = "/tmp/kvprunebench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        auto* b = new BenchBoard{tmpl, fs::path(tmpl) / "msgbase", fs::path(tmpl) / "copies"};
        fs::create_directories(b->base);
        fs::create_directories(b->copies);
        ConfigRecord c;
        c.DataDir = b->root.string();
        c.MsgBaseDir = b->base.string();
        c.LineLogName = "prune.log";
        c.DateOrder = 1;
        SetConfig(c);
        prune::OpenPruneLog((b->root / "library.log").string());
        bench::WriteBase(b->base, kBaseMessages);
        ConfigBytes slot{};
        EncodeConfig(c, slot.data());
        std::ofstream(b->root / "kvconfig.bbs", std::ios::binary)
            .write(reinterpret_cast<const char*>(slot.data()), kConfigFileSize);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(Board().root, ec);
        });
        return b;
    }();
    return *board;
}

bool Run(const std::vector<std::string>& argv, const fs::path& dir) {
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
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_CopyFiveFiles(benchmark::State& state) {
    const BenchBoard& b = Board();
    std::vector<std::string> argv = {"cp"};
    for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile})
        argv.push_back((b.base / f).string());
    argv.push_back(b.copies.string());
    for (auto _ : state)
        if (!Run(argv, b.root)) state.SkipWithError("cp failed");
}
BENCHMARK(BM_CopyFiveFiles)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_PackLibrary(benchmark::State& state) {
    const BenchBoard& b = Board();
    prune::PruneOptions opts;
    opts.keepBackups = false;
    for (auto _ : state) {
        prune::OpenBase base;
        base.dir = b.base.string();
        if (!prune::OpenMessageFiles(base) || !prune::PackMessageBase(base, opts)) state.SkipWithError("pack failed");
    }
    state.SetItemsProcessed(state.iterations() * kBaseMessages);
}
BENCHMARK(BM_PackLibrary)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_KvprunePack(benchmark::State& state) {
    const BenchBoard& b = Board();
    const std::string prog = std::string(KV_BIN_DIR) + "/kvprune";
    for (auto _ : state)
        if (!Run({prog, "-m0", "-p", "-k"}, b.root)) state.SkipWithError("kvprune failed");
    state.SetItemsProcessed(state.iterations() * kBaseMessages);
}
BENCHMARK(BM_KvprunePack)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
