// Message texts from outside the line editor: the caller's editor program
// (a script of the test) and a text uploaded through Zmodem, each as a
// caller meets it through the sample menus, the stored message read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "caller/areas/message_text_upload.h"
#include "common/msgbase.h"
#include "common/user_record.h"
#include "tests/support/caller_fixture.h"
#include "tests/transfers/far_end.h"
#include "tests/support/msgbase_reader.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

TEST(CleanTextBytes, WhatAMessageMayHold) {
    struct Case {
        const char* what;
        std::string in;
        bool acceptHigh;
        std::optional<std::string> want;
    } cases[] = {
        {"plain text and line ends", "a b\r\n\tc\n", false, "a b\r\n\tc\n"},
        {"end-of-text bytes dropped", "one\x1Atwo\x1A", false, "onetwo"},
        {"other control bytes become dots", "a\x07\x1B[2Jb", false, "a..[2Jb"},
        {"a NUL refuses the text", std::string("a\0b", 3), false, std::nullopt},
        {"accented letters folded", "caf\x82 \x80\x9A\x84\xA4", false, "cafe CUa."},
        {"line drawing and DEL become dots", "\xC4\xDA\x7F", false, "..."},
        {"high bytes kept when accepted", "caf\x82 \xC4", true, "caf\x82 \xC4"},
    };
    for (const Case& t : cases) EXPECT_EQ(caller::CleanTextBytes(t.in, t.acceptHigh), t.want) << t.what;
}

class MessageTextCall : public CallerTest {
protected:
    // Terry writes with an editor program: the script given.
    void UseEditor(const std::string& body) {
        fs::path script = board().root() / "editor.sh";
        board().WriteFile(script, "#!/bin/sh\n" + body);
        fs::permissions(script, fs::perms::owner_all);
        board().Set("CallerEditor", script.string() + " --ignored");
        UserRecord u = User(1);
        u.Options |= USER_FULL_EDITOR;
        PutUser(1, u);
    }

    // From the top menu to the point where the text is taken.
    std::unique_ptr<Caller> StartMessage(const std::string& subject) {
        auto c = Dial();
        c->LogInAs("terry tester", "keyboard");
        EXPECT_TRUE(c->Answer("Your choice: ", "m")) << c->Rest();
        EXPECT_TRUE(c->Answer("Messages in ", "e")) << c->Rest();
        EXPECT_TRUE(c->Answer("To: ", "sam sysop\r")) << c->Rest();
        EXPECT_TRUE(c->Answer("Subject: ", subject + "\r")) << c->Rest();
        EXPECT_TRUE(c->Answer("Make the message private?", "n")) << c->Rest();
        EXPECT_TRUE(c->Answer("Change the heading before writing?", "n")) << c->Rest();
        return c;
    }

    void LogOff(Caller& c) {
        ASSERT_TRUE(c.Answer("Messages in ", "q")) << c.Rest();
        ASSERT_TRUE(c.Answer("Your choice: ", "g")) << c.Rest();
        EXPECT_EQ(c.Wait(), 1) << c.Rest();
    }

    std::vector<std::string> StoredLines() {
        MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
        EXPECT_TRUE(base.InStep()) << base.Problem();
        if (base.messages.size() != 1) return {};
        std::vector<std::string> lines;
        for (const std::string& l : base.messages[0].text.Lines) {
            if (!l.empty() && l[0] != kControlByte) lines.push_back(l);
        }
        return lines;
    }
};

TEST_F(MessageTextCall, EditorProgramWritesTheText) {
    // The script sees its file as its one argument and writes three lines,
    // one with a control byte, one with a PC letter, which the area takes.
    UseEditor("[ $# -eq 1 ] || exit 3\nprintf 'Written outside.\\nBell\\007 here.\\nCaf\\202.\\n' > \"$1\"\n");
    StartBoard();
    auto c = StartMessage("Edited");
    LogOff(*c);
    EXPECT_EQ(StoredLines(), (std::vector<std::string>{"Written outside.", "Bell. here.", "Caf\x82."}));
    EXPECT_TRUE(fs::is_empty(fs::path(board().config().WorkDir) / "kvcarry0"));
}

TEST_F(MessageTextCall, EditorLeftWithoutSavingStoresNothing) {
    UseEditor("exit 0\n");
    StartBoard();
    auto c = StartMessage("Not saved");
    ASSERT_TRUE(c->Expect("The text was not saved.")) << c->Rest();
    ASSERT_TRUE(c->Expect("Message abandoned.")) << c->Rest();
    LogOff(*c);
    EXPECT_TRUE(ReadMsgBase(board().MsgBaseDir()).messages.empty());
}

// A text sent by sz at the far end: its long line wrapped, its 0x1A gone,
// its accented letter folded in an area that takes plain ASCII only.
TEST_F(MessageTextCall, UploadedTextBecomesTheMessage) {
    board().Set("OfferTextUpload", "1");
    board().Set("MsgAreas[0].AcceptHighAscii", "0");
    std::string words;
    for (int i = 0; i < 20; ++i) words += "word" + std::to_string(i % 10) + " ";  // 120 characters
    fs::path out = board().root() / "send";
    board().WriteFile(out / "text.txt", "Caf\x82 first.\r\n" + words + "\r\n\x1A");
    StartBoard();
    auto c = StartMessage("Uploaded");
    ASSERT_TRUE(c->Answer("Upload the text instead of typing it?", "y")) << c->Rest();
    ASSERT_TRUE(c->Answer("(letter, ? or Q): ", "z")) << c->Rest();
    ASSERT_TRUE(c->Expect("Start your upload now.")) << c->Rest();
    EXPECT_EQ(c->session().RunAtFarEnd({"sz", "-b", "-q", "text.txt"}, out), 0);
    NudgeReceiver(c->session());
    ASSERT_TRUE(c->Answer("Received. Press a key.", " ")) << c->Rest();
    LogOff(*c);
    std::vector<std::string> lines = StoredLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Cafe first.");
    EXPECT_LE(lines[1].size(), 72u);
    EXPECT_EQ(lines[1] + " " + lines[2] + " ", words);
}

}  // namespace
}  // namespace kv::test
