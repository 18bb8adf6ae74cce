// kvroster on a pseudo-terminal over a sample board: the program started in
// the board's directory with a UTF-8 terminal of 80x24.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/lastread.h"
#include "common/record_io.h"
#include "common/user_record.h"

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

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

inline UserRecord Person(int n) {
    UserRecord r;
    r.Name = n == 0 ? "Sam Sysop" : "User " + std::to_string(n);
    r.Location = "Town " + std::to_string(n);
    r.Password = "Secret";
    r.SecurityLevel = n == 0 ? 64000 : 10 + n;
    r.TotalCalls = uint32_t(100 + n);
    r.LastCallDate = "24/01/02";
    r.LastCallTime = "10:11:12";
    r.Flags = {uint8_t(n), 0, 0, 0x80};
    r.Options = USER_CLEAR_SCREEN;
    r.ScreenLength = 24;
    r.ScanAreas.fill(0xff);
    r.FirstCallDate = "23/12/31";
    r.SubscriptionEnd = "00/00/00";
    if (n == 0) r.Alias = "sysop";
    return r;
}

// A board whose users file the test writes.
class RosterUsersTest : public RosterTest {
protected:
    void WriteUsers(int count) {
        std::string users, lastread;
        for (int n = 0; n < count; ++n) {
            UserBytes b = EncodeUserRecord(Person(n));
            users.append(reinterpret_cast<const char*>(b.data()), b.size());
            LastReadRecord lr;
            lr.LastRead[0] = uint32_t(n);
            auto lb = EncodeRecord(lr);
            lastread.append(reinterpret_cast<const char*>(lb.data()), lb.size());
        }
        std::ofstream(UsersFile(), std::ios::binary | std::ios::trunc) << users;
        std::ofstream(LastReadFile(), std::ios::binary | std::ios::trunc) << lastread;
    }
    fs::path UsersFile() const { return board.DataDir() / "users.bbs"; }
    fs::path LastReadFile() const { return board.MsgBaseDir() / "lastread.bbs"; }
    UserRecord Record(int n) {
        std::string all = ReadAll(UsersFile());
        return DecodeUserRecord(reinterpret_cast<const uint8_t*>(all.data()) + size_t(n) * kUserRecordSize);
    }
    // Into the browse list from the main menu.
    std::unique_ptr<PtySession> StartBrowsing() {
        auto s = Start();
        EXPECT_TRUE(s->WaitForText(" Browse "));
        s->Send("\r");
        EXPECT_TRUE(s->WaitForText("<F2/Find/Tog/Del/Val>"));
        return s;
    }
};

}  // namespace kv::test
