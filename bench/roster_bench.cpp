// The user files at 1,000 and 100,000 users, each measure beside its
// reference in pairs taken in turns (the medians):
//   - kvroster's start-up to the browse list: what 100,000 users add over
//     1,000, beside "cat" of users.bbs and lastread.bbs;
//   - kvroster's sort by level and name (the command whole: keys, sort and
//     the journalled rewrite of both files), beside sort(1) of the same
//     keys;
//   - kvroster's pack (one user in a hundred deleted), beside "cp" of the
//     two files and "sync" of the copies;
//   - the name look-up of log-in and registration (a name nobody has, so
//     every record is read), beside a C scan of users.bbs.
// kvroster runs on a pseudo-terminal as the sysop meets it.  Run by hand
// (beside a test suite for the loaded figures):
//   build/testbin/bench_roster [pairs]
// KV_BENCH_BEFORE_DIR names the directory of an earlier build's kvroster
// whose sort is measured beside.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_run.h"
#include "common/lastread.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "common/user_record.h"
#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace fs = std::filesystem;
using namespace kv;
using Clock = std::chrono::steady_clock;

namespace {

UserRecord Person(int n) {
    UserRecord r;
    r.Name = n == 0 ? "Sam Sysop" : "User " + std::to_string(n);
    r.Location = "Town " + std::to_string(n % 977);
    r.Password = "Secret";
    r.SecurityLevel = n == 0 ? 64000 : 10 + n % 90;
    r.TotalCalls = uint32_t(100 + n);
    r.LastCallDate = "24/01/02";
    r.LastCallTime = "10:11:12";
    r.Options = USER_CLEAR_SCREEN | (n % 100 == 50 ? USER_DELETED : 0);
    r.ScreenLength = 24;
    r.ScanAreas.fill(0xff);
    r.FirstCallDate = "23/12/31";
    r.SubscriptionEnd = "00/00/00";
    return r;
}

struct Files {
    std::string users, lastRead;
};

Files MakeFiles(int count) {
    Files f;
    for (int n = 0; n < count; ++n) {
        UserBytes b = EncodeUserRecord(Person(n));
        f.users.append(reinterpret_cast<const char*>(b.data()), b.size());
        LastReadRecord lr;
        lr.LastRead[0] = uint32_t(n);
        auto lb = EncodeRecord(lr);
        f.lastRead.append(reinterpret_cast<const char*>(lb.data()), lb.size());
    }
    return f;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

class Board {
public:
    explicit Board(int count) : files_(MakeFiles(count)) {
        SetConfig(board_.config());
        if (!CreateOnlineFile()) std::exit(1);
        Restore();
    }
    void Restore() const {
        std::ofstream(Users(), std::ios::binary | std::ios::trunc) << files_.users;
        std::ofstream(LastRead(), std::ios::binary | std::ios::trunc) << files_.lastRead;
        fs::remove(Users().string() + ".B");
        fs::remove(LastRead().string() + ".B");
    }
    fs::path Users() const { return board_.DataDir() / "users.bbs"; }
    fs::path LastRead() const { return board_.MsgBaseDir() / "lastread.bbs"; }
    const fs::path& root() const { return board_.root(); }
    int count() const { return int(files_.users.size() / kUserRecordSize); }

    // kvroster started and waiting at its main menu.
    std::unique_ptr<test::PtySession> Start(const std::string& dir) const {
        test::PtyOptions o;
        o.argv = {dir + "/kvroster"};
        o.dir = board_.root();
        o.utf8 = true;
        auto s = std::make_unique<test::PtySession>(o);
        Expect(s->WaitForText(" Browse ", 120000), "the main menu");
        return s;
    }
    static void Expect(bool ok, const char* what) {
        if (ok) return;
        std::fprintf(stderr, "kvroster did not show %s\n", what);
        std::exit(1);
    }

private:
    test::TempBoard board_;
    Files files_;
};

// Runs main-menu entry `to` (0-23) from the first.
void RunEntry(test::PtySession& s, int to) { s.Send(std::string(size_t(to / 6), '+') + std::string(size_t(to % 6), '\t') + "\r"); }

double StartUp(const Board& b, const std::string& dir) {
    auto t = Clock::now();
    auto s = b.Start(dir);
    s->Send("\r");
    Board::Expect(s->WaitForText("<F2/Find/Tog/Del/Val>", 120000), "the browse list");
    return Seconds(t);
}

// From the "y" to the question until done shows.
double TimeYes(test::PtySession& s, const char* question, const std::string& done) {
    Board::Expect(s.WaitForText(question), question);
    auto t = Clock::now();
    s.Send("y");
    Board::Expect(s.WaitForText(done, 120000), done.c_str());
    return Seconds(t);
}

// From the answer to the question until the list shows the new order.
double Sort(const Board& b, const std::string& dir) {
    // The first of the highest level by name comes right after the sysop.
    std::string first;
    for (int n = 1; n < b.count(); ++n) {
        UserRecord p = Person(n);
        if (p.SecurityLevel == 99 && (first.empty() || p.Name < first)) first = p.Name;
    }
    b.Restore();
    auto s = b.Start(dir);
    RunEntry(*s, 9);
    Board::Expect(s->WaitForText("Select the sort criteria"), "the sort orders");
    s->Send("\r");
    return TimeYes(*s, "Do you want to continue?", first + " ");
}

double Pack(const Board& b, const std::string& dir) {
    b.Restore();
    auto s = b.Start(dir);
    RunEntry(*s, 11);
    return TimeYes(*s, "Do you really want to pack user's file?", "Users deleted");
}

}  // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 7;
    const std::string bin = bench::ProgramDir(KV_BIN_DIR), testbin = bench::ProgramDir(KV_TESTBIN_DIR);
    // KV_BENCH_BEFORE_DIR: an earlier build's kvroster, whose sort is
    // measured in the same turns.
    const char* beforeDir = std::getenv("KV_BENCH_BEFORE_DIR");
    const std::string before = beforeDir ? beforeDir : "";
    bench::PrintHeading();

    Board small(1000), large(100000);
    const std::string n = "100000";
    {
        bench::Pairs added;
        std::vector<double> smallStarts;
        for (int r = 0; r < pairs; ++r) {
            double little = 0;
            auto [big, cat] = bench::InTurn(
                r,
                [&] {
                    double b = StartUp(large, bin);
                    little = StartUp(small, bin);
                    return b;
                },
                [&] { return bench::RunTimed({"cat", large.Users(), large.LastRead()}, large.root()).seconds; });
            added.Add(big - little, cat);
            smallStarts.push_back(little);
        }
        added.Print("start-up added over 1,000", n.c_str(), "cat the two files");
        std::printf("%-28s %9s %10.4f\n", "  start-up at 1,000", "1000", bench::Median(smallStarts));
    }
    {
        // The keys of the sort: level, then name.
        fs::path keys = large.root() / "keys.txt";
        std::ofstream out(keys);
        for (int i = 1; i < large.count(); ++i) {
            UserRecord p = Person(i);
            out << p.SecurityLevel << '\t' << p.Name << '\n';
        }
        out.close();
        const std::vector<std::string> sort = {"sort", "-t", "\t", "-k1,1nr", "-k2,2", "-o", "/dev/null", keys.string()};
        bench::Pairs sorted, sortedBefore;
        for (int r = 0; r < pairs; ++r) {
            auto [mine, ref] = bench::InTurn(
                r, [&] { return Sort(large, bin); }, [&] { return bench::RunTimed(sort, large.root()).seconds; });
            sorted.Add(mine, ref);
            if (before.empty()) continue;
            auto [earlier, refToo] = bench::InTurn(
                r, [&] { return Sort(large, before); }, [&] { return bench::RunTimed(sort, large.root()).seconds; });
            sortedBefore.Add(earlier, refToo);
        }
        sorted.Print("kvroster sort level/name", n.c_str(), "sort(1) of the keys");
        if (!before.empty()) sortedBefore.Print("  the earlier build's", n.c_str(), "sort(1) of the keys");
    }
    {
        fs::path copies = large.root() / "copies";
        auto copy = [&] {
            fs::remove_all(copies);
            fs::create_directories(copies);
            double a = bench::RunTimed({"cp", large.Users(), large.LastRead(), copies.string()}, large.root()).seconds;
            return a + bench::RunTimed({"sync", (copies / "users.bbs").string(), (copies / "lastread.bbs").string()},
                                       large.root())
                           .seconds;
        };
        bench::Pairs packed;
        for (int r = 0; r < pairs; ++r) {
            auto [mine, ref] = bench::InTurn(r, [&] { return Pack(large, bin); }, copy);
            packed.Add(mine, ref);
        }
        packed.Print("kvroster pack", n.c_str(), "cp 2 files + sync");
    }
    {
        large.Restore();
        const std::string data = fs::path(large.Users()).parent_path().string(), count = "20";
        bench::Pairs lookUp;
        auto micros = [&](const std::vector<std::string>& argv) {
            // The program prints the microseconds of one look-up.
            fs::path out = large.root() / "lookup.out";
            std::string cmd;
            for (const auto& a : argv) cmd += "'" + a + "' ";
            if (std::system((cmd + "> '" + out.string() + "'").c_str()) != 0) std::exit(1);
            std::ifstream in(out);
            double us = 0;
            in >> us;
            return us / 1e6;
        };
        for (int r = 0; r < pairs; ++r) {
            auto [mine, ref] = bench::InTurn(
                r, [&] { return micros({testbin + "/bench_user_lookup", data, "Nobody Here", count}); },
                [&] { return micros({testbin + "/user_scan_floor", large.Users().string(), "Nobody Here", count}); });
            lookUp.Add(mine, ref);
        }
        lookUp.Print("name look-up, a miss", n.c_str(), "C scan of users.bbs");
    }
    return 0;
}
