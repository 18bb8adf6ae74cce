// Running the real kvhubd in a test: it forks into the background, so the
// test process makes itself the subreaper of its descendants to collect the
// daemon's exit status, and kills whatever is still running at the end.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/segment.h"
#include "tests/support/board.h"

namespace kv::test {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts kvhubd with args in the board's root; returns its pid, or -1
    // when it did not start (the run's result is in last_).
    pid_t StartServer(const TempBoard& b, const std::vector<std::string>& args = {});
    // Runs a tool (kvhalt, kvrefresh) in the board's root.
    RunResult RunTool(const TempBoard& b, const std::string& name);
    // Ends a server with SIGTERM (SIGKILL when it does not go) and removes
    // any segment it left, so that the next start in this test finds none.
    void StopServer(pid_t pid);
    // The server's exit status once it has ended, or -1 after timeoutMs.
    int WaitForExit(pid_t pid, int timeoutMs = 5000);
    // Writes one record into the board's command pipe.
    void SendCommand(const TempBoard& b, int16_t code);

    RunResult last_;
    std::vector<pid_t> running_;
};

// The server's log, and a wait until it holds text.
std::string ServerLog(const TempBoard& b);
bool WaitForLog(const TempBoard& b, const std::string& text, int timeoutMs = 5000);

// The segment of key 1138 in this test's IPC namespace: its id, or -1.
int SegmentId();

// A private attachment of the segment, as a caller program holds it.
class Attachment {
public:
    Attachment();
    ~Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    const uint8_t* data() const { return p_; }

private:
    uint8_t* p_ = nullptr;
};

}  // namespace kv::test
