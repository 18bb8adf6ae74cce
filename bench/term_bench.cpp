// The caller's terminal under a flood of output, and the searches that look
// for keys while they run, each beside its reference in the same run:
//   - the described listing of a file area of 10,000 entries (kvmenu_probe
//     on a pseudo-terminal, ANSI colour, no page pause) beside "cat" of the
//     same bytes through a pseudo-terminal of the same modes, each from its
//     first byte to its last;
//   - the header text search over 1,000,000 messages (SearchMessages, its
//     input a quiet pseudo-terminal) beside "grep -a -c" over msghdr.bbs
//     (a count: grep reads the whole file, as the search does);
//   - the keyword file search over those 10,000 entries (kvmenu_probe, from
//     the keyword sent to the closing prompt) beside "grep -i" over the
//     listing files of every area.
// Pairs run in turns (but the listing's: cat sends the bytes the listing
// sent, so it runs after); the medians of the times and of the pair ratios
// are shown.  Run by hand:
//   build/testbin/bench_term [rounds] [entries] [messages]
// KV_BENCH_WRAP puts a command before the probe: "strace -f -c -o FILE"
// counts its system calls.  KV_BENCH_BIN_DIR takes the probe from another
// build; KV_BENCH_BEFORE_DIR measures an earlier build's beside this one.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_run.h"
#include "caller/areas/message_scan.h"
#include "caller/areas/reader_search.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/programs/probe_call.h"
#include "tests/support/board.h"

namespace fs = std::filesystem;
using namespace kv;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A step of a session: once the output holds expect, keys are sent.
struct Step {
    std::string expect, send;
};

struct Session {
    std::string out;
    Clock::time_point first{};               // the first byte
    std::vector<Clock::time_point> matched;  // each step's text seen
    Clock::time_point sent{};                // the first step's keys sent
    Clock::time_point last{};                // the last byte
    int status = -1;
};

// Runs argv in dir on a fresh pseudo-terminal (its controlling terminal),
// raw unless the program sets its own modes, and plays the steps.
Session RunOnPty(std::vector<std::string> argv, const fs::path& dir, const std::vector<Step>& steps, bool wrap) {
    if (const char* w = std::getenv("KV_BENCH_WRAP"); wrap && w != nullptr) {
        std::istringstream words(w);
        std::vector<std::string> prefix;
        for (std::string word; words >> word;) prefix.push_back(word);
        argv.insert(argv.begin(), prefix.begin(), prefix.end());
    }
    Session s;
    int master = -1, slave = -1;
    winsize ws{24, 80, 0, 0};
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) std::exit(1);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    pid_t pid = fork();
    if (pid == 0) {
        close(master);
        if (login_tty(slave) != 0 || chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(slave);
    size_t step = 0, searchFrom = 0;
    std::vector<char> buf(1 << 16);
    for (;;) {
        ssize_t n = read(master, buf.data(), buf.size());
        if (n <= 0) break;  // EIO once the program has closed the line
        if (s.out.empty()) s.first = Clock::now();
        s.last = Clock::now();
        s.out.append(buf.data(), size_t(n));
        while (step < steps.size()) {
            size_t at = s.out.find(steps[step].expect, searchFrom);
            if (at == std::string::npos) {
                size_t keep = steps[step].expect.size();
                searchFrom = s.out.size() > keep ? s.out.size() - keep : 0;
                break;
            }
            s.matched.push_back(s.last);
            searchFrom = at + steps[step].expect.size();
            if (!steps[step].send.empty()) {
                if (step == 0) s.sent = Clock::now();
                if (write(master, steps[step].send.data(), steps[step].send.size()) < 0) break;
            }
            ++step;
        }
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (step < steps.size()) {
        std::fprintf(stderr, "%s: \"%s\" never came\n", argv[0].c_str(), steps[step].expect.c_str());
        std::exit(1);
    }
    return s;
}

// The wall time of a command whose standard output goes to a file, in the
// C locale (byte-wise, as the caller program compares).  Not /dev/null:
// grep stops at the first match when nobody reads its output.
double TimeCommand(const std::vector<std::string>& argv, const fs::path& outFile) {
    auto t = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("LC_ALL", "C", 1);
        int fd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
        std::vector<char*> args;
        for (auto a : argv) args.push_back(strdup(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return Since(t);
}

// A file area of count entries: the files (sparse, of growing sizes) and a
// described list where every fifth entry has a second line and every
// 1000th holds the keyword "needle".
void WriteFileArea(const fs::path& dir, int count) {
    fs::create_directories(dir);
    std::ofstream list(dir / "files.bbs");
    for (int i = 1; i <= count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%05d.ZIP", i);
        int fd = open((dir / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            if (ftruncate(fd, off_t(i) * 37) != 0) std::exit(1);
            close(fd);
        }
        char line[160];
        std::snprintf(line, sizeof line, "%-14s %s utility number %d for the modem and the terminal%s\n", name,
                      i % 1000 == 0 ? "Needle" : "Handy", i, i % 3 == 0 ? ", with sources" : "");
        list << line;
        if (i % 5 == 0) list << " and a second line that tells more about it\n";
    }
}

// msghdr.bbs of count headers in area 0; every 10,007th subject holds
// "Needle".
void WriteHeaders(const fs::path& file, int count) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> block;
    for (int i = 1; i <= count; ++i) {
        MsgHeader h;
        BuildMessageHeader(h, "Recipient " + std::to_string(i % 500), i % 10007 == 0 ? "Needle in the base" : "Timing run",
                           0, 0, 0, false, std::nullopt, false, false, "Bench Writer");
        h.MsgNumber = i;
        auto b = EncodeRecord(h);
        block.insert(block.end(), b.begin(), b.end());
        if (block.size() >= (1 << 20)) {
            out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
            block.clear();
        }
    }
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    int entries = argc > 2 ? std::atoi(argv[2]) : 10000;
    int messages = argc > 3 ? std::atoi(argv[3]) : 1000000;
    test::TempBoard board;
    fs::path area = board.root() / "files" / "bench";
    board.Set("FileAreas[1].AreaDir", area.string());
    WriteFileArea(area, entries);
    WriteHeaders(board.MsgBaseDir() / kMsgHeaderFile, messages);
    const std::string probe = bench::ProgramDir(KV_TESTBIN_DIR) + "/kvmenu_probe";
    // KV_BENCH_BEFORE_DIR: an earlier build's probe, measured in the same
    // turns.
    std::string before;
    if (const char* dir = std::getenv("KV_BENCH_BEFORE_DIR"); dir && *dir) before = std::string(dir) + "/kvmenu_probe";
    fs::path scratch = board.root() / "bench.out";

    bench::Pairs listing, header, keyword, listingBefore, keywordBefore;
    double bytes = 0;
    // The listing, then cat of the bytes it sent.
    auto list = [&](const std::string& program, bench::Pairs& into) {
        Session l = RunOnPty({program, "user=1", "options=0", "ansi", "color", "run=31,$F2"}, board.root(),
                             {{"Press a key to go on.", "\r"}, {"done", ""}}, true);
        size_t end = l.out.find("Press a key to go on.");
        std::ofstream(scratch, std::ios::binary).write(l.out.data(), std::streamsize(end));
        bytes = double(end);
        Session c = RunOnPty({"cat", scratch.string()}, board.root(), {}, false);
        into.Add(std::chrono::duration<double>(l.matched[0] - l.first).count(),
                 std::chrono::duration<double>(c.last - c.first).count());
    };
    for (int r = 0; r < rounds; ++r) {
        list(probe, listing);
        if (!before.empty()) list(before, listingBefore);

        // The keyword search beside grep -i over the lists.
        std::vector<std::string> grepI = {"grep", "-i", "needle"};
        for (int a = 0; a < kFileAreaCount; ++a) {
            const FileAreaDef& d = board.config().FileAreas[size_t(a)];
            if (d.AreaDefined == 0) continue;
            std::string list = !d.ListingPath.empty() ? d.ListingPath : d.AreaDir + "/files.bbs";
            if (a == 1) list = (area / "files.bbs").string();
            if (fs::exists(list)) grepI.push_back(list);
        }
        auto search = [&](const std::string& program) {
            Session k = RunOnPty({program, "user=1", "options=0", "run=35"}, board.root(),
                                 {{"Keyword to look for: ", "needle\r"},
                                  {"Press any key to continue...", "\r"},
                                  {"done", ""}},
                                 true);
            return std::chrono::duration<double>(k.matched[1] - k.sent).count();
        };
        auto [found, grep] = bench::InTurn(r, [&] { return search(probe); }, [&] { return TimeCommand(grepI, scratch); });
        keyword.Add(found, grep);
        if (before.empty()) continue;
        auto [foundBefore, grepToo] =
            bench::InTurn(r, [&] { return search(before); }, [&] { return TimeCommand(grepI, scratch); });
        keywordBefore.Add(foundBefore, grepToo);
    }

    // The header search runs in this process, as the read command calls it.
    fs::current_path(board.root());
    if (!test::StartProbeCallOnBoard("bench.log")) return 1;
    char user[] = "user=1";
    char* userArgv[] = {argv[0], user};
    if (test::LoadProbeCaller(2, userArgv) < 0) return 1;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || dup2(slave, 0) < 0) return 1;
    std::string fieldKeys = caller::GetText(278);
    fs::path headers = board.MsgBaseDir() / kMsgHeaderFile;
    int hits = 0;
    for (int r = 0; r < rounds; ++r) {
        auto [own, grep] = bench::InTurn(
            r,
            [&] {
                caller::MessageList found;
                auto t = Clock::now();
                hits = caller::SearchMessages(0, 0, "needle", fieldKeys[0], found, fieldKeys);
                return Since(t);
            },
            [&] { return TimeCommand({"grep", "-a", "-c", "Needle", headers.string()}, scratch); });
        header.Add(own, grep);
    }

    bench::PrintHeading();
    listing.Print("listing with descriptions", std::to_string(entries).c_str(), "cat through a pty");
    if (!before.empty()) listingBefore.Print("  the earlier build's", std::to_string(entries).c_str(), "cat through a pty");
    keyword.Print("keyword file search", std::to_string(entries).c_str(), "grep -i over the lists");
    if (!before.empty()) keywordBefore.Print("  the earlier build's", std::to_string(entries).c_str(), "grep -i over the lists");
    header.Print("header text search", std::to_string(messages).c_str(), "grep -a -c msghdr.bbs");
    std::printf("listing: %.0f bytes; header search: %d hits\n", bytes, hits);
    return 0;
}
