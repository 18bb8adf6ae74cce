// The news reader's pieces that need no terminal: aliases, group answers
// and searches, the news file's records, article names and headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "caller/areas/news_groups.h"
#include "caller/areas/news_reader.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"
#include "tests/support/board.h"

namespace kv::test {
namespace {

using namespace kv::caller;
namespace fs = std::filesystem;

TEST(NewsAlias, OnlyShortPlainNamesMayNameTheNewsFile) {
    struct Case {
        const char* alias;
        bool ok;
    } cases[] = {
        {"terry", true},     {"j.doe_2x", true}, {"ab", true},       {"a", false},    {"abcdefghi", false},
        {"../users", false}, {"a/b", false},      {"Terry", false},   {"te rry", false}, {"", false},
        {"master", false},   {"masters", true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidNewsAlias(c.alias), c.ok) << c.alias;
    // The group list's name is taken in any case.
    for (const char* alias : {"master", "MASTER", "mAsTeR"}) EXPECT_TRUE(NewsAliasNamesBoardFile(alias)) << alias;
    EXPECT_FALSE(NewsAliasNamesBoardFile("terry"));

    EXPECT_EQ(SuggestNewsAlias("Terry Tester"), "ttester");
    EXPECT_EQ(SuggestNewsAlias("Alexandra Smithsonian"), "asmithso");
    EXPECT_EQ(SuggestNewsAlias("Anne-Marie D'Arc"), "adarc");
    EXPECT_EQ(SuggestNewsAlias("Madonna"), "madonna");
}

TEST(NewsGroups, SubscriptionAnswers) {
    struct Case {
        const char* answer;
        int maxGroups;
        int total;
        std::vector<uint32_t> groups;
    } cases[] = {
        {"1-3, 5", 20, 100, {0, 1, 2, 4}},
        {"3-1", 20, 100, {}},
        {"0", 20, 100, {0}},
        {"2 7,,9", 20, 100, {1, 6, 8}},
        {"1-10", 5, 100, {0, 1, 2, 3, 4, 5}},
        {"x,4", 20, 100, {3}},
        // Numbers beyond the list name no group: no overflow, no wrap.
        {"2-5, 4", 20, 3, {1, 2}},
        {"9223372036854775787-99999999999999999999", 20, 3, {}},
        {"4294967297", 20, 3, {}},
        {"2-4294967297", 20, 3, {1, 2}},
        {"1", 20, 0, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseGroupItems(c.answer, c.maxGroups, c.total), c.groups) << c.answer;
}

TEST(NewsGroups, SearchPatterns) {
    NewsGroupRecord g;
    g.Path = "comp/os/linux/misc";
    g.Count = 150;
    struct Case {
        const char* pattern;
        bool hit;
    } cases[] = {
        {">100", true},  {">150", false},        {"linux", true},        {"comp.os", true},
        {"comp.*", true}, {"*.linux", false},    {"*.linux.*", true},    {"Linux", false},
    };
    for (const auto& c : cases) EXPECT_EQ(GroupMatches(g, c.pattern), c.hit) << c.pattern;
}

TEST(NewsGroups, PagesNeverEmptyAndLettersStopAtZ) {
    EXPECT_EQ(NewsPageSize(19), 19);
    EXPECT_EQ(NewsPageSize(-3), 1);  // a screen length below 5
    EXPECT_EQ(NewsPageSize(47), 26);
    EXPECT_EQ(LastPageTop(45, 19), 38);
    EXPECT_EQ(LastPageTop(38, 19), 19);  // not an empty page at 38
    EXPECT_EQ(LastPageTop(5, 19), 0);
    EXPECT_EQ(LastPageTop(0, 19), 0);
}

class NewsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfig(board_.config());
        Call().User.SecurityLevel = 10;
        std::string master;
        for (auto [path, flags] : {std::pair{"a/one", 0}, std::pair{"b/hidden", int(NEWS_HIDDEN)}}) {
            NewsGroupRecord g;
            g.Path = path, g.Flags = uint8_t(flags);
            auto bytes = EncodeRecord(g);
            master.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        board_.WriteFile(NewsMasterPath(), master);
        info_ = Config().NewsDir + "/tester.bbs";
        ASSERT_TRUE(CreateNewsInfo(info_));
    }
    TempBoard board_;
    std::string info_;
};

// The alias offered is one the dialogue takes as it stands: not the group
// list's name, not a forbidden alias, not one a user has, not too short.
TEST_F(NewsFiles, TheOfferedAliasIsOneTheDialogueTakes) {
    std::string forbidden = "sysop\nasmithso\nasmiths2\nzz\n";
    for (char d = '2'; d <= '9'; ++d) forbidden += std::string("zz") + d + "\n";
    board_.WriteFile(board_.DataDir() / "alitrash.ctl", forbidden);
    struct Case {
        const char* name;
        const char* offered;
    } cases[] = {
        {"Terry Tester", "ttester"},
        {"Mike Aster", "master2"},            // the group list
        {"Sam Ysop", "sysop2"},               // forbidden, and the sysop's
        {"Terry", "terry2"},                  // Terry Tester's alias
        {"X", "x2"},                          // too short
        {"Alexandra Smithsonian", "asmiths3"},
        {"Zz", ""},                           // nothing near it is free
    };
    for (const auto& c : cases) {
        std::string offered = OfferedNewsAlias(c.name);
        EXPECT_EQ(offered, c.offered) << c.name;
        if (!offered.empty()) {
            EXPECT_EQ(NewsAliasRefusal(offered), nullptr) << c.name;
        }
    }
    EXPECT_STREQ(NewsAliasRefusal("master"), "This alias is already in use.");
    EXPECT_STREQ(NewsAliasRefusal("terry"), "This alias is already in use.");
    EXPECT_STREQ(NewsAliasRefusal("zz5"), "Usage of this alias is prohibed.");
}

TEST_F(NewsFiles, ASubscriptionIsWrittenThenCounted) {
    NewsFile master(NewsMasterPath(), NewsFile::kReadOnly);
    EXPECT_FALSE(CreateNewsInfo(info_)) << "an existing news file is kept";
    EXPECT_EQ(fs::file_size(info_), NewsInfoHeader::kSize);

    // A call cut off after the record and before the count: the record
    // does not count, and the next subscription takes its place.
    NewsFile raw(info_, NewsFile::kReadWrite);
    NewsSubscription stray{7, 99};
    ASSERT_TRUE(raw.Write(SubscriptionOffset(0), stray));
    NewsInfoHeader h;
    ASSERT_TRUE(ReadNewsHeader(h, info_));
    EXPECT_EQ(h.Subscribed, 0);

    EXPECT_EQ(SubscribeGroup(master, info_, 0, 0), 1);
    EXPECT_EQ(SubscribeGroup(master, info_, 1, 1), 0) << "hidden group";
    EXPECT_EQ(SubscribeGroup(master, info_, 2, 1), 0) << "no such group";
    ASSERT_TRUE(ReadNewsHeader(h, info_));
    EXPECT_EQ(h.Subscribed, 1);
    NewsSubscription s;
    ASSERT_TRUE(raw.Read(SubscriptionOffset(0), s));
    EXPECT_EQ(s.Group, 0u);
    EXPECT_EQ(s.LastRead, 0u);
}

TEST_F(NewsFiles, HiddenGroupsOnlyForTheLevelOfExactly64000) {
    NewsFile master(NewsMasterPath(), NewsFile::kReadOnly);
    for (int32_t level : {63999, 64001, 65000}) {
        Call().User.SecurityLevel = level;
        EXPECT_EQ(SubscribeGroup(master, info_, 1, 0), 0) << level;
        EXPECT_EQ(FindGroup(master, 0, "hidden"), -1) << level;
    }
    Call().User.SecurityLevel = 64000;
    EXPECT_EQ(FindGroup(master, 0, "hidden"), 1);
    EXPECT_EQ(SubscribeGroup(master, info_, 1, 0), 1);
}

TEST(NewsArticles, NamesInNumericOrder) {
    fs::path dir = fs::temp_directory_path() / ("kvnews." + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    for (const char* n : {"10", "2", "100", "1", ".overview", "junk", "3x", "4294967295", "4294967297", "9999999999"})
        std::ofstream(dir / n) << "x";
    // Past 32 bits a number is no article's: it would read as a small one.
    EXPECT_EQ(ArticleNames(dir.string()), (std::vector<std::string>{"1", "2", "10", "100", "4294967295"}));
    EXPECT_TRUE(ArticleNames((dir / "missing").string()).empty());
    fs::remove_all(dir);
}

TEST(NewsArticles, AuthorsForAFifteenColumnField) {
    struct Case {
        const char* from;
        const char* want;
    } cases[] = {
        {"alice@example.org (Alice Able)", "Alice Able"},
        {"Bob Baker <bob@example.org>", "Bob Baker"},
        {"\"Jane Doe\" <jane@example.org>", "Jane Doe"},
        {"John \"the man\" Doe <j@example.org>", "John Doe"},
        {"\"Mallory <m@example.org>", ""},  // a lone quote leaves no name
        {"x@y (Jean-Pierre Rampal-Smith)", "J. P. Rampal-Smith"},
        {"x@y (Alexandra Smithsonian)", "A. Smithsonian"},
        {"averyveryverylongaddress@example.org", "averyveryverylo"},
        {"x@y (", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShortenAuthor(c.from), c.want) << c.from;
}

TEST(NewsArticles, HeaderFieldsOfStrangersAreBounded) {
    ConfigRecord c;
    c.DateOrder = 2;
    SetConfig(c);
    ArticleSummary s = SummarizeArticle({"Subject: " + std::string(2000, 'S'), "From: Mallory\x1b[2J <m@x>",
                                         "Date: 9 Mar 96 10:00", "Lines:  12 ", "Subject: second"});
    EXPECT_EQ(s.subject, std::string(45, 'S'));
    EXPECT_EQ(s.author, "Mallory [2J");
    EXPECT_EQ(s.date, "09/03/96");
    EXPECT_EQ(s.lines, "12");
    EXPECT_EQ(SummarizeArticle({"Date: Sat, 19 Mar 1996 10:00:00 GMT"}).date, "19/03/96");
    EXPECT_EQ(SummarizeArticle({"Date: garbage"}).date, "");
    EXPECT_EQ(CleanArticleText("a\x1b[31m\x07\tb\x7f"), "a [31m  b ");
}

TEST(NewsArticles, HeaderRulesOfTheSortedTable) {
    TempBoard board;
    ConfigRecord c = board.config();
    SetConfig(c);
    ASSERT_EQ(c.NewsHeaders[11].HeaderName, "Newsgroups");
    struct Case {
        const char* line;
        int rule;
    } cases[] = {
        {"Newsgroups: a.b", 11}, {"Cc: x", 1},      {"Subject: hi", 17},   {"Xref: x", -1},  // hidden
        {"subject: hi", -1},     {"No colon", -1},  {"X-Unknown: y", -1},  {"From:x", 7},
    };
    for (const auto& k : cases) EXPECT_EQ(HeaderRuleIndex(k.line), k.rule) << k.line;

    // Rule 10 shows in its own colour once its shown flag is set.
    EXPECT_EQ(HeaderRuleIndex("Message-ID: <1@x>"), -1);
    c.NewsHeaders[10].HeaderShown = 1;
    SetConfig(c);
    EXPECT_EQ(HeaderRuleIndex("Message-ID: <1@x>"), 10);
}

}  // namespace
}  // namespace kv::test
