// The name look-up of log-in and registration as the programs make it
// (FindUser, then the registration's check that the name is free): the
// microseconds of one, the mean of the count asked for.  Run by
// bench_roster beside user_scan_floor.
//   bench_user_lookup DATADIR NAME COUNT
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "common/runtime.h"
#include "common/users.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    kv::MutableConfig().DataDir = argv[1];
    int count = std::atoi(argv[3]);
    auto t = std::chrono::steady_clock::now();
    int found = 0;
    for (int i = 0; i < count; ++i) {
        kv::UserRecord r;
        found += kv::FindUser(argv[2], r);
    }
    double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t).count();
    std::printf("%f %d\n", us / count, found);
    return 0;
}
