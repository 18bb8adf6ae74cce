// A sample board whose message base the library works on, with the log
// lines it writes caught for the test to inspect.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tests/support/msgbase_reader.h"

namespace kv::test {

class MsgBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfig(board.config());
        SetTextLookup(nullptr);
        SetLogWriter([this](std::string_view line) { log.emplace_back(line); });
    }
    void TearDown() override {
        SetLogWriter(nullptr);
        SetTextLookup(nullptr);
        SetClock(nullptr);
    }

    std::filesystem::path dir() const { return board.MsgBaseDir(); }

    // A header as a caller's message would carry it, for area and recipient.
    static MsgHeader CallerHeader(const std::string& to, int area = 0) {
        MsgHeader h;
        BuildMessageHeader(h, to, "A subject", 0, 0, area, false, std::nullopt, false, false, "Ann Writer");
        return h;
    }

    // Appends a message of the given lines; its number, or 0.
    static int32_t Post(const std::string& to, std::vector<std::string> lines, int area = 0) {
        MsgText text{"Kivo v1.0", std::move(lines)};
        MsgHeader h = CallerHeader(to, area);
        int32_t at = -1;
        return AppendMessage(text, h, at) ? h.MsgNumber : 0;
    }

    bool Logged(const std::string& part) const {
        for (const auto& l : log)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

    TempBoard board;
    std::vector<std::string> log;
};

}  // namespace kv::test
