// Finding message N as the reader does it ("next", a number typed, the
// start of the mail check): FindNextMessage and FindPrevMessage on bases of
// 100,000 and 1,000,000 messages, beside the floor: a binary search of
// "msgidx.bbs" alone (open, reads, close).  Run by hand:
//   build/testbin/bench_find [searches]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "bench/bench_base.h"
#include "caller/areas/reader_search.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"

namespace fs = std::filesystem;
using namespace kv;
using Clock = std::chrono::steady_clock;

namespace {

// The floor: the position of number by a binary search of the index.
int32_t BinarySearchFloor(const std::string& path, int32_t number) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    off_t size = lseek(fd, 0, SEEK_END);
    int32_t lo = 0, hi = int32_t(size / 8);
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        int32_t n = 0;
        if (pread(fd, &n, 4, off_t(mid) * 8) != 4) break;
        if (std::abs(n) >= number)
            hi = mid;
        else
            lo = mid + 1;
    }
    close(fd);
    return lo;
}

// The best of five rounds, as other work on a shared machine only adds.
template <class F>
double MillisPerCall(int calls, F f) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        auto t = Clock::now();
        for (int i = 0; i < calls; ++i) f(i);
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t).count() / calls);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int searches = argc > 1 ? std::atoi(argv[1]) : 2000;
    char tmpl[] = "/tmp/kvfindbench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    fs::path dir = tmpl;
    ConfigRecord c;
    c.MsgBaseDir = dir.string();
    for (MsgAreaDef& a : c.MsgAreas) a.AreaDefined = 1;
    SetConfig(c);
    caller::Call().User.SecurityLevel = 10;
    std::printf("%10s %14s %14s %14s %9s\n", "messages", "next ms", "prev ms", "floor ms", "ratio");
    for (int size : {100000, 1000000}) {
        bench::WriteBase(dir, size);
        std::mt19937 random(size);
        std::vector<int32_t> numbers(static_cast<size_t>(searches), 0);
        for (int32_t& n : numbers) n = int32_t(random() % unsigned(size)) + 1;
        const std::string index = (dir / kMsgIndexFile).string();
        double floor = MillisPerCall(searches, [&](int i) { BinarySearchFloor(index, numbers[size_t(i)]); });
        double next = MillisPerCall(searches, [&](int i) {
            if (caller::FindNextMessage(caller::kAnyArea, numbers[size_t(i)], true) < 0) std::abort();
        });
        double prev = MillisPerCall(searches, [&](int i) {
            if (caller::FindPrevMessage(caller::kAnyArea, numbers[size_t(i)], -1, true) < 0) std::abort();
        });
        std::printf("%10d %14.4f %14.4f %14.4f %9.1f\n", size, next, prev, floor, next / floor);
    }
    fs::remove_all(dir);
    return 0;
}
