// The sender at the far end of a test line.
#pragma once

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace kv::test {

// Once sz at the far end has ended.  The receiver on the line clears its
// input before its last frame and may so lose sz's closing "OO"; it then
// waits out three timeouts of ten seconds.  When it still runs a moment
// later, it gets the "OO" once more.
inline void NudgeReceiver(PtySession& s) {
    const std::string children =
        "/proc/" + std::to_string(s.pid()) + "/task/" + std::to_string(s.pid()) + "/children";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(1000));
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(children);
        std::string pid;
        if (!(in >> pid)) return;  // the program on the line has ended
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    s.Send("OO");
}

}  // namespace kv::test
