// The bulletin command: the caller's answer picks a display file beside the
// bulletin menu, and never a path out of TextDir.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/prompts/probe_session.h"

namespace kv::test {
namespace {

TEST(Bulletins, AnAnswerIsOneFileNameBesideTheMenu) {
    TempBoard b;
    const std::string text = b.config().TextDir;
    b.WriteFile(text + "/b.asc", "The bulletins\n");
    b.WriteFile(text + "/b1.asc", "Bulletin one\n");
    // "b" + "/../../" would be the board's root ".asc" through this directory.
    std::filesystem::create_directories(text + "/b");
    b.WriteFile(b.root() / ".asc", "SECRET\n");
    auto s = StartProbe(b, {"bulletins=b"});
    // Keys typed while the menu file shows would stop it: each answer waits
    // for the prompt after the menu.
    const std::string prompt = b.config().BulletinPrompt;
    auto answer = [&](int nth, const std::string& keys) {
        EXPECT_TRUE(s->WaitForOutputCount(prompt, nth)) << s->Output();
        s->Send(keys);
    };
    ASSERT_TRUE(s->WaitForText("The bulletins"));
    answer(1, "1\r");
    ASSERT_TRUE(s->WaitForText("Bulletin one"));
    // A bulletin waits for Enter before the menu comes back.
    ASSERT_TRUE(s->WaitForText("Press Enter to go on."));
    s->Send("\r");
    answer(2, "/../../");  // seven characters fill the answer
    ASSERT_TRUE(s->WaitForText("that screen is not available"));
    answer(3, "\r");
    ASSERT_TRUE(s->WaitForText("bulletins done")) << s->Output();
    EXPECT_EQ(s->Wait(), 0) << s->Output();
    EXPECT_EQ(s->Output().find("SECRET"), std::string::npos);
}

}  // namespace
}  // namespace kv::test
