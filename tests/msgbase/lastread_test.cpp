// Last-read records, and the numbered texts the library logs.
#include <fstream>
#include <sstream>

#include "common/lastread.h"
#include "common/msgbase_texts.h"
#include "tests/msgbase/msgbase_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

LastReadRecord Marked(uint32_t base) {
    LastReadRecord r;
    for (size_t a = 0; a < r.LastRead.size(); ++a) r.LastRead[a] = base + static_cast<uint32_t>(a);
    return r;
}

class LastReadTest : public MsgBaseTest {
protected:
    std::string path() const { return (dir() / kLastReadFile).string(); }
    size_t FileBytes() const { return fs::exists(path()) ? fs::file_size(path()) : 0; }
    // Fills the file with n records, record i marked with 1000 * (i + 1).
    void WriteRecords(size_t n) const {
        std::ofstream out(path(), std::ios::binary | std::ios::trunc);
        for (size_t i = 0; i < n; ++i) {
            auto b = EncodeRecord(Marked(static_cast<uint32_t>(1000 * (i + 1))));
            out.write(reinterpret_cast<const char*>(b.data()), b.size());
        }
    }
};

TEST_F(LastReadTest, RecordsAreWrittenAndReadAtTheUserNumber) {
    LastReadRecord r = Marked(1);
    for (int32_t u = 0; u < 3; ++u) ASSERT_TRUE(AddLastReadRecord(u, r));
    EXPECT_EQ(r.LastRead, LastReadRecord{}.LastRead);  // cleared for the new user
    EXPECT_EQ(FileBytes(), 3 * LastReadRecord::kSize);

    ASSERT_TRUE(WriteLastRead(1, Marked(500)));
    LastReadRecord back;
    ASSERT_TRUE(ReadLastRead(1, back));
    EXPECT_EQ(back.LastRead, Marked(500).LastRead);
    ASSERT_TRUE(ReadLastRead(2, back));
    EXPECT_EQ(back.LastRead, LastReadRecord{}.LastRead);
    std::string raw = ReadBaseFile(dir(), kLastReadFile);
    EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(raw.data()) + 400 + 4 * 99), 599u);
    EXPECT_TRUE(log.empty()) << log.front();
}

// Without a table the library's English words; with one, the program's text.
TEST_F(LastReadTest, FailuresLogTheirTexts) {
    fs::remove(path());  // the sample board comes with one record per user
    LastReadRecord r = Marked(7);
    EXPECT_FALSE(ReadLastRead(3, r));
    EXPECT_FALSE(WriteLastRead(3, r));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Cannot read last-read record 3 of " + path() + ": No such file or directory");
    EXPECT_EQ(log[1], "Cannot write last-read record 3 of " + path() + ": No such file or directory");
    EXPECT_FALSE(fs::exists(path()));  // neither makes the file
    EXPECT_EQ(r.LastRead, Marked(7).LastRead);

    WriteRecords(2);
    SetTextLookup([](int n) { return n == 342 ? std::string("LR read %d (%s) %s") : std::string(); });
    log.clear();
    EXPECT_FALSE(ReadLastRead(2, r));  // past the end
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "LR read 2 (" + path() + ") no such record");
    EXPECT_EQ(r.LastRead, Marked(7).LastRead);
}

// A new user's record lands at the user's number even when the file had
// drifted from "users.bbs": longer, the stale record is cleared; shorter,
// the gap reads as nothing read.
TEST_F(LastReadTest, NewUserRecordLandsAtTheUserNumber) {
    WriteRecords(5);
    LastReadRecord r;
    ASSERT_TRUE(AddLastReadRecord(3, r));
    EXPECT_EQ(FileBytes(), 5 * LastReadRecord::kSize);
    LastReadRecord back;
    ASSERT_TRUE(ReadLastRead(3, back));
    EXPECT_EQ(back.LastRead, LastReadRecord{}.LastRead);
    ASSERT_TRUE(ReadLastRead(4, back));
    EXPECT_EQ(back.LastRead, Marked(5000).LastRead);

    WriteRecords(2);
    ASSERT_TRUE(AddLastReadRecord(4, r));
    EXPECT_EQ(FileBytes(), 5 * LastReadRecord::kSize);
    for (int32_t u : {2, 3, 4}) {
        ASSERT_TRUE(ReadLastRead(u, back)) << u;
        EXPECT_EQ(back.LastRead, LastReadRecord{}.LastRead) << u;
    }
    ASSERT_TRUE(ReadLastRead(1, back));
    EXPECT_EQ(back.LastRead, Marked(2000).LastRead);
}

// The English words the library falls back on are the table's own.
TEST(LibraryTexts, FallbacksMatchTheTextTable) {
    std::ifstream in(SourcePath("sample/texts/100-msgbase.tsv"));
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string number, values, english;
        std::getline(fields, number, '\t');
        std::getline(fields, values, '\t');
        std::getline(fields, english, '\t');
        EXPECT_EQ(LibraryText(std::stoi(number)), english) << number;
        ++rows;
    }
    EXPECT_EQ(rows, 4);
}

}  // namespace
}  // namespace kv::test
