// The pieces of the line editor that need no terminal: the message buffer,
// the quote prefix and the loading (quoting, re-wrapping) of earlier texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "caller/areas/line_editor.h"
#include "caller/areas/message_buffer.h"
#include "caller/term/call_state.h"
#include "common/msg_records.h"
#include "common/runtime.h"
#include "tests/support/text_segment.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::caller;

namespace {

std::vector<std::string> LinesOf(const MessageBuffer& b) {
    std::vector<std::string> v;
    for (int n = 1; n <= b.Lines(); ++n) v.push_back(b.LineText(n));
    return v;
}

MessageBuffer NewBuffer() { return *MessageBuffer::Make(MessageBuffer::kStartKB); }

TEST(MessageBuffer, SlotsAreFixedAndTheTextEndsAtTheEndByte) {
    MessageBuffer b = NewBuffer();
    ASSERT_TRUE(b.AppendLine("two"));
    ASSERT_TRUE(b.InsertLine(1, "one"));
    ASSERT_TRUE(b.AppendLine("four"));
    ASSERT_TRUE(b.InsertLine(3, "three"));
    ASSERT_TRUE(b.AppendLine(std::string(80, 'x')));  // cut to its slot
    b.ReplaceLine(2, "TWO\nend\x1A");                 // cannot end the slot or the text
    EXPECT_EQ(LinesOf(b), (std::vector<std::string>{"one", "TWO end", "three", "four", std::string(72, 'x')}));
    EXPECT_EQ(b.Used(), 5 * MessageBuffer::kSlotSize);

    b.RemoveLines(2, 4);
    b.RemoveLines(3, 2);  // nonsense ranges change nothing
    b.RemoveLines(0, 1);
    b.RemoveLines(2, 3);
    EXPECT_EQ(LinesOf(b), (std::vector<std::string>{"one", std::string(72, 'x')}));

    b.Finish();
    b.Finish();  // once is enough
    std::string want = "one" + std::string(69, ' ') + "\n" + std::string(72, 'x') + "\n\x1A";
    EXPECT_EQ(b.Text(), want);
    MsgText t = TextFromBuffer("Kivo v1.0", b.Text());
    EXPECT_EQ(t.Lines, (std::vector<std::string>{"one", std::string(72, 'x')}));

    // A change after Finish takes the end byte away until the next Finish.
    b.AppendLine("more");
    EXPECT_EQ(b.Text().size(), 3 * MessageBuffer::kSlotSize);
}

TEST(MessageBuffer, GrowsByFourKilobytesBeforeASlotWouldReachTheCapacity) {
    MessageBuffer b = NewBuffer();
    EXPECT_EQ(b.CapacityKB(), 8u);
    // 112 slots are 8176 bytes: the 112th still fits below 8192 - 73.
    for (int i = 0; i < 112; ++i) ASSERT_TRUE(b.AppendLine("line"));
    EXPECT_EQ(b.CapacityKB(), 8u);
    ASSERT_TRUE(b.AppendLine("line"));
    EXPECT_EQ(b.CapacityKB(), 12u);
    EXPECT_FALSE(b.Full());
}

TEST(MessageBuffer, AnAttachNoticeIsTakenAsItStands) {
    MessageBuffer b = MessageBuffer::FromText("/work/f.zip (12 bytes)\r\n");
    EXPECT_EQ(b.Text(), "/work/f.zip (12 bytes)\r\n\x1A");
    EXPECT_EQ(TextFromBuffer("Kivo v1.0", b.Text()).Lines, (std::vector<std::string>{"/work/f.zip (12 bytes)"}));
}

TEST(QuotePrefix, TemplateWithInitials) {
    struct Case {
        const char* tmpl;
        const char* sender;
        const char* want;
    } cases[] = {
        {"@> ", "John Doe", "JD> "},
        {"@> ", "Madonna", "M> "},
        {"@> ", "Mary Ann Smith", "MA> "},  // the first blank only
        {"@> ", "John ", "J> "},            // nothing after the blank
        {"@> ", "  Ann Lee", "AL> "},
        {"@> ", "", "> "},
        {"@@", "Ann Lee", "ALAL"},
        {"> ", "John Doe", "> "},
        {"", "John Doe", ""},
        {"[@]xyz", "Ann Lee", "[AL]x"},  // a template has 4 characters at most
    };
    for (const Case& c : cases) EXPECT_EQ(MakeQuotePrefix(c.tmpl, c.sender), c.want) << c.tmpl << " " << c.sender;
}

// A message base directory with texts written byte for byte, and the
// sample texts bound, as a call has them.
class Loading : public ::testing::Test {
protected:
    void SetUp() override {
        static std::vector<uint8_t> texts = test::SampleTextSegment();
        Call().Segment = texts.data();
        SelectMessageFile(0);
        char tmpl[] = "/tmp/kveditor.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ConfigRecord c;
        c.MsgBaseDir = dir_.string();
        c.QuoteTemplate = "@> ";
        c.MsgAreas[4].AreaName = "Chatter";
        SetConfig(c);
        Call().CallerName = "Terry Tester";
    }
    void TearDown() override {
        fs::remove_all(dir_);
        Call().Segment = nullptr;
    }

    // Appends a text to msgtxt.bbs as raw bytes; a header pointing at it.
    MsgHeader Source(const std::string& bytes, const std::string& from = "John Doe",
                     const std::string& to = "Terry Tester") {
        std::string path = (dir_ / kMsgTextFile).string();
        MsgHeader h;
        h.TextOffset = int32_t(fs::exists(path) ? fs::file_size(path) : 0);
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
        h.FromName = from;
        h.ToName = to;
        h.MsgArea = 4;
        h.DateText = "05/06/24";
        h.TimeText = "10:11:12";
        return h;
    }

    static std::string Stored(const std::vector<std::string>& lines) {
        std::string s = "\x01PID: Kivo v1.0\n";
        for (const auto& l : lines) s += l + "\n";
        return s + "\x1A";
    }

    fs::path dir_;
};

// Words of four letters up to a length: "w001 w002 ...".
std::string Words(size_t length, int first = 1) {
    std::string s;
    for (int i = first; s.size() < length; ++i) {
        char w[16];
        std::snprintf(w, sizeof w, "w%03d", i);
        if (!s.empty()) s += ' ';
        s += w;
    }
    return s.substr(0, length);
}

TEST_F(Loading, QuotedLinesAreReWrappedToTheirSlot) {
    // With "JD> " four columns go to the prefix: 68 are left for the text.
    const std::string w100 = Words(99);           // w001 ... w020 (99 characters)
    const std::string head = Words(64);           // w001 ... w013: the last blank at or before 68 is at 64
    const std::string tail = Words(34, 14);       // w014 ... w020
    struct Case {
        const char* name;
        std::vector<std::string> text;
        int limit;
        std::vector<std::string> want;
    } cases[] = {
        {"short lines keep their place", {"Hello", "", "  indented  "}, 999, {"JD> Hello", "JD>", "JD>   indented"}},
        {"control lines are never quoted", {"\x01MSGID: 7", "Hi"}, 999, {"JD> Hi"}},
        {"a long line runs on into the next", {w100, "next"}, 999, {"JD> " + head, "JD> " + tail + " next"}},
        {"a blank line keeps paragraphs apart", {w100, "", "after"}, 999,
         {"JD> " + head, "JD> " + tail, "JD>", "JD> after"}},
        {"the last words are not lost", {w100}, 999, {"JD> " + head, "JD> " + tail}},
        {"a word longer than the line is cut, not dropped", {std::string(80, 'x')}, 999,
         {"JD> " + std::string(68, 'x'), "JD> " + std::string(12, 'x')}},
        {"the limit stops the loading", {"1", "2", "3", "4", "5"}, 3, {"JD> 1", "JD> 2", "JD> 3"}},
        {"the limit counts wrapped lines", {w100, "next"}, 1, {"JD> " + head}},
    };
    for (const Case& c : cases) {
        MsgHeader h = Source(Stored(c.text));
        MessageBuffer b = NewBuffer();
        int added = LoadMessageText(h, b, c.limit, false);
        EXPECT_EQ(LinesOf(b), c.want) << c.name;
        EXPECT_EQ(added, int(c.want.size())) << c.name;
        for (int n = 1; n <= b.Lines(); ++n) EXPECT_EQ(b.Slot(n).size(), MessageBuffer::kSlotSize) << c.name;
    }
}

TEST_F(Loading, TheTextEndsAtItsEndByteAndNothingOfTheNextIsTaken) {
    Source(Stored({"first message"}));
    MsgHeader h = Source("\x01PID: Kivo v1.0\nabc\x1A" "def\nmore\n\x1A");
    Source(Stored({"third message"}));
    MessageBuffer b = NewBuffer();
    EXPECT_EQ(LoadMessageText(h, b, 999, false), 1);
    EXPECT_EQ(LinesOf(b), (std::vector<std::string>{"JD> abc"}));
}

TEST_F(Loading, HeadingOfAReplyToSomebodyElse) {
    MessageBuffer own = NewBuffer();
    LoadMessageText(Source(Stored({"Hi"})), own, 999, false);
    EXPECT_EQ(LinesOf(own), (std::vector<std::string>{"JD> Hi"}));

    MessageBuffer other = NewBuffer();
    LoadMessageText(Source(Stored({"Hi"}), "John Doe", "Pat Other"), other, 999, false);
    EXPECT_EQ(LinesOf(other), (std::vector<std::string>{"*** Written to Pat Other:", "JD> Hi"}));

    // A recipient of 60 characters makes the heading wrap, not overrun.
    std::string longName = Words(59);
    MessageBuffer wide = NewBuffer();
    LoadMessageText(Source(Stored({"Hi"}), "John Doe", longName), wide, 999, false);
    ASSERT_EQ(wide.Lines(), 3);
    EXPECT_EQ(wide.LineText(1) + " " + wide.LineText(2), "*** Written to " + longName + ":");
    EXPECT_LE(wide.LineText(1).size(), 72u);
}

TEST_F(Loading, AForwardComesUnquotedUnderItsHeading) {
    MsgHeader h = Source(Stored({"Body line", Words(99)}), "John Doe", "Pat Other");
    MessageBuffer b = NewBuffer();
    int added = LoadMessageText(h, b, 999, true);
    EXPECT_EQ(LinesOf(b), (std::vector<std::string>{
                              "*** Forwarded message ***", "From    : John Doe", "To      : Pat Other",
                              "Written : 05/06/24 10:11:12", "Area    : Chatter",
                              "Forwarded by Terry Tester with Kivo v1.0", "", "Body line", Words(69), Words(29, 15)}));
    EXPECT_EQ(added, 10);
}

TEST_F(Loading, AFileIsReadFromItsStartWithoutQuote) {
    std::string path = (dir_ / "upload.txt").string();
    std::ofstream(path, std::ios::binary) << Words(99) << "\r\nsecond\n";
    MsgHeader h;
    h.ToName = "Terry Tester";
    h.TextOffset = 0;
    MessageBuffer b = NewBuffer();
    EXPECT_EQ(LoadMessageText(h, b, 999, false, path), 2);
    EXPECT_EQ(LinesOf(b), (std::vector<std::string>{Words(69), Words(29, 15) + " second"}));

    MessageBuffer none = NewBuffer();
    EXPECT_EQ(LoadMessageText(h, none, 999, false, (dir_ / "missing").string()), 0);
}

}  // namespace
