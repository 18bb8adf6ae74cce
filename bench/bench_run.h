// Programs timed beside their references: each measure and its reference
// run in pairs, in turns (which goes first alternates), so that both meet
// the machine in the same state; the median of the pairs is reported.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kv::bench {

struct Timed {
    double seconds = 0, cpu = 0;
    long peakKb = 0;
};

// Runs argv in dir (standard output to /dev/null when quiet); its wall time,
// processor time and peak resident memory.  A failure ends the bench.
inline Timed RunTimed(const std::vector<std::string>& argv, const std::filesystem::path& dir, bool quiet = true) {
    std::fflush(stdout);  // the child must not print what the bench has not yet
    auto t = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        if (quiet && !freopen("/dev/null", "w", stdout)) _exit(126);
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
    double cpu = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                 double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count(), cpu, use.ru_maxrss};
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The pairs of one measure: the medians of each side and of the ratios.
struct Pairs {
    std::vector<double> measure, reference, ratio;
    long peakKb = 0;
    void Add(double m, double r) {
        measure.push_back(m);
        reference.push_back(r);
        ratio.push_back(r > 0 ? m / r : 0);
    }
    // The medians, then each pair's ratio (and its two times) in the order
    // taken: a median can hide the one pair that misses.
    void Print(const char* what, const char* size, const char* ref) const {
        std::printf("%-28s %9s %10.4f  %-22s %10.4f %7.2f\n", what, size, Median(measure), ref, Median(reference),
                    Median(ratio));
        if (ratio.size() < 2 || reference[0] == 0) return;
        std::printf("  pairs:");
        for (size_t i = 0; i < ratio.size(); ++i)
            std::printf(" %.2f (%.4f/%.4f)", ratio[i], measure[i], reference[i]);
        std::printf("  highest %.2f\n", *std::max_element(ratio.begin(), ratio.end()));
    }
};

// The pair of one turn: the measure and its reference, the reference first in
// the odd turns.  The measure's result as it returns it, the reference's
// seconds.
template <class Measure, class Reference>
auto InTurn(int turn, Measure measure, Reference reference) {
    double ref = 0;
    if (turn % 2) ref = reference();
    auto mine = measure();
    if (turn % 2 == 0) ref = reference();
    return std::pair{mine, ref};
}

inline void PrintHeading() {
    std::printf("%-28s %9s %10s  %-22s %10s %7s\n", "measure", "size", "median s", "reference", "median s",
                "ratio");
}

// Where the programs measured live: KV_BENCH_BIN_DIR when set (an earlier
// build's, for a before-and-after table), else this build's.
inline std::string ProgramDir(const char* built) {
    const char* dir = std::getenv("KV_BENCH_BIN_DIR");
    return dir && *dir ? dir : built;
}

}  // namespace kv::bench
