// kvprune on a base of 100,000 and of 1,000,000 messages, whole (its
// configuration, the lock, the purge, the pack, the journalled swap and
// the counters), beside "cp" of the same five files followed by "sync" of
// the copies, in pairs taken in turns; the medians, with the processor
// time and peak memory:
//   - the pack of a base with nothing to purge, "kvprune -m0 -p -k";
//   - the purge by age of a base whose older half is past its days,
//     "kvprune -m0", the base put back (and synced) before each run.
// Run by hand (beside a test suite for the loaded figures):
//   build/testbin/bench_kvprune [pairs [messages ...]]
// KV_BENCH_BEFORE_DIR names the directory of an earlier build's kvprune
// to measure beside it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_base.h"
#include "bench/bench_run.h"
#include "common/config_record.h"
#include "common/runtime.h"

namespace fs = std::filesystem;
using namespace kv;

int main(int argc, char** argv) {
    int pairs = argc > 1 ? std::atoi(argv[1]) : 7;
    char tmpl[] = "/tmp/kvprunebench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    fs::path root = tmpl, base = root / "msgbase", copies = root / "copies";
    fs::create_directories(base);
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

    const std::vector<std::string> prune = {bench::ProgramDir(KV_BIN_DIR) + "/kvprune", "-m0", "-p", "-k"};
    // KV_BENCH_BEFORE_DIR: an earlier build's kvprune measured in the same
    // run, turn about with this one.
    std::vector<std::string> before;
    if (const char* dir = std::getenv("KV_BENCH_BEFORE_DIR"); dir && *dir)
        before = {std::string(dir) + "/kvprune", "-m0", "-p", "-k"};
    bench::PrintHeading();
    std::vector<int> sizes;
    for (int a = 2; a < argc; ++a) sizes.push_back(std::atoi(argv[a]));
    if (sizes.empty()) sizes = {100000, 1000000};
    for (int size : sizes) {
        bench::WriteBase(base, size);
        std::vector<std::string> cp = {"cp"}, sync = {"sync"};
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile}) {
            cp.push_back((base / f).string());
            sync.push_back((copies / f).string());
        }
        cp.push_back(copies.string());
        auto copy = [&] {
            fs::remove_all(copies);
            fs::create_directories(copies);
            bench::Timed a = bench::RunTimed(cp, root), b = bench::RunTimed(sync, root);
            return a.seconds + b.seconds;
        };
        // The first pack writes its own PID line into every text; from the
        // second on the base keeps its size.
        bench::RunTimed(prune, root);
        bench::Pairs wall, cpu, beforeWall;
        for (int r = 0; r < pairs; ++r) {
            auto [p, copied] = bench::InTurn(r, [&] { return bench::RunTimed(prune, root); }, copy);
            wall.Add(p.seconds, copied);
            cpu.Add(p.cpu, 0);
            wall.peakKb = std::max(wall.peakKb, p.peakKb);
            if (before.empty()) continue;
            // The earlier build beside, in the same turns, on the same base.
            auto [b, copiedToo] = bench::InTurn(r, [&] { return bench::RunTimed(before, root); }, copy);
            beforeWall.Add(b.seconds, copiedToo);
        }
        std::string n = std::to_string(size);
        wall.Print("pack kvprune -m0 -p -k", n.c_str(), "cp 5 files + sync");
        std::printf("%-28s %9s %10.4f  peak %.1f MB\n", "  of it processor time", n.c_str(),
                    bench::Median(cpu.measure), double(wall.peakKb) / 1024);
        if (!before.empty()) beforeWall.Print("  the earlier build's pack", n.c_str(), "cp 5 files + sync");

        // The purge: the files it changes are put back and synced before
        // each run, outside the time.
        bench::WriteBase(base, size, size / 2);
        fs::path pristine = root / "pristine";
        fs::create_directories(pristine);
        const char* changed[] = {kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile};
        for (const char* f : changed) fs::copy_file(base / f, pristine / f, fs::copy_options::overwrite_existing);
        auto restore = [&] {
            for (const char* f : changed) fs::copy_file(pristine / f, base / f, fs::copy_options::overwrite_existing);
            bench::RunTimed({"sync"}, root);
        };
        std::vector<std::string> purge = {prune[0], "-m0"}, purgeBefore;
        if (!before.empty()) purgeBefore = {before[0], "-m0"};
        bench::Pairs purged, purgedCpu, purgedBefore;
        for (int r = 0; r < pairs; ++r) {
            auto [p, copied] = bench::InTurn(
                r,
                [&] {
                    restore();
                    return bench::RunTimed(purge, root);
                },
                copy);
            purged.Add(p.seconds, copied);
            purgedCpu.Add(p.cpu, 0);
            purged.peakKb = std::max(purged.peakKb, p.peakKb);
            if (purgeBefore.empty()) continue;
            auto [b, copiedToo] = bench::InTurn(
                r,
                [&] {
                    restore();
                    return bench::RunTimed(purgeBefore, root);
                },
                copy);
            purgedBefore.Add(b.seconds, copiedToo);
        }
        purged.Print("purge -m0, half of it old", n.c_str(), "cp 5 files + sync");
        std::printf("%-28s %9s %10.4f  peak %.1f MB\n", "  of it processor time", n.c_str(),
                    bench::Median(purgedCpu.measure), double(purged.peakKb) / 1024);
        if (!purgeBefore.empty()) purgedBefore.Print("  the earlier build's purge", n.c_str(), "cp 5 files + sync");
        fs::remove_all(pristine);
    }
    // KV_BENCH_KEEP keeps the board of the last size, for a profile.
    if (std::getenv("KV_BENCH_KEEP") != nullptr) {
        std::printf("kept %s\n", root.c_str());
        return 0;
    }
    fs::remove_all(root);
    return 0;
}
