// A sample board whose message base a test fills through the append API,
// then hands to kvprune run as a process; the files are read back after.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tests/support/msgbase_reader.h"

namespace kv::test {

// Noon, so that whole days before it never cross a date line by accident.
constexpr time_t kPruneNow = 1700049600;  // 2023-11-15 12:00 UTC
constexpr time_t kDay = 24 * 60 * 60;

// One message a test posts.
struct PostSpec {
    int area = 0;
    int daysAgo = 0;
    uint8_t status = 0;            // added to MSG_LOCAL, e.g. MSG_RECEIVED
    int32_t replyTo = 0;
    std::vector<std::string> lines = {"Hello"};
    const char* dateText = nullptr;  // instead of the date of daysAgo
};

class PruneTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfig(board.config());
        SetLogWriter([this](std::string_view line) { log.emplace_back(line); });
    }
    void TearDown() override {
        SetLogWriter(nullptr);
        SetClock(nullptr);
    }

    // After board.Set: the test process writes with the new configuration.
    void Reconfigure() { SetConfig(board.config()); }

    std::filesystem::path dir() const { return board.MsgBaseDir(); }

    // Appends the message, written daysAgo days before kPruneNow; its number.
    int32_t Post(const PostSpec& p) {
        time_t at = kPruneNow - p.daysAgo * kDay;
        SetClock([at] { return at; });
        MsgHeader h;
        BuildMessageHeader(h, "Joe Caller", "A subject", 0, 0, p.area, false,
                           p.replyTo ? std::optional<int32_t>(p.replyTo) : std::nullopt, false, false,
                           "Ann Writer");
        h.Status |= p.status;
        if (p.dateText) h.DateText = p.dateText;
        int32_t offset = 0;
        bool ok = AppendMessage(MsgText{"Kivo v1.0", p.lines}, h, offset);
        SetClock(nullptr);
        EXPECT_TRUE(ok);
        return ok ? h.MsgNumber : 0;
    }

    // Sets LatestReply of the message at a record.
    void SetLatestReply(int32_t record, int32_t reply) {
        MsgHeader h;
        ASSERT_TRUE(ReadMessageHeader(h, record));
        h.LatestReply = reply;
        ASSERT_TRUE(WriteMessageHeader(h, record));
    }

    RunResult Prune(std::vector<std::string> args) {
        args.insert(args.begin(), ProgramPath("kvprune"));
        return RunProgram(args, board.root(), {"KV_TEST_NOW=" + std::to_string(kPruneNow)});
    }

    std::string PruneLogText() const { return board.ReadFile(board.DataDir() / "kivo0.log"); }

    // The numbers of the live messages, in record order.
    std::vector<int32_t> LiveNumbers() const {
        std::vector<int32_t> out;
        for (const StoredMessage& m : ReadMsgBase(dir()).messages)
            if (m.index.MsgNumber > 0) out.push_back(m.index.MsgNumber);
        return out;
    }

    TempBoard board;
    std::vector<std::string> log;
};

}  // namespace kv::test
