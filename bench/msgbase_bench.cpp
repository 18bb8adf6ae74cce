// Appends per second on a base that already holds 100,000 messages: one
// writer alone, and ten writer processes at once (as ten caller lines
// saving together), all through the one lock of the base.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_base.h"
#include "common/msgbase.h"
#include "common/runtime.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::bench;

namespace {

constexpr int kBaseMessages = 100000;
constexpr int kWriters = 10;
constexpr int kEachPerRound = 100;

// The base, made once per run in a temporary directory removed at exit
// (the path outlives the static destructors that run before the handler).
const fs::path& Base() {
    static const fs::path* dir = [] {
        char tmpl[] = "/tmp/kvbench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        auto* d = new fs::path(tmpl);
        WriteBase(*d, kBaseMessages);
        MutableConfig().MsgBaseDir = d->string();
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(Base(), ec);
        });
        return d;
    }();
    return *dir;
}

bool AppendOne(int i) {
    MsgHeader h = SampleHeader(i);
    int32_t at = 0;
    return AppendMessage(SampleText(i), h, at);
}

void BM_AppendOneWriter(benchmark::State& state) {
    Base();
    int i = 0;
    for (auto _ : state) {
        if (!AppendOne(++i)) state.SkipWithError("append failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendOneWriter)->Unit(benchmark::kMicrosecond);

// One round: ten processes append kEachPerRound messages each, all at once.
void BM_AppendTenWriters(benchmark::State& state) {
    Base();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::vector<pid_t> children;
        for (int w = 0; w < kWriters; ++w) {
            pid_t pid = fork();
            if (pid == 0) {
                bool ok = true;
                for (int i = 0; i < kEachPerRound; ++i) ok = AppendOne(w * kEachPerRound + i) && ok;
                _exit(ok ? 0 : 1);
            }
            children.push_back(pid);
        }
        bool ok = true;
        for (pid_t pid : children) {
            int status = 0;
            ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
        }
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        if (!ok) state.SkipWithError("a writer failed");
    }
    state.SetItemsProcessed(state.iterations() * kWriters * kEachPerRound);
}
BENCHMARK(BM_AppendTenWriters)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
