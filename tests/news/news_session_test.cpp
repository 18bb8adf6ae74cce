// The news reader as a caller meets it on the sample board: a spool of two
// groups written here, an alias chosen, groups subscribed, articles marked
// and read, the caller's news file read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cp437.h"
#include "common/news_records.h"
#include "tests/support/caller_fixture.h"

namespace kv::test {
namespace {

struct Article {
    const char* group;
    int number;
    std::string from, subject, extra, body;
};

class NewsSession : public CallerTest {
protected:
    // Two groups: "test.one" with articles 1-3 (the third written by a
    // stranger with odd header fields) and "test.two" with 1, 2 and 10.
    void WriteSpool() {
        std::vector<Article> articles = {
            {"test/one", 1, "alice@example.org (Alice Able)", "First of one", "", "Body of article one."},
            {"test/one", 2, "Bob Baker <bob@example.org>", "Second of one", "", "Body of article two."},
            {"test/one", 3, "\"Mallory <m@example.org>", std::string(2000, 'S'),
             "Organization: \x1b[31mEvil\x07 Inc\n", "Body of article three."},
            {"test/two", 1, "carol@example.org (Carol Cole)", "Two first", "", "Carol writes."},
            {"test/two", 2, "dave@example.org (Dave Dunn)", "Two second", "", "Dave writes."},
            {"test/two", 10, "erin@example.org (Erin Eve)", "Two tenth", "", "Erin writes."},
        };
        std::string spool = board().config().NewsSpool;
        for (const Article& a : articles) {
            std::string text = "From: " + a.from + "\nNewsgroups: " + std::string(a.group) +
                               "\nSubject: " + a.subject + "\nDate: Sat, 9 Mar 1996 10:00:00 GMT\n" + a.extra +
                               "Lines: 1\n\n" + a.body + "\n";
            board().WriteFile(spool + "/" + a.group + "/" + std::to_string(a.number), text);
        }
        std::string master;
        for (auto [path, count, highest] : {std::tuple{"test/one", 3u, 3u}, std::tuple{"test/two", 3u, 10u}}) {
            NewsGroupRecord g;
            g.Path = path, g.Count = count, g.Highest = highest;
            auto bytes = EncodeRecord(g);
            master.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        board().WriteFile(board().config().NewsDir + "/master.bbs", master);
    }

    // Terry without an alias and without page pauses.
    void PrepareTerry() {
        UserRecord terry = User(1);
        terry.Alias.clear();
        terry.Options = uint8_t(terry.Options & ~USER_PAGE_BREAK);
        PutUser(1, terry);
    }

    // Terry logged in, at the news menu, its key for command (r or s) sent.
    void TerryToNews(Caller& c, const char* command) {
        c.LogInAs("terry tester", "keyboard");
        ASSERT_TRUE(c.Answer("Your choice: ", "n")) << c.Rest();
        ASSERT_TRUE(c.Answer("News: ", command)) << c.Rest();
    }

    // Terry's news file: a fresh header and these subscriptions.
    void WriteTerrysNewsFile(std::initializer_list<NewsSubscription> subs) {
        std::string news;
        auto put = [&](auto record) {
            auto bytes = EncodeRecord(record);
            news.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        };
        NewsInfoHeader h = FreshNewsHeader();
        h.Subscribed = uint16_t(subs.size());
        put(h);
        for (const NewsSubscription& sub : subs) put(sub);
        board().WriteFile(board().config().NewsDir + "/terry.bbs", news);
    }

    struct NewsFileContents {
        NewsInfoHeader header;
        std::vector<NewsSubscription> subs;
        size_t size = 0;
    };
    NewsFileContents ReadNewsFile(const std::string& alias) {
        NewsFileContents c;
        std::string bytes = board().ReadFile(board().config().NewsDir + "/" + alias + ".bbs");
        c.size = bytes.size();
        if (bytes.size() < NewsInfoHeader::kSize) return c;
        auto p = reinterpret_cast<const uint8_t*>(bytes.data());
        DecodeRecord(p, c.header);
        for (size_t i = 0; i < c.header.Subscribed && NewsInfoHeader::kSize + (i + 1) * 8 <= bytes.size(); ++i) {
            NewsSubscription s;
            DecodeRecord(p + NewsInfoHeader::kSize + i * 8, s);
            c.subs.push_back(s);
        }
        return c;
    }
};

constexpr int kCyan = 6;  // the PC's colour 3 as the terminal shows it
constexpr const char* kGroupQuestion = "read now [Y/n/:/?] : ";
constexpr const char* kListPrompt = "Enter your command";

TEST_F(NewsSession, AliasSubscribeReadAndReadAgain) {
    WriteSpool();
    PrepareTerry();
    StartBoard();
    auto terry = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "r"));

    // The alias: the suggestion erased, a path refused, a forbidden one refused.
    ASSERT_TRUE(terry->Expect("Enter your alias (min 2 char.) : ")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("ttester")) << terry->Rest();
    terry->Send(std::string(7, '\x7f') + "../users\r");
    ASSERT_TRUE(terry->Expect("Only letters, digits")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Enter your alias")) << terry->Rest();
    terry->Send(std::string(7, '\x7f') + "Sysop\r");
    ASSERT_TRUE(terry->Expect("Usage of this alias is prohibed.")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Enter your alias")) << terry->Rest();
    // The group list's own name is taken, in any case.
    const std::string master = board().ReadFile(board().config().NewsDir + "/master.bbs");
    terry->Send(std::string(5, '\x7f') + "MaStEr\r");
    ASSERT_TRUE(terry->Expect("This alias is already in use.")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Enter your alias")) << terry->Rest();
    terry->Send(std::string(6, '\x7f') + "terry\r");

    // No groups yet: the selection screen comes first.
    ASSERT_TRUE(terry->Expect("USENET News Groups Selection")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("test.two")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    terry->Send("1-2\r");
    ASSERT_TRUE(terry->Expect(">>test.two")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    terry->Send("q");

    // Group one: rows a-c marked, b unmarked again, the marked ones read.
    ASSERT_TRUE(terry->Expect("USENET News Reading")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kGroupQuestion, "y")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Articles selection (3/3)")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Alice Able")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("03/09/96")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
    terry->Send("a-c\r");
    ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
    terry->Send("b\r");
    ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
    terry->Send(" ");
    ASSERT_TRUE(terry->Answer("Stop after each message", "n")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Body of article one.")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Body of article three.")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
    terry->Send("\\");

    // Group two: its articles in numeric order, all read.
    ASSERT_TRUE(terry->Answer(kGroupQuestion, "y")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Two first")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Two second")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Two tenth")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
    terry->Send("a-c ");
    ASSERT_TRUE(terry->Answer("Stop after each message", "n")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Erin writes.")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kListPrompt, "\\")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("No more news!")) << terry->Rest();

    // Read again: nothing new, and back at the menu.
    ASSERT_TRUE(terry->Answer("News: ", "r")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("USENET News Reading")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("No more news!")) << terry->Rest();
    EXPECT_EQ(terry->Rest().find(kGroupQuestion), std::string::npos);
    ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();

    const std::string& out = terry->session().Output();
    EXPECT_EQ(out.find("Body of article two."), std::string::npos) << "an unmarked article was read";
    EXPECT_EQ(out.find("\x1b[31mEvil"), std::string::npos) << "an article's escape reached the terminal";
    EXPECT_NE(out.find(" [31mEvil  Inc"), std::string::npos);
    EXPECT_EQ(out.find(std::string(600, 'S')), std::string::npos) << "a header line was not cut";

    EXPECT_EQ(User(1).Alias, "terry");
    EXPECT_EQ(board().ReadFile(board().config().NewsDir + "/master.bbs"), master);
    NewsFileContents news = ReadNewsFile("terry");
    EXPECT_EQ(news.header.Subscribed, 2);
    EXPECT_EQ(news.header.Date, "00/00/00");
    ASSERT_EQ(news.subs.size(), 2u);
    EXPECT_EQ(news.subs[0].Group, 0u);
    EXPECT_EQ(news.subs[0].LastRead, 3u);
    EXPECT_EQ(news.subs[1].Group, 1u);
    EXPECT_EQ(news.subs[1].LastRead, 10u);
}

// On a UTF-8 terminal the article list's marks are the characters an 8-bit
// terminal shows for them, one column each, so the columns stay where they
// are; the 8-bit line still gets the PC bytes, the UTF-8 line exactly their
// translation.  Article 1 is read; a and c are marked.
TEST_F(NewsSession, TheMarksOfTheArticleListOnAUtf8Terminal) {
    WriteSpool();
    StartBoard();
    std::string sent[2];
    for (bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "8-bit");
        WriteTerrysNewsFile({{0, 1}});
        devices_.clear();
        auto terry = Dial({}, {}, utf8);
        ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "r"));
        ASSERT_TRUE(terry->Answer(kGroupQuestion, "y")) << terry->Rest();
        ASSERT_TRUE(terry->Answer(kListPrompt, "a\r")) << terry->Rest();
        ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
        PtySession& s = terry->session();
        const size_t from = s.Output().size();
        terry->Send("c\r");
        ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
        s.Pump(100);
        sent[utf8] = s.Output().substr(from);
        if (utf8) {
            int row = 0;
            while (row < 24 && !s.Row(row).starts_with("a")) ++row;
            ASSERT_LT(row, 22) << s.Screen();
            const char* want[3][4] = {{"a", "√", " ", "A"}, {"b", " ", "■", "B"}, {"c", "√", "■", "U"}};
            for (int r = 0; r < 3; ++r)
                for (int col = 0; col < 4; ++col) EXPECT_EQ(s.Cell(row + r, col).text, want[r][col]) << r << "," << col;
        }
        terry->Send("Q");
        ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
        ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
        EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
    }
    EXPECT_NE(sent[0].find("\xFB\xFE"), std::string::npos);
    EXPECT_EQ(Cp437ToUtf8(sent[0]), sent[1]);
}

// Without the clear-screen option each page follows the last down the
// screen: the article list drawn again (Control-L) and the group list's
// page after "\\" start on lines of their own, not behind the list's prompt,
// where the group list's title ran past the edge of the screen.
TEST_F(NewsSession, PagesAfterTheArticleListsPromptStartOnLinesOfTheirOwn) {
    WriteSpool();
    UserRecord user = User(1);
    user.Options = uint8_t(user.Options & ~USER_CLEAR_SCREEN);
    PutUser(1, user);
    WriteTerrysNewsFile({{0, 0}, {1, 0}});
    StartBoard();
    auto terry = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "r"));
    PtySession& s = terry->session();
    auto titlesAtTheLeft = [&] {
        s.Pump(100);
        for (int row = 0; row < 24; ++row) {
            const std::string line = s.Row(row);
            EXPECT_TRUE(line.find("KIVO v0.3") == std::string::npos || line.starts_with(" KIVO v0.3")) << s.Screen();
        }
    };

    ASSERT_TRUE(terry->Answer(kGroupQuestion, "y")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kListPrompt, "\x0c")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Articles selection")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(kListPrompt)) << terry->Rest();
    titlesAtTheLeft();
    terry->Send("\\");
    ASSERT_TRUE(terry->Expect("USENET News Reading")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(kGroupQuestion)) << terry->Rest();
    titlesAtTheLeft();
    terry->Send("Q");
    ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
}

// The group question: keys outside its set ring the bell, a number and
// Enter jumps, "\\" goes back, skipped groups are offered once more.
TEST_F(NewsSession, TheGroupQuestionJumpsSkipsAndStartsOverOnce) {
    WriteSpool();
    WriteTerrysNewsFile({{0, 0}, {1, 2}, {0, 0}});  // the same group twice: rows are subscriptions
    StartBoard();
    auto terry = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "r"));

    ASSERT_TRUE(terry->Expect(kGroupQuestion)) << terry->Rest();
    terry->Send("Nq");
    ASSERT_TRUE(terry->Expect("\a\a")) << terry->Rest();
    terry->Send("3\r");
    ASSERT_TRUE(terry->Expect("3     test.one")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kGroupQuestion, "\\")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("2     test.two")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("This group contain ")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kGroupQuestion, "n")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kGroupQuestion, " ")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Still 11 unread message(s) in 2 newsgroup(s): ", "x")) << terry->Rest();
    for (int row = 0; row < 3; ++row) ASSERT_TRUE(terry->Answer(kGroupQuestion, "n")) << row << terry->Rest();
    ASSERT_TRUE(terry->Answer("Still 14 unread message(s) in 3 newsgroup(s): ", "x")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
}

// The selection screen on the sample board's groups: the hidden group is
// an empty row that cannot be subscribed, a search lands on its hit, and
// the screen ends once MaxGroups are subscribed.
TEST_F(NewsSession, TheSelectionScreenHidesSearchesAndStopsAtMaxGroups) {
    board().Set("MaxGroups", "2");
    StartBoard();
    auto terry = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "s"));
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(" : ")) << terry->Rest();
    terry->session().Pump(100);
    PtySession& s = terry->session();
    EXPECT_EQ(s.Row(5), "") << s.Screen();  // group 4, hidden from level 10
    EXPECT_EQ(s.Row(4), "3       rec.arts.poems [1,1]") << s.Screen();

    terry->Send("s*.misc\r");
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(" : ")) << terry->Rest();
    terry->session().Pump(100);
    EXPECT_EQ(s.Cell(3, 8).bg, kCyan) << s.Screen();  // the hit, comp.os.linux.misc
    EXPECT_NE(s.Cell(4, 8).bg, kCyan) << s.Screen();

    terry->Send("4\r");
    ASSERT_TRUE(terry->Expect("\a")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("(0/2)")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(" : ")) << terry->Rest();
    terry->Send("3-1\r");
    ASSERT_TRUE(terry->Expect("(0/2)")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(" : ")) << terry->Rest();
    // Numbers past the list name no group, however long.
    terry->Send("9223372036854775787-99999999999999999999 4294967297\r");
    ASSERT_TRUE(terry->Expect("\a")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("(0/2)")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(" : ")) << terry->Rest();
    terry->Send("1-10\r");  // two fit, and the screen ends by itself
    ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();

    NewsFileContents news = ReadNewsFile("terry");
    ASSERT_EQ(news.subs.size(), 2u);
    EXPECT_EQ(news.subs[0].Group, 0u);
    EXPECT_EQ(news.subs[1].Group, 1u);
    EXPECT_EQ(news.size, NewsInfoHeader::kSize + 2 * NewsSubscription::kSize);
}

// A group whose path in "master.bbs" climbs out of the spool is never
// opened: its "articles" beside the spool are not listed or read.
TEST_F(NewsSession, AGroupPathOutOfTheSpoolIsNotOpened) {
    const std::string spool = board().config().NewsSpool;
    board().WriteFile(spool + "/../outside/1", "From: x@example.org\nSubject: Outside the spool\n\nSecret.\n");
    NewsGroupRecord g;
    g.Path = "../outside", g.Count = 1, g.Highest = 1;
    auto bytes = EncodeRecord(g);
    board().WriteFile(board().config().NewsDir + "/master.bbs", std::string(bytes.begin(), bytes.end()));
    NewsInfoHeader h = FreshNewsHeader();
    h.Subscribed = 1;
    auto head = EncodeRecord(h);
    auto sub = EncodeRecord(NewsSubscription{});
    board().WriteFile(board().config().NewsDir + "/terry.bbs",
                      std::string(head.begin(), head.end()) + std::string(sub.begin(), sub.end()));
    PrepareTerry();
    UserRecord terry = User(1);
    terry.Alias = "terry";
    PutUser(1, terry);
    StartBoard();
    auto c = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*c, "r"));
    ASSERT_TRUE(c->Answer(kGroupQuestion, "y")) << c->Rest();
    ASSERT_TRUE(c->Answer("News: ", "q")) << c->Rest();
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(c->session().Output().find("Outside the spool"), std::string::npos);
    EXPECT_NE(CallerLog().find("Cannot get article name (group = ../outside)"), std::string::npos)
        << CallerLog();
}

// A search of the full 40 places is offered again one place shorter: a
// full input would end by itself and search the same again unasked.
TEST_F(NewsSession, AFullLengthSearchOfferedAgainCanBeEdited) {
    StartBoard();
    auto terry = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "s"));
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    const std::string search = std::string(22, '*') + "comp.os.linux.misc";
    ASSERT_EQ(search.size(), 40u);
    ASSERT_TRUE(terry->Answer(" : ", "s" + search + "\r")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(" : ", "s")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Search string: ")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(search.substr(0, 39))) << terry->Rest();
    terry->Send(std::string(39, '\x7f') + "rec*\r");
    ASSERT_TRUE(terry->Expect("]uit, ")) << terry->Rest();
    ASSERT_TRUE(terry->Expect(" : ")) << terry->Rest();
    terry->session().Pump(100);
    PtySession& s = terry->session();
    EXPECT_EQ(s.Cell(4, 8).bg, kCyan) << s.Screen();  // the new hit, rec.arts.poems
    EXPECT_EQ(s.Output().find("No group found"), std::string::npos);
    terry->Send("q");
    ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
}

// Group names come from the network: their control bytes show as blanks
// on the selection screen, as in the reading loop.
TEST_F(NewsSession, TheSelectionScreenBlanksControlBytesOfGroupNames) {
    NewsGroupRecord g;
    g.Path = "alt/\x1b[2Jwiped\x1b]0;owned\x07", g.Count = 1, g.Highest = 1;
    auto bytes = EncodeRecord(g);
    board().WriteFile(board().config().NewsDir + "/master.bbs", std::string(bytes.begin(), bytes.end()));
    StartBoard();
    auto terry = Dial();
    ASSERT_NO_FATAL_FAILURE(TerryToNews(*terry, "s"));
    ASSERT_TRUE(terry->Expect("alt. [2Jwiped ]0;owned  [1,1]")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(" : ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("News: ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
    for (const char* sequence : {"\x1b[2Jwiped", "\x1b]0;owned", "\x07"})
        EXPECT_EQ(terry->session().Output().find(sequence), std::string::npos) << "sequence " << sequence + 1;
}

}  // namespace
}  // namespace kv::test
