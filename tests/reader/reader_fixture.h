// A message base written by the test, message by message: numbers with
// gaps, private and deleted messages, received marks and reply links, the
// way the writers of the system leave them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/msg_records.h"

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

}  // namespace kv::test
