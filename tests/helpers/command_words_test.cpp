#include <gtest/gtest.h>

#include "common/command_words.h"

using namespace kv;

namespace {

TEST(CommandTemplate, WordsAsTheShellWouldQuoteThemWithValuesLiteral) {
    const TemplateCodes values = {{'A', "ann"}, {'T', "x@y\" ; touch p ; \"'`id`$(id)"}, {'F', ""}};
    struct Case {
        const char* text;
        std::vector<std::string> want;
    } cases[] = {
        {"-oi -f %A %T", {"-oi", "-f", "ann", "x@y\" ; touch p ; \"'`id`$(id)"}},
        {"-oi  -f \"%A\" '%t'", {"-oi", "-f", "ann", "x@y\" ; touch p ; \"'`id`$(id)"}},
        {"-f%A <%T>", {"-fann", "<x@y\" ; touch p ; \"'`id`$(id)>"}},
        {"\"a b\" 'c \"d' e\\ f \"g\\\"h\\n\"", {"a b", "c \"d", "e f", "g\"h\\n"}},
        {"%F '' \"\" %Z 100%", {"", "", "", "%Z", "100%"}},
        {"\t", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words;
        std::string why;
        ASSERT_TRUE(SplitCommandTemplate(c.text, values, true, words, why)) << c.text << ": " << why;
        EXPECT_EQ(words, c.want) << c.text;
    }
}

TEST(CommandTemplate, RefusesOpenQuotesAndValuesPosingAsOptions) {
    const TemplateCodes values = {{'A', "-X/tmp/x"}, {'T', "bob@x"}};
    for (const char* text : {"-f %A", "-f \"%A\"", "-f ''%A", "-f 'open %T", "\"open"}) {
        std::vector<std::string> words;
        std::string why;
        EXPECT_FALSE(SplitCommandTemplate(text, values, true, words, why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
    // Inside a word the value is no option.
    std::vector<std::string> words;
    std::string why;
    ASSERT_TRUE(SplitCommandTemplate("-f%A x%A", values, true, words, why)) << why;
    EXPECT_EQ(words, (std::vector<std::string>{"-f-X/tmp/x", "x-X/tmp/x"}));
    // Letters are taken in one case only when asked.
    ASSERT_TRUE(SplitCommandTemplate("%t", values, false, words, why)) << why;
    EXPECT_EQ(words, (std::vector<std::string>{"%t"}));
}

}  // namespace
