// The prompt probe on a pseudo-terminal in a sample board.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace kv::test {

// kvprompt_probe with these arguments, in the board's directory; with utf8
// the line's locale and terminal speak UTF-8.
inline PtyOptions ProbeOptions(const TempBoard& board, const std::vector<std::string>& args, bool utf8 = false) {
    PtyOptions o;
    o.utf8 = utf8;
    o.argv = {std::string(KV_TESTBIN_DIR) + "/kvprompt_probe"};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.dir = board.root();
    return o;
}

// The probe started and past its set-up: keys sent from now on reach the
// steps (the switch to raw mode drops what came before).
inline std::unique_ptr<PtySession> StartProbe(const TempBoard& board, std::vector<std::string> args,
                                              bool utf8 = false) {
    args.insert(args.begin(), "say=ready");
    auto s = std::make_unique<PtySession>(ProbeOptions(board, args, utf8));
    if (!s->WaitForOutput("ready\n")) throw std::runtime_error("the probe did not start: " + s->Screen());
    return s;
}

// How often bytes occur in the output so far (bells, prompts).
inline int CountOf(const std::string& output, const std::string& bytes) {
    int n = 0;
    for (size_t at = output.find(bytes); at != std::string::npos; at = output.find(bytes, at + bytes.size())) ++n;
    return n;
}

}  // namespace kv::test
