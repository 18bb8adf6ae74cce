// The index searches and the visibility rule over bases the test writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "caller/areas/reader_search.h"
#include "caller/term/call_state.h"
#include "common/files.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/reader/reader_fixture.h"
#include "tests/support/board.h"

namespace kv::caller {
namespace {

using test::TestMessage;

// Callers of the cases: the sysop, a caller, and one who is neither sender
// nor recipient of anything private.
UserRecord Caller(const std::string& name, int32_t level) {
    UserRecord u;
    u.Name = name;
    u.SecurityLevel = level;
    FlipAreaSelection(u.ScanAreas, 0);  // areas 0 and 2 selected, 1 not
    FlipAreaSelection(u.ScanAreas, 2);
    return u;
}

// Records 0-6: gaps in the numbers, a deleted message, one private between
// others, one in an area only the sysop may read, one private to Terry.
std::vector<TestMessage> MixedBase() {
    std::vector<TestMessage> m(7);
    m[0].number = 1;
    m[1].number = 2, m[1].status |= MSG_DELETED;
    m[2].number = 4, m[2].area = 1;
    m[3].number = 5, m[3].status |= MSG_PRIVATE, m[3].to = "Olga Other";
    m[4].number = 9;
    m[5].number = 10, m[5].area = 4;
    m[6].number = 12, m[6].area = 2, m[6].status |= MSG_PRIVATE, m[6].to = "Terry Tester";
    return m;
}

enum class Base { kNoFiles, kEmpty, kOne, kMixed };
enum class Search { kNext, kPrev };

struct Case {
    const char* what;
    Base base;
    const char* caller;
    Search search;
    int selector;
    int32_t number;
    int32_t start;  // FindPrevMessage only
    bool exact;
    int32_t want;
};

const Case kCases[] = {
    {"no index file", Base::kNoFiles, "Terry Tester", Search::kNext, 0, 0, 0, false, kSearchFailed},
    {"no index file backward", Base::kNoFiles, "Terry Tester", Search::kPrev, 0, 9, -1, false, kSearchFailed},
    {"empty base", Base::kEmpty, "Terry Tester", Search::kNext, 0, 0, 0, false, kNotVisible},
    {"empty base exact", Base::kEmpty, "Terry Tester", Search::kNext, 0, 1, 0, true, kNotVisible},
    {"empty base backward", Base::kEmpty, "Terry Tester", Search::kPrev, 0, 9, -1, false, kSearchFailed},
    {"one: after 0", Base::kOne, "Terry Tester", Search::kNext, 0, 0, 0, false, 0},
    {"one: after itself", Base::kOne, "Terry Tester", Search::kNext, 0, 7, 0, false, kNotVisible},
    {"one: exact", Base::kOne, "Terry Tester", Search::kNext, 0, 7, 0, true, 0},
    {"one: exact in another area", Base::kOne, "Terry Tester", Search::kNext, 1, 7, 0, true, kNotVisible},
    {"one: exact below it", Base::kOne, "Terry Tester", Search::kNext, 0, 3, 0, true, kNotFound},
    {"one: before a higher number", Base::kOne, "Terry Tester", Search::kPrev, 0, 8, -1, false, 0},
    {"one: before its own start", Base::kOne, "Terry Tester", Search::kPrev, 0, 8, 0, false, kNotFound},
    {"next skips deleted, other areas, hidden", Base::kMixed, "Terry Tester", Search::kNext, 0, 1, 0, false, 4},
    {"next from 0", Base::kMixed, "Terry Tester", Search::kNext, 0, 0, 0, false, 0},
    {"exact deleted number", Base::kMixed, "Terry Tester", Search::kNext, 0, 2, 0, true, kNotFound},
    {"exact number in a gap", Base::kMixed, "Terry Tester", Search::kNext, 0, 3, 0, true, kNotFound},
    {"exact hidden private, more follow", Base::kMixed, "Terry Tester", Search::kNext, 0, 5, 0, true, kNotVisible},
    {"exact hidden private, any area", Base::kMixed, "Terry Tester", Search::kNext, kAnyArea, 5, 0, true,
     kNotVisible},
    {"exact visible", Base::kMixed, "Terry Tester", Search::kNext, 0, 9, 0, true, 4},
    {"exact past the end", Base::kMixed, "Terry Tester", Search::kNext, 0, 13, 0, true, kNotVisible},
    {"any area skips an unreadable area", Base::kMixed, "Terry Tester", Search::kNext, kAnyArea, 9, 0, false, 6},
    {"selected areas only", Base::kMixed, "Terry Tester", Search::kNext, kAllSelectedAreas, 1, 0, false, 4},
    {"one area", Base::kMixed, "Terry Tester", Search::kNext, 1, 0, 0, false, 2},
    {"private to the caller", Base::kMixed, "Terry Tester", Search::kNext, 2, 0, 0, false, 6},
    {"private to another caller", Base::kMixed, "Ursula User", Search::kNext, 2, 0, 0, false, kNotVisible},
    {"sysop sees the private", Base::kMixed, "Sam Sysop", Search::kNext, 0, 5, 0, true, 3},
    {"sysop reads the high area", Base::kMixed, "Sam Sysop", Search::kNext, kAnyArea, 9, 0, false, 5},
    {"back skips hidden and deleted", Base::kMixed, "Terry Tester", Search::kPrev, 0, 9, -1, false, 0},
    {"back past the first record", Base::kMixed, "Terry Tester", Search::kPrev, 0, 1, -1, false, kSearchFailed},
    {"back from position 0", Base::kMixed, "Terry Tester", Search::kPrev, 0, 100, 0, false, kNotFound},
    {"back from a position", Base::kMixed, "Terry Tester", Search::kPrev, 0, 100, 4, false, 0},
    {"back exact", Base::kMixed, "Terry Tester", Search::kPrev, kAnyArea, 9, 6, true, 4},
    {"back exact hidden", Base::kMixed, "Terry Tester", Search::kPrev, kAnyArea, 5, 6, true, kNotVisible},
    {"back exact not before the start", Base::kMixed, "Terry Tester", Search::kPrev, kAnyArea, 12, 6, true,
     kSearchFailed},
    {"back from past the end", Base::kMixed, "Terry Tester", Search::kPrev, 0, 100, 50, false, kNotFound},
};

class ReaderSearch : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigRecord c = board.config();
        // Area 4: only the sysop may read it.
        c.MsgAreas[4].AreaDefined = 1;
        c.MsgAreas[4].ReadLevel = 100;
        c.MsgAreas[4].AreaSysopLevel = 64000;
        SetConfig(c);
        SetLogWriter([this](std::string_view line) { log.emplace_back(line); });
    }
    void TearDown() override {
        SetLogWriter(nullptr);
        Call().User = UserRecord{};
    }
    void Use(Base base) {
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile})
            std::filesystem::remove(MsgBasePath(f));
        if (base == Base::kEmpty) test::WriteBase({});
        if (base == Base::kOne) {
            TestMessage m;
            m.number = 7;
            test::WriteBase({m});
        }
        if (base == Base::kMixed) test::WriteBase(MixedBase());
    }

    test::TempBoard board;
    std::vector<std::string> log;
};

TEST_F(ReaderSearch, FindsByNumberOverATableOfBases) {
    for (const Case& c : kCases) {
        Use(c.base);
        Call().User = Caller(c.caller, std::string(c.caller) == "Sam Sysop" ? 64000 : 10);
        int32_t got = c.search == Search::kNext ? FindNextMessage(c.selector, c.number, c.exact)
                                                : FindPrevMessage(c.selector, c.number, c.start, c.exact);
        EXPECT_EQ(got, c.want) << c.what;
    }
}

TEST_F(ReaderSearch, VisibilityFollowsDeletePrivacyAndAreaRights) {
    Use(Base::kMixed);
    struct {
        const char* caller;
        int32_t level;
        std::vector<bool> visible;  // records 0-6
    } const cases[] = {
        {"Terry Tester", 10, {true, false, true, false, true, false, true}},
        {"Ursula User", 10, {true, false, true, false, true, false, false}},
        {"Sam Sysop", 64000, {true, false, true, true, true, true, true}},
        {"Olga Other", 10, {true, false, true, true, true, false, false}},
    };
    for (const auto& c : cases) {
        Call().User = Caller(c.caller, c.level);
        for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(MessageVisible(i), c.visible[size_t(i)]) << c.caller << " record " << i;
        EXPECT_FALSE(MessageVisible(7)) << "no such record";
    }
    // The sender of a private message sees it too.
    Call().User = Caller("Sam Sysop", 10);
    EXPECT_TRUE(MessageVisible(3));
}

// The searches as a scan from the first record would give them, one read
// per record: what the searches must still answer now that they start
// where the numbers reach the one sought.
int32_t ScanNext(const std::vector<TestMessage>& m, int selector, int32_t number, bool exact) {
    auto matches = [&](int area) {
        return selector == kAnyArea || selector == area ||
               (selector == kAllSelectedAreas && area >= 0 && IsAreaSelected(Call().User.ScanAreas, area));
    };
    for (size_t pos = 0; pos < m.size(); ++pos) {
        bool deleted = m[pos].status & MSG_DELETED;
        int32_t n = deleted ? -m[pos].number : m[pos].number;
        int area = deleted ? -(m[pos].area + 1) : m[pos].area;
        if (matches(area) && (exact ? n == number : n > number)) {
            if (MessageVisible(int32_t(pos))) return int32_t(pos);
            if (exact) return kNotVisible;
        }
        if (exact && n > number) return kNotFound;
    }
    return kNotVisible;
}

int32_t ScanPrev(const std::vector<TestMessage>& m, int selector, int32_t number, int32_t start, bool exact) {
    if (start == 0) return kNotFound;
    if (start < 0) start = int32_t(m.size());
    for (int32_t pos = start - 1;; --pos) {
        if (pos < 0) return kSearchFailed;
        if (pos >= int32_t(m.size())) return kNotFound;
        bool deleted = m[size_t(pos)].status & MSG_DELETED;
        int32_t n = deleted ? -m[size_t(pos)].number : m[size_t(pos)].number;
        int area = deleted ? -(m[size_t(pos)].area + 1) : m[size_t(pos)].area;
        bool matches = selector == kAnyArea || selector == area ||
                       (selector == kAllSelectedAreas && area >= 0 && IsAreaSelected(Call().User.ScanAreas, area));
        if (!matches || !(exact ? n == number : n < number)) continue;
        if (MessageVisible(pos)) return pos;
        if (exact) return kNotVisible;
    }
}

TEST_F(ReaderSearch, FindsWhatAScanFromTheFirstRecordFinds) {
    std::mt19937 random(4711);
    auto below = [&](int n) { return int(random() % unsigned(n)); };
    const char* names[] = {"Terry Tester", "Olga Other", "Sam Sysop"};
    for (int round = 0; round < 3; ++round) {
        // More records than one block of the index reader, numbers with gaps.
        std::vector<TestMessage> m(size_t(1200 + below(900)));
        int32_t number = below(3);
        for (TestMessage& t : m) {
            number += 1 + below(3);
            t.number = number;
            t.area = below(5);
            t.to = names[below(3)];
            if (below(5) == 0) t.status |= MSG_DELETED;
            if (below(4) == 0) t.status |= MSG_PRIVATE;
        }
        test::WriteBase(m);
        for (const char* caller : {"Terry Tester", "Sam Sysop"}) {
            Call().User = Caller(caller, std::string(caller) == "Sam Sysop" ? 64000 : 10);
            for (int selector : {0, 1, 2, 4, kAllSelectedAreas, kAnyArea}) {
                for (int q = 0; q < 40; ++q) {
                    int32_t n = q == 0 ? 0 : q == 1 ? number + 1 : int32_t(below(number + 2));
                    int32_t start = q == 2 ? -1 : q == 3 ? int32_t(m.size()) + 3 : int32_t(below(int(m.size()) + 1));
                    for (bool exact : {false, true}) {
                        ASSERT_EQ(FindNextMessage(selector, n, exact), ScanNext(m, selector, n, exact))
                            << caller << " next " << selector << " " << n << " " << exact;
                        ASSERT_EQ(FindPrevMessage(selector, n, start, exact), ScanPrev(m, selector, n, start, exact))
                            << caller << " prev " << selector << " " << n << " from " << start << " " << exact;
                    }
                }
            }
        }
    }
}

TEST(MarkedListTest, RemovesOnlyTheEntryAndKeepsTheOrder) {
    MessageList l;
    l.positions = {4, 9, 2, 9};
    EXPECT_TRUE(l.Holds(2));
    EXPECT_TRUE(l.Remove(9));
    EXPECT_EQ(l.positions, (std::vector<int32_t>{4, 2, 9}));
    EXPECT_FALSE(l.Remove(7));
    EXPECT_EQ(l.count(), 3);
}

}  // namespace
}  // namespace kv::caller
