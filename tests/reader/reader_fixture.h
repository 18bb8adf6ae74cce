// A message base written by the test, message by message: numbers with
// gaps, private and deleted messages, received marks and reply links, the
// way the writers of the system leave them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>

#include "common/lastread.h"
#include "common/msg_records.h"
#include "common/runtime.h"
#include "common/users.h"
#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace kv::test {

struct TestMessage {
    int32_t number = 0;
    int area = 0;
    std::string from = "Sam Sysop";
    std::string to = "All";
    std::string subject = "Hello";
    uint8_t status = MSG_LOCAL;   // MSG_PRIVATE, MSG_DELETED, MSG_RECEIVED ...
    std::vector<std::string> lines = {"Some text."};
    int32_t replyTo = 0;
    int32_t latestReply = 0;
    int32_t timesRead = 0;
};

// Replaces the base in Config()'s MsgBaseDir with these messages, in this
// order (record i is messages[i]); "msginfo.bbs" counts the live ones.
void WriteBase(const std::vector<TestMessage>& messages);

// Users of the sample board, and Ursula, a third caller every test adds.
constexpr int kTerry = 1, kSam = 0, kUrsula = 2;

// A sample board with kvreader_probe on a pseudo-terminal as the caller.
class ReaderSession : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfig(board.config());
        UserRecord u;
        ClearUserRecord(u);
        u.Name = "Ursula User";
        u.Password = "Umbrella";
        u.SecurityLevel = 10;
        u.ScreenLength = 24;
        ASSERT_EQ(AppendUserRecord(u), kUrsula);
        LastReadRecord none;
        ASSERT_TRUE(AddLastReadRecord(kUrsula, none));
    }

    // The probe for a caller, plain (no ANSI) unless settings say so.
    PtySession& Start(int user, std::vector<std::string> steps, std::vector<std::string> settings = {"options=0"}) {
        PtyOptions o;
        o.argv = {ProgramPath("../testbin/kvreader_probe"), "user=" + std::to_string(user)};
        o.argv.insert(o.argv.end(), settings.begin(), settings.end());
        o.argv.insert(o.argv.end(), steps.begin(), steps.end());
        o.dir = board.root();
        o.env = env;
        o.utf8 = utf8;
        session = std::make_unique<PtySession>(o);
        seen = 0;
        return *session;
    }

    // Waits for text, then types keys.
    bool Answer(const std::string& text, const std::string& keys) {
        if (!session->WaitForText(text)) {
            ADD_FAILURE() << "no \"" << text << "\" on the screen:\n" << session->Screen();
            return false;
        }
        session->Send(keys);
        return true;
    }

    // Waits for text in what the probe wrote after the text this waited
    // for last, so a prompt asked again is told from its first time; then
    // types keys.
    bool Next(const std::string& text, const std::string& keys = "") {
        // By the clock: a long listing comes in many small reads.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(6000));
        for (;;) {
            size_t at = session->Output().find(text, seen);
            if (at != std::string::npos) {
                seen = at + text.size();
                session->Send(keys);
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline || !session->Pump(20)) {
                if (session->Output().find(text, seen) != std::string::npos) continue;
                ADD_FAILURE() << "no \"" << text << "\" after:\n" << session->Output().substr(seen);
                return false;
            }
        }
    }

    // The numbers of the message headers shown, in order.
    std::vector<int> Shown() const {
        static const std::regex header("Message #([0-9]+) in ");
        std::vector<int> numbers;
        const std::string& out = session->Output();
        for (std::sregex_iterator it(out.begin(), out.end(), header), end; it != end; ++it)
            numbers.push_back(std::stoi((*it)[1]));
        return numbers;
    }

    // Waits until one of the texts shows; its index, or -1.
    int WaitForAny(const std::vector<std::string>& texts, int timeoutMs = 6000) {
        bool open = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
        while (std::chrono::steady_clock::now() <= deadline) {
            std::string screen = session->Screen();
            for (size_t i = 0; i < texts.size(); ++i)
                if (screen.find(texts[i]) != std::string::npos) return int(i);
            if (!open) break;
            open = session->Pump(20);
        }
        return -1;
    }

    // Runs the read command in the caller's area with one mode (non-stop
    // where the mode asks) and returns the numbers shown.
    std::vector<int> ReadMode(int user, const std::string& mode, const std::string& number = "") {
        Start(user, {"read=/M"});
        EXPECT_TRUE(Answer("Reading mode", mode));
        if (mode == "F" || mode == "B") {
            EXPECT_TRUE(Answer("from message number", number + "\r"));
        } else if (mode == "O") {
            EXPECT_TRUE(Answer("Message number", number + "\r"));
        }
        switch (WaitForAny({"Stop after each message", "[P]ause?", "done"})) {
            case 0:
                session->Send("n");
                EXPECT_TRUE(Answer("No more messages.", " "));
                break;
            case 1:
                session->Send("S");
                break;
            case 2:
                break;
            default:
                ADD_FAILURE() << session->Screen();
        }
        EXPECT_TRUE(session->WaitForText("done", 8000)) << session->Screen();
        EXPECT_EQ(session->Wait(), 0);
        return Shown();
    }

    TempBoard board;
    std::unique_ptr<PtySession> session;
    size_t seen = 0;  // where Next looks from
    std::vector<std::string> env;  // for the probes started from now on
    bool utf8 = false;             // their line's locale and terminal speak UTF-8
};

}  // namespace kv::test
