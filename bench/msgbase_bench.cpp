// Appends per second on a base that already holds 100,000 messages: one
// writer alone, and ten writer processes at once (as ten caller lines
// saving together), all through the one lock of the base.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/msgbase.h"
#include "common/runtime.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

constexpr int kBaseMessages = 100000;
constexpr int kWriters = 10;
constexpr int kEachPerRound = 100;

MsgText SampleText(int i) {
    return MsgText{"Kivo v1.0",
                   {"Hello,", "this is message " + std::to_string(i) + " of the timing run.",
                    "It has a few lines, as a caller's message would.", "", "Bye"}};
}

MsgHeader SampleHeader(int i) {
    MsgHeader h;
    BuildMessageHeader(h, "Recipient " + std::to_string(i % 500), "Timing", 0, 0, i % kMsgAreaCount, false,
                       std::nullopt, false, false, "Bench Writer");
    return h;
}

template <class R>
void Put(std::ofstream& out, const R& r) {
    auto b = EncodeRecord(r);
    out.write(reinterpret_cast<const char*>(b.data()), b.size());
}

// Writes the five files of a base of kBaseMessages at once, with the
// record codecs, far faster than appending them one by one.
void WriteBase(const fs::path& dir) {
    std::ofstream txt(dir / kMsgTextFile, std::ios::binary), hdr(dir / kMsgHeaderFile, std::ios::binary),
        idx(dir / kMsgIndexFile, std::ios::binary), to(dir / kMsgToIndexFile, std::ios::binary),
        info(dir / kMsgInfoFile, std::ios::binary);
    MsgInfoRecord counts;
    int64_t offset = 0;
    for (int i = 1; i <= kBaseMessages; ++i) {
        MsgHeader h = SampleHeader(i);
        h.MsgNumber = i;
        h.TextOffset = static_cast<int32_t>(offset);
        std::string text = EncodeMsgText(SampleText(i));
        txt << text;
        offset += static_cast<int64_t>(text.size());
        Put(hdr, h);
        Put(idx, MsgIndexRecord{i, h.MsgArea});
        Put(to, MsgToIndexRecord{h.ToName});
        ++counts.AreaCounts[static_cast<size_t>(h.MsgArea)];
    }
    counts.LowestNumber = 1;
    counts.HighestNumber = counts.TotalMessages = kBaseMessages;
    Put(info, counts);
}

// The base, made once per run in a temporary directory removed at exit
// (the path outlives the static destructors that run before the handler).
const fs::path& Base() {
    static const fs::path* dir = [] {
        char tmpl[] = "/tmp/kvbench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        auto* d = new fs::path(tmpl);
        WriteBase(*d);
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
