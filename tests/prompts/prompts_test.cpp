// The caller's questions on a line: choice prompts, line and name input,
// phone numbers by template and the page pause of a listing.
#include <gtest/gtest.h>

#include "tests/prompts/probe_session.h"

using namespace kv::test;

namespace {

const char kBell[] = "\a";

TEST(ChoicePrompt, TakesItsKeysAndEnterForTheDefault) {
    TempBoard b;
    auto s = StartProbe(b, {"choice=YN,default,prompt=Continue?", "choice=YN,default", "choice=YN,default",
                                  "choice=YNQ", "say=done"});
    ASSERT_TRUE(s->WaitForText("Continue? [Y/n] :"));
    s->Send("\r");  // the default
    ASSERT_TRUE(s->WaitForText("answer=[Y]"));
    s->Send("n");
    ASSERT_TRUE(s->WaitForText("answer=[N]"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText(" [y/n/q] :"));
    // Without a default Enter is no answer, and neither is a key not offered.
    s->Send("\rx");
    ASSERT_TRUE(s->WaitForOutput(std::string(kBell) + kBell));
    s->Send("q");
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_EQ(CountOf(s->Screen(), "answer=[Y]"), 2);
    EXPECT_NE(s->Screen().find("[y/n/q] : Q"), std::string::npos) << s->Screen();
    EXPECT_NE(s->Screen().find("answer=[Q]"), std::string::npos);
    EXPECT_EQ(s->Wait(), 0);
}

TEST(ChoicePrompt, DefaultKeyStandsOutInItsColour) {
    TempBoard b;
    auto s = StartProbe(b, {"ansi", "color", "choice=YN,default,colour,prompt=Go?"});
    ASSERT_TRUE(s->WaitForText("Go? [Y/n] :"));
    // Answer keys are pair 2 (15 on 0: bold white), the rest pair 0 (7 on 0).
    int col = int(std::string("Go? [").size());
    EXPECT_TRUE(s->Cell(1, col).bold);
    EXPECT_EQ(s->Cell(1, col).fg, 7);
    EXPECT_FALSE(s->Cell(1, col + 2).bold);
    s->Send("N");
    ASSERT_TRUE(s->WaitForText("answer=[N]"));
    EXPECT_EQ(s->Wait(), 0);
}

TEST(LineInput, NameCapitalisesErasesAndKeepsToItsLength) {
    TempBoard b;
    auto s = StartProbe(b, {"name=14", "name=5", "name=4,Jonathan", "say=done"});
    // Five erased letters leave "o'brien-"; the name goes on from there.
    s->Send("o'brien-smith\b\b\b\b\bjONES\r");
    ASSERT_TRUE(s->WaitForText("answer=[O'Brien-Jones]"));
    EXPECT_EQ(s->Row(1), "O'Brien-Jones");
    // Beyond the length every key rings the bell; only Enter ends a name.
    s->Send("abcdefg\r");
    ASSERT_TRUE(s->WaitForText("answer=[Abcde]"));
    EXPECT_EQ(CountOf(s->Output(), kBell), 2);
    // A start text longer than the field is cut to it.
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_NE(s->Screen().find("answer=[Jona]"), std::string::npos) << s->Screen();
    EXPECT_EQ(s->Wait(), 0);
}

TEST(LineInput, LineEndsAtItsLengthOrEscape) {
    TempBoard b;
    auto s = StartProbe(b, {"line=1", "line=20", "line=20,hidden", "say=done"});
    s->Send("x");  // no Enter needed at the length
    ASSERT_TRUE(s->WaitForText("answer=[x]"));
    s->Send("abc\x1b");
    ASSERT_TRUE(s->WaitForText("answer=[^[]"));
    s->Send("secret\r");
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_NE(s->Screen().find("******"), std::string::npos);
    EXPECT_NE(s->Screen().find("answer=[secret]"), std::string::npos);
    EXPECT_EQ(s->Wait(), 0);
}

TEST(LineInput, AskInputRepeatsAfterABareEnterUnlessEmptyIsAllowed) {
    TempBoard b;
    auto s = StartProbe(b, {"ask=20", "ask=20", "ask=20,empty", "say=done"});
    s->Send("\r");
    ASSERT_TRUE(s->WaitForOutput(kBell));
    s->Send("hello\r");
    ASSERT_TRUE(s->WaitForText("answer=[hello]"));
    s->Send("\x1b");  // ESC ends a question that wants an answer
    ASSERT_TRUE(s->WaitForText("answer=[^[]"));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_EQ(CountOf(s->Screen(), "Your answer:"), 4) << s->Screen();
    EXPECT_EQ(CountOf(s->Screen(), "length=0"), 1);
    EXPECT_EQ(s->Wait(), 0);
}

TEST(LineInput, WrapCarriesTheLastWordOn) {
    TempBoard b;
    auto s = StartProbe(b, {"wrap=12", "wrap=12", "say=done"});
    s->Send("hello wonder");  // twelve: the line is full
    ASSERT_TRUE(s->WaitForText("overflow=[ wonder]"));
    EXPECT_EQ(s->Row(1), "hello");
    EXPECT_NE(s->Screen().find("answer=[hello]"), std::string::npos);
    s->Send("one two.thre");  // after a "." the "." stays
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_NE(s->Screen().find("answer=[one two.]"), std::string::npos) << s->Screen();
    EXPECT_NE(s->Screen().find("overflow=[thre]"), std::string::npos) << s->Screen();
    EXPECT_EQ(s->Wait(), 0);
}

TEST(PhoneInput, FollowsTheTemplate) {
    TempBoard b;
    auto s = StartProbe(b, {"phone=Home phone", "say=done"});
    ASSERT_TRUE(s->WaitForText("Home phone: ("));
    // A backspace goes back over the template's own characters to the last
    // digit; letters and an early Enter ring the bell.
    s->Send("5550\b\b5123");
    ASSERT_TRUE(s->WaitForText("(555) 123-"));
    s->Send("456\ra7\r");
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_NE(s->Screen().find("Home phone: (555) 123-4567"), std::string::npos) << s->Screen();
    EXPECT_NE(s->Screen().find("answer=[(555) 123-4567]"), std::string::npos);
    EXPECT_EQ(CountOf(s->Output(), kBell), 2);
    EXPECT_EQ(s->Wait(), 0);
}

TEST(PhoneInput, ConfiguredTemplateWins) {
    TempBoard b;
    b.Set("PhoneTemplate", "99-99");
    auto s = StartProbe(b, {"phone=Data", "say=done"});
    s->Send("12345\r");  // the fifth digit has no place
    ASSERT_TRUE(s->WaitForText("done"));
    EXPECT_NE(s->Screen().find("answer=[12-34]"), std::string::npos) << s->Screen();
    EXPECT_EQ(CountOf(s->Output(), kBell), 1);
}

struct PauseCase {
    const char* what;
    std::string keys;   // one answer per pause
    int pauses;
    const char* last;   // the listing's last line
    const char* absent; // a line that must not be shown
};

TEST(PagePause, NoKeyStopsEqualsTurnsPausingOff) {
    const PauseCase cases[] = {
        {"NoKey stops", "n", 1, "list stopped", "item 10"},
        {"= shows the rest", "=", 1, "list end", nullptr},
        {"another key goes on", "xx", 2, "list end", nullptr},
    };
    TempBoard b;
    for (const PauseCase& c : cases) {
        SCOPED_TRACE(c.what);
        // A screen of 10 lines pauses after 9; 20 items need two pauses.
        auto s = StartProbe(b, {"screen=10", "list=20"});
        // Each pause is waited for in the output: the one answered last
        // may still stand on the screen.
        int pauses = 0;
        for (char k : c.keys) {
            ASSERT_TRUE(s->WaitForOutputCount("-- More --", ++pauses)) << s->Screen();
            s->Send(std::string(1, k));
        }
        ASSERT_TRUE(s->WaitForText(c.last)) << s->Screen();
        EXPECT_EQ(s->Wait(), 0);
        EXPECT_EQ(CountOf(s->Output(), "-- More --"), c.pauses);
        // The pause prompt is erased once answered.
        EXPECT_EQ(s->Screen().find("-- More --"), std::string::npos);
        if (c.absent != nullptr) {
            EXPECT_EQ(s->Output().find(c.absent), std::string::npos);
        } else {
            EXPECT_NE(s->Output().find("item 20"), std::string::npos);
        }
    }
}

}  // namespace
