// Loading a message-text file into a slot: numbering, quotes, escapes and
// the slot's limits.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/segment.h"
#include "server/message_file.h"
#include "tests/support/board.h"

using namespace kv;

namespace {

struct LoadCase {
    const char* name;
    std::string body;
    int ok;
    int last;
    std::map<int, std::string> texts;  // some texts of the slot afterwards
};

std::string Numbered(int count, size_t width) {
    std::string out;
    for (int i = 0; i < count; ++i) out += std::to_string(i) + " \"" + std::string(width, 'x') + "\"\n";
    return out;
}

TEST(MessageFile, LoadsTextsAndStopsAtTheFirstBadLine) {
    const std::vector<LoadCase> cases = {
        {"comments, blanks and escapes",
         "# texts\n\n0 \"NY\"\n1 \"a\\nb\\rc\\bd\"\n2 \"say \\\"hi\\\"\"   \n3 \"back\\\\slash\"\n4 \"ends \\\"\n5 \"\"\n",
         1, 5,
         {{0, "NY"}, {1, "a\nb\rc\bd"}, {2, "say \"hi\""}, {3, "back\\slash"}, {4, "ends \\"}, {5, ""}}},
        {"lines ended by CR LF", "0 \"NY\"\r\n\r\n1 \"two\"\r\n", 1, 1, {{1, "two"}}},
        {"a gap in the numbering", "0 \"NY\"\n1 \"one\"\n3 \"three\"\n", 0, 1, {{1, "one"}, {2, ""}, {3, ""}}},
        {"a line without a quote", "0 \"NY\"\n1 one\n", 0, 0, {{0, "NY"}}},
        {"a line without a number", "0 \"NY\"\n\"one\"\n", 0, 0, {{0, "NY"}}},
        {"more than 1000 texts", Numbered(1001, 1), 0, 999, {{999, "x"}}},
        {"more than 30000 bytes", Numbered(2, 20000), 0, 0, {{0, std::string(20000, 'x')}, {1, ""}}},
        {"exactly 30000 bytes", Numbered(2, 14999), 1, 1, {{1, std::string(14999, 'x')}}},
    };
    test::TempBoard b;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int slot : {0, 1}) {
            b.WriteFile("message.tst", c.body);
            std::vector<uint8_t> seg(kSegmentSize, 0xee);
            EXPECT_EQ(server::LoadTextFile((b.root() / "message.tst").string(), seg.data(), slot), c.ok);
            SegmentHeader h;
            DecodeRecord(seg.data(), h);
            EXPECT_EQ(h.LastText[slot], c.last);
            for (const auto& [n, text] : c.texts) EXPECT_EQ(SegmentText(seg.data(), slot, n), text) << n;
        }
    }
}

TEST(MessageFile, MissingFileLoadsNothing) {
    std::vector<uint8_t> seg(kSegmentSize, 0);
    EXPECT_EQ(server::LoadTextFile("/nonexistent/message.usa", seg.data(), 0), 0);
    SegmentHeader h;
    DecodeRecord(seg.data(), h);
    EXPECT_EQ(h.LastText[0], -1);
}

}  // namespace
