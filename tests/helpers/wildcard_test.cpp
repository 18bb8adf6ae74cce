#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/wildcard.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

// The matcher as first written, by plain recursion: exponential on some
// patterns, but the meaning the fast one must keep.
bool ReferenceMatch(std::string_view p, std::string_view t) {
    while (!t.empty()) {
        if (p.empty()) return false;
        if (p[0] == '*') {
            if (p.size() == 1) return true;
            for (size_t i = 0; i < t.size(); ++i)
                if (ReferenceMatch(p.substr(1), t.substr(i))) return true;
            return false;
        }
        if (p[0] != '?' && p[0] != t[0]) return false;
        p.remove_prefix(1);
        t.remove_prefix(1);
    }
    return p.empty();
}

TEST(WildMatch, Table) {
    struct Case {
        const char* pattern;
        const char* text;
        bool want;
    } cases[] = {
        {"A*", "A", false},  {"A*", "AB", true},       {"A*B", "AB", true},      {"*", "", false},
        {"*", "x", true},    {"", "", true},           {"", "x", false},         {"?", "", false},
        {"a?c", "abc", true}, {"a?c", "ac", false},    {"*.ZIP", "A.ZIP", true}, {"*.ZIP", "a.zip", false},
        {"*.ZIP", ".ZIP", true}, {"a*b*", "ab", false}, {"a*b*", "abx", true},   {"**", "", false},
        {"**", "a", true},   {"*?*", "a", false},      {"abc", "abcd", false},   {"abcd", "abc", false},
        {"*a*a*b", "aaab", true}, {"*a*a*b", "aab", true}, {"*a*a*b", "ab", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WildMatch(c.pattern, c.text), c.want) << c.pattern << " ~ " << c.text;
        EXPECT_EQ(ReferenceMatch(c.pattern, c.text), c.want) << c.pattern << " ~ " << c.text;
    }
}

// Every pattern of up to five symbols over "ab*?" against every text of up
// to six letters over "ab": the fast matcher agrees with the recursion.
TEST(WildMatch, AgreesWithTheRecursionEverywhere) {
    auto all = [](std::string_view alphabet, size_t maxLen) {
        std::vector<std::string> out{""};
        for (size_t start = 0; start < out.size(); ++start)
            if (out[start].size() < maxLen)
                for (char c : alphabet) out.push_back(out[start] + c);
        return out;
    };
    const auto patterns = all("ab*?", 5);
    const auto texts = all("ab", 6);
    int mismatches = 0;
    for (const auto& p : patterns)
        for (const auto& t : texts)
            if (WildMatch(p, t) != ReferenceMatch(p, t) && ++mismatches <= 5) ADD_FAILURE() << p << " ~ " << t;
    EXPECT_EQ(mismatches, 0);
}

// A caller can type this; backtracking through every star would never end.
TEST(WildMatch, ManyStarsOnALongTextStayFast) {
    std::string text(200000, 'a');
    EXPECT_FALSE(WildMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", text));
    EXPECT_TRUE(WildMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*", text));
    text.back() = 'b';
    EXPECT_TRUE(WildMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", text));
}

TEST(WildMatch, FirstWildcard) {
    EXPECT_EQ(FirstWildcard("abc"), 0);
    EXPECT_EQ(FirstWildcard(""), 0);
    EXPECT_EQ(FirstWildcard("*"), 1);
    EXPECT_EQ(FirstWildcard("ab?d*"), 3);
    EXPECT_TRUE(HasWildcard("x*"));
    EXPECT_FALSE(HasWildcard("x.zip"));
}

class Listing : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvlist.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Touch(const std::string& name) { std::ofstream(dir_ / name) << name; }

    std::vector<std::string> Names(DirListing& list, std::string_view pattern) {
        std::vector<std::string> names;
        ListingEntry e;
        for (int r = list.FindFirst(pattern, e, dir_); r == 0; r = list.FindNext(e)) names.push_back(e.Name);
        return names;
    }

    fs::path dir_;
};

TEST_F(Listing, SortedInByteOrderWithWholeLongNames) {
    const std::string longName = "a_name_longer_than_fifteen_characters.ZIP";
    for (std::string n : {"a.ZIP", "readme", "B.ZIP", "\xE9t\xE9.ZIP", "A.ZIP", "b.zip"}) Touch(n);
    Touch(longName);
    fs::create_directory(dir_ / "sub.ZIP");
    DirListing list;
    EXPECT_EQ(Names(list, "*.ZIP"),
              (std::vector<std::string>{"A.ZIP", "B.ZIP", "a.ZIP", longName, "sub.ZIP", "\xE9t\xE9.ZIP"}));

    std::vector<std::string> every = Names(list, "*");
    ASSERT_EQ(every.size(), 10u);
    EXPECT_EQ(every[0], ".");
    EXPECT_EQ(every[1], "..");
    // The range form walks the same listing.
    size_t i = 0;
    for (const ListingEntry& e : list) EXPECT_EQ(e.Name, every[i++]);
}

TEST_F(Listing, ExactNamesAndNothingFound) {
    Touch("readme");
    DirListing list;
    ListingEntry e;
    ASSERT_EQ(list.FindFirst("readme", e, dir_), 0);
    struct stat st;
    ASSERT_EQ(stat((dir_ / "readme").c_str(), &st), 0);
    EXPECT_EQ(e.Inode, st.st_ino);
    EXPECT_EQ(list.FindNext(e), -1);

    EXPECT_EQ(list.FindFirst("README", e, dir_), -1);  // names are case-sensitive
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.FindFirst("*.ZIP", e, dir_), -1);
    EXPECT_EQ(list.FindFirst("*", e, dir_ / "missing"), -1);
    EXPECT_EQ(list.FindNext(e), -1);
}

// Each listing is its own: walking one inside the other's loop changes nothing.
TEST_F(Listing, NestedListingsStayApart) {
    for (std::string n : {"x1", "x2", "y1"}) Touch(n);
    DirListing outer, inner;
    std::vector<std::string> seen;
    ListingEntry e;
    for (int r = outer.FindFirst("x*", e, dir_); r == 0; r = outer.FindNext(e)) {
        seen.push_back(e.Name);
        EXPECT_EQ(Names(inner, "y*"), std::vector<std::string>{"y1"});
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"x1", "x2"}));
}

}  // namespace
