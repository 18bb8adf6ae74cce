// What a flood of output costs the line: the system calls of the output and
// of the key polls that a listing makes, counted by the kernel for this
// process (/proc/self/io).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "caller/call/menus.h"
#include "caller/term/call_state.h"
#include "caller/term/screen.h"

using namespace kv::caller;
using Clock = std::chrono::steady_clock;

namespace {

// Read and write system calls of this process so far.
struct IoCalls {
    long reads = 0, writes = 0;
};
IoCalls Calls() {
    IoCalls c;
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        long v = 0;
        io >> v;
        if (key == "syscr:") c.reads = v;
        if (key == "syscw:") c.writes = v;
    }
    return c;
}

// A pipe in place of a standard descriptor (none for -1) while the object
// lives.
class PipeAs {
public:
    explicit PipeAs(int fd) : fd_(fd), saved_(fd >= 0 ? dup(fd) : -1) {
        if (pipe(ends_) != 0) ADD_FAILURE() << "pipe";
        fcntl(ends_[0], F_SETFL, O_NONBLOCK);
        fcntl(ends_[1], F_SETFL, O_NONBLOCK);
        if (fd >= 0) dup2(fd == 0 ? ends_[0] : ends_[1], fd);
    }
    ~PipeAs() {
        if (fd_ >= 0) dup2(saved_, fd_);
        if (saved_ >= 0) close(saved_);
        close(ends_[0]);
        close(ends_[1]);
    }
    int WriteEnd() const { return ends_[1]; }
    std::string Drain() const {
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = read(ends_[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
        return out;
    }

private:
    int fd_, saved_;
    int ends_[2] = {-1, -1};
};

std::string Flood(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + " of the flood\n\r";
    s.resize(n);
    return s;
}

}  // namespace

// A flood leaves in writes of kilobytes, to the line and to the monitor
// alike; an output delay that paces a slow line still sends each byte on
// its own.  (What is checked is checked with standard output back.)
TEST(OutputBursts, AFloodLeavesInKilobytesUnlessALineIsPaced) {
    struct Case {
        const char* what;
        int16_t delay;
        bool monitored;
        long maxWrites;
    };
    const std::string text = Flood(20000);
    const Case cases[] = {
        {"plain", 0, false, 20},
        {"monitored", 0, true, 2 * 20},
        {"paced", 2, false, 20000},
    };
    for (const Case& c : cases) {
        long writes = 0;
        std::string sent, copied;
        {
            PipeAs line(1), monitor(-1);
            Call() = CallState{};
            Call().OutputDelay = c.delay;
            Call().Monitoring = c.monitored;
            Call().MonitorFd = c.monitored ? monitor.WriteEnd() : -1;
            IoCalls before = Calls();
            PutString(text);
            FlushOutput();
            writes = Calls().writes - before.writes;
            sent = line.Drain();
            copied = monitor.Drain();
            Call() = CallState{};
        }
        EXPECT_LE(writes, c.maxWrites) << c.what;
        if (c.delay != 0) {
            EXPECT_EQ(writes, long(text.size())) << c.what;
        }
        EXPECT_EQ(sent, text) << c.what;
        EXPECT_EQ(copied, c.monitored ? text : "") << c.what;
    }
}

// A listing that looks for a key after every byte asks the line only every
// few milliseconds (or after output went out), and still sees the stop
// key soon after it comes.
TEST(KeyPolls, ALongListingAsksTheLineRarelyAndStillStops) {
    constexpr int kBytes = 400000;
    long reads = 0, ms = 0;
    bool early = false, stopped = false;
    int index = 0;
    {
        PipeAs line(1), keys(0);
        Call() = CallState{};
        IoCalls before = Calls();
        auto start = Clock::now();
        for (int i = 0; i < kBytes; ++i) {
            PutChar('x');
            if (i % 4096 == 0) line.Drain();  // the caller's terminal reads on
            early = early || HotKeyPressed(index, 2, "SP");
        }
        ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        reads = Calls().reads - before.reads;

        if (write(keys.WriteEnd(), "s", 1) != 1) ADD_FAILURE() << "write";
        for (auto typed = Clock::now(); !stopped && Clock::now() - typed < std::chrono::seconds(10);) {
            PutChar('x');
            stopped = HotKeyPressed(index, 2, "SP");
            line.Drain();
        }
        FlushOutput();
        line.Drain();
        Call() = CallState{};
    }
    EXPECT_FALSE(early);
    // The reads of the key polls and of the drains above (two each, and the
    // reading of the count itself), no more.
    long flushes = kBytes / 4096 + 1;
    EXPECT_LE(reads, 3 * flushes + ms / 4 + 4) << ms << " ms";
    EXPECT_TRUE(stopped);
    EXPECT_EQ(index, 0);
}
