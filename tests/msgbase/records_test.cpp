// The byte layouts of the message-base records and of a stored text.
#include <gtest/gtest.h>

#include <cstring>

#include "common/lastread.h"
#include "common/msg_records.h"

namespace kv {
namespace {

struct IntField {
    const char* name;
    size_t offset, width;
    int64_t value;
};

// Reads a little-endian integer of 1, 2 or 4 bytes, sign-extended.
int64_t IntAt(const uint8_t* p, size_t width) {
    if (width == 1) return p[0];
    if (width == 2) return int16_t(GetLE16(p));
    return int32_t(GetLE32(p));
}

MsgHeader SampleHeader() {
    MsgHeader h;
    h.MsgNumber = 123456;
    h.TextOffset = 0x01020304;
    h.MsgArea = 42;
    h.FromName = "Ann Writer";
    h.ToName = "Joe Caller";
    h.Subject = "Quarterly meeting";
    h.DateText = "24/03/07";
    h.TimeText = "12:34:56";
    h.TimesRead = 7;
    h.WrittenAt = 1700000000;
    h.ImportedAt = 1700000999;
    h.Status = MSG_LOCAL | MSG_PRIVATE;
    h.MailFlags = MAIL_SEND_NOW | MAIL_KILL_SENT;
    h.ReplyTo = -5;
    h.LatestReply = 99;
    return h;
}

TEST(MsgRecords, HeaderFieldsSitAtTheirOffsets) {
    MsgHeader h = SampleHeader();
    auto b = EncodeRecord(h);
    const IntField ints[] = {
        {"MsgNumber", 0, 4, 123456},      {"TextOffset", 4, 4, 0x01020304}, {"MsgArea", 8, 2, 42},
        {"TimesRead", 224, 4, 7},         {"WrittenAt", 248, 4, 1700000000}, {"ImportedAt", 252, 4, 1700000999},
        {"Status", 256, 1, 0x48},         {"MailFlags", 257, 1, 0x09},      {"ReplyTo", 260, 4, -5},
        {"LatestReply", 264, 4, 99},
    };
    for (const auto& f : ints) EXPECT_EQ(IntAt(b.data() + f.offset, f.width), f.value) << f.name;
    const struct {
        size_t offset, width;
        const char* text;
    } texts[] = {{10, 61, "Ann Writer"}, {71, 61, "Joe Caller"}, {132, 72, "Quarterly meeting"},
                 {204, 9, "24/03/07"},   {213, 9, "12:34:56"}};
    for (const auto& t : texts) {
        EXPECT_EQ(GetText(b.data() + t.offset, t.width), t.text);
        EXPECT_EQ(b[t.offset + t.width - 1], 0) << "field at " << t.offset << " not NUL-ended";
    }

    MsgHeader back;
    DecodeRecord(b.data(), back);
    EXPECT_EQ(EncodeRecord(back), b);
}

// The pack reads and patches single fields of the records it copies: each
// one as the whole record's codec reads and writes it, and nothing else of
// the record touched.
TEST(MsgRecords, SingleFieldsReadAndWriteAsTheWholeRecord) {
    const MsgHeader h = SampleHeader();
    auto bytes = EncodeRecord(h);
    EXPECT_EQ(GetField<&MsgHeader::MsgNumber>(bytes.data()), h.MsgNumber);
    EXPECT_EQ(GetField<&MsgHeader::TextOffset>(bytes.data()), h.TextOffset);
    EXPECT_EQ(GetField<&MsgHeader::MsgArea>(bytes.data()), h.MsgArea);
    EXPECT_EQ(GetField<&MsgHeader::DateText>(bytes.data()), h.DateText);
    EXPECT_EQ(GetField<&MsgHeader::WrittenAt>(bytes.data()), h.WrittenAt);
    EXPECT_EQ(GetField<&MsgHeader::Status>(bytes.data()), h.Status);
    EXPECT_EQ(GetField<&MsgHeader::ReplyTo>(bytes.data()), h.ReplyTo);
    EXPECT_EQ(GetField<&MsgHeader::LatestReply>(bytes.data()), h.LatestReply);

    SetField<&MsgHeader::TextOffset>(bytes.data(), 77);
    SetField<&MsgHeader::LatestReply>(bytes.data(), -3);
    MsgHeader want = h;
    want.TextOffset = 77;
    want.LatestReply = -3;
    EXPECT_EQ(bytes, EncodeRecord(want));

    auto ix = EncodeRecord(MsgIndexRecord{5, 9});
    SetField<&MsgIndexRecord::MsgNumber>(ix.data(), -5);
    EXPECT_EQ(ix, EncodeRecord(MsgIndexRecord{-5, 9}));
}

TEST(MsgRecords, SmallRecordsSitAtTheirOffsets) {
    MsgIndexRecord idx{-17, -4};
    auto bi = EncodeRecord(idx);
    EXPECT_EQ(IntAt(bi.data(), 4), -17);
    EXPECT_EQ(IntAt(bi.data() + 4, 2), -4);

    MsgInfoRecord info;
    info.LowestNumber = 3;
    info.HighestNumber = 900;
    info.TotalMessages = 850;
    info.AreaCounts[0] = 11;
    info.AreaCounts[99] = 22;
    auto bn = EncodeRecord(info);
    const IntField ints[] = {{"LowestNumber", 0, 4, 3},  {"HighestNumber", 4, 4, 900}, {"TotalMessages", 8, 4, 850},
                             {"AreaCounts[0]", 12, 4, 11}, {"AreaCounts[99]", 408, 4, 22}};
    for (const auto& f : ints) EXPECT_EQ(IntAt(bn.data() + f.offset, f.width), f.value) << f.name;

    LastReadRecord lr;
    lr.LastRead[0] = 5;
    lr.LastRead[99] = 0xFFFFFFF0u;
    auto bl = EncodeRecord(lr);
    EXPECT_EQ(GetLE32(bl.data()), 5u);
    EXPECT_EQ(GetLE32(bl.data() + 396), 0xFFFFFFF0u);
}

// A foreign writer may fill a field to its last byte; a long value of ours
// is cut to leave its NUL.  Neither spills into the next field.
TEST(MsgRecords, FixedTextsNeverRunIntoTheNextField) {
    std::array<uint8_t, MsgHeader::kSize> raw{};
    std::memset(raw.data() + 10, 'F', 61);
    std::memset(raw.data() + 71, 'T', 61);
    MsgHeader h;
    DecodeRecord(raw.data(), h);
    EXPECT_EQ(h.FromName, std::string(61, 'F'));
    EXPECT_EQ(h.ToName, std::string(61, 'T'));

    std::array<uint8_t, MsgToIndexRecord::kSize> to{};
    std::memset(to.data(), 'R', to.size());
    MsgToIndexRecord r;
    DecodeRecord(to.data(), r);
    EXPECT_EQ(r.Recipient, std::string(61, 'R'));

    h.FromName = std::string(100, 'x');
    auto b = EncodeRecord(h);
    EXPECT_EQ(GetText(b.data() + 10, 61), std::string(60, 'x'));
    EXPECT_EQ(b[70], 0);
    EXPECT_EQ(b[71], 'T');
}

TEST(MsgText, BufferBecomesStoredLines) {
    const struct {
        const char* name;
        std::string buffer;
        std::vector<std::string> lines;
    } cases[] = {
        {"plain", "one\ntwo\n\x1A", {"one", "two"}},
        {"trailing white space cut", "one  \t\r\n  two \n\x1A", {"one", "  two"}},
        {"blank lines kept", "\n\nend\n\x1A", {"", "", "end"}},
        {"last line without line feed kept", "one\nlast\x1A", {"one", "last"}},
        {"no end byte", "one\nlast", {"one", "last"}},
        {"blank tail before end byte dropped", "one\n   \x1A", {"one"}},
        {"bytes after the end byte ignored", "one\n\x1Atwo\n", {"one"}},
        {"attach notice", "/files/a.zip (1234 bytes)\r\n\x1A", {"/files/a.zip (1234 bytes)"}},
        {"empty", "\x1A", {}},
    };
    for (const auto& c : cases) {
        MsgText t = TextFromBuffer("Kivo v1.0", c.buffer);
        EXPECT_EQ(t.Pid, "Kivo v1.0") << c.name;
        EXPECT_EQ(t.Lines, c.lines) << c.name;
    }
}

TEST(MsgText, EncodesAndDecodesOneTextOfMany) {
    MsgText a{"Kivo v1.0", {"Hello", "\x01" "CONTROL: yes", ""}};
    MsgText b{"kvhubd v0.1b", {"Second"}};
    std::string first = EncodeMsgText(a);
    EXPECT_EQ(first, std::string("\x01PID: Kivo v1.0\nHello\n\x01" "CONTROL: yes\n\n\x1A"));
    std::string file = first + EncodeMsgText(b);

    MsgText back;
    EXPECT_EQ(DecodeMsgText(file, back), first.size());
    EXPECT_EQ(back.Pid, a.Pid);
    EXPECT_EQ(back.Lines, a.Lines);
    EXPECT_EQ(DecodeMsgText(std::string_view(file).substr(first.size()), back), file.size() - first.size());
    EXPECT_EQ(back.Pid, "kvhubd v0.1b");
    EXPECT_EQ(back.Lines, b.Lines);

    // An end byte in a line is stored as a blank, so it can never end the
    // text early (a mail body line that begins with one).
    MsgText odd{"kvhubd v0.1b", {"\x1A" "starts", "mid\x1A" "dle"}};
    ASSERT_EQ(DecodeMsgText(EncodeMsgText(odd), back), EncodeMsgText(odd).size());
    EXPECT_EQ(back.Lines, (std::vector<std::string>{" starts", "mid dle"}));

    // A 0x1A inside a line does not end the text; only one at a line start.
    std::string inner = std::string("\x01PID: X\nup\x1A" "down\n\x1A");
    ASSERT_EQ(DecodeMsgText(inner, back), inner.size());
    EXPECT_EQ(back.Lines, std::vector<std::string>{"up\x1A" "down"});

    // Cut short: no end byte, the lines so far.
    EXPECT_EQ(DecodeMsgText("\x01PID: X\nkept\ncut", back), 0u);
    EXPECT_EQ(back.Lines, std::vector<std::string>{"kept"});
}

}  // namespace
}  // namespace kv
