// kvroster on a pseudo-terminal over a sample board: the program started in
// the board's directory with a UTF-8 terminal of 80x24.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace kv::test {

class RosterTest : public ::testing::Test {
protected:
    std::unique_ptr<PtySession> Start(std::vector<std::string> args = {}, int rows = 24, int cols = 80) {
        PtyOptions o;
        o.argv = {ProgramPath("kvroster")};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.dir = board.root();
        o.utf8 = true;
        o.rows = rows;
        o.cols = cols;
        return std::make_unique<PtySession>(o);
    }
    // A widget alone (tests/programs/kvroster_probe).
    std::unique_ptr<PtySession> Probe(std::vector<std::string> args) {
        PtyOptions o;
        o.argv = {std::string(KV_TESTBIN_DIR) + "/kvroster_probe"};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.dir = board.root();
        o.utf8 = true;
        return std::make_unique<PtySession>(o);
    }
    // Leaves the main menu: Esc and Enter on the quit question.
    static void Quit(PtySession& s) {
        s.Send("\x1b");
        ASSERT_TRUE(s.WaitForText("About to leave kvroster"));
        s.Send("\r");
        EXPECT_EQ(s.Wait(), 0);
    }

    TempBoard board;
};

}  // namespace kv::test
