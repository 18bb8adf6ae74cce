// Reads a whole message base back, record by record, so that a test can
// state what the five files hold.  It reads the files directly with the
// record codecs and takes no lock; use it once the writers are done.
//
//     test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
//     ASSERT_TRUE(base.InStep()) << base.Problem();
//     EXPECT_EQ(base.messages[0].header.ToName, "Joe Caller");
//     EXPECT_EQ(base.messages[0].text.Lines, (std::vector<std::string>{"Hello"}));
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/msg_records.h"

namespace kv::test {

// Record i of the three parallel files, and the text its header points at.
struct StoredMessage {
    MsgIndexRecord index;    // "msgidx.bbs"
    std::string recipient;   // "msgtoidx.bbs"
    MsgHeader header;        // "msghdr.bbs"
    MsgText text;            // "msgtxt.bbs" at header.TextOffset
    bool textEnded = false;  // the text had its 0x1A end byte
};

struct MsgBaseContents {
    std::optional<MsgInfoRecord> info;     // none when "msginfo.bbs" is missing
    std::vector<StoredMessage> messages;   // as many as the shortest parallel file holds
    // Raw sizes in bytes (0 for a missing file).
    size_t textBytes = 0, indexBytes = 0, toIndexBytes = 0, headerBytes = 0, infoBytes = 0;

    // The three parallel files hold the same number of whole records.
    bool InStep() const;
    // What is out of step, for a test's failure message; empty when in step.
    std::string Problem() const;
};

MsgBaseContents ReadMsgBase(const std::filesystem::path& dir);

// The whole of one file of the base, "" when it is missing.
std::string ReadBaseFile(const std::filesystem::path& dir, const char* name);

}  // namespace kv::test
