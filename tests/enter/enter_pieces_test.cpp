// The pieces of the enter-message command that need no terminal: which
// addresses reach the mailer, the reply subject, the attachment check and
// the request written into the server's pipe.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "caller/areas/enter_message.h"
#include "caller/term/call_state.h"
#include "common/record_io.h"
#include "common/runtime.h"
#include "tests/support/text_segment.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::caller;

namespace {

TEST(IsMailAddress, Table) {
    const struct {
        const char* text;
        bool want;
    } cases[] = {
        {"someone@example.org", true},
        {"host!user", true},
        {"first.last+tag@sub-domain.example", true},
        {"user%relay=x_y@host", true},
        {"@example.org", false},          // begins with the sign
        {"!host", false},
        {"-X/tmp/x@x", false},            // a mailer option, not an address
        {"-oQ/tmp@x", false},
        {"nobody", false},                // neither sign
        {"", false},
        {"a;reboot@example.org", false},  // shell syntax never reaches the mailer
        {"$(id)@example.org", false},
        {"`id`@example.org", false},
        {"a|b@example.org", false},
        {"a b@example.org", false},
        {"a'b@example.org", false},
        {"a\x82@example.org", false},     // a byte above 127
    };
    for (const auto& c : cases) EXPECT_EQ(IsMailAddress(c.text), c.want) << c.text;
}

TEST(ReplySubject, OnePrefixAndAtMost65Characters) {
    const std::string longer(80, 'x');
    const struct {
        std::string source, want;
    } cases[] = {
        {"Hello", "RE: Hello"},
        {"RE: Hello", "RE: Hello"},
        {"RE:Hello", "RE: Hello"},    // nothing of the subject lost
        {"RE:", "RE: "},
        {"re: Hello", "RE: re: Hello"},  // the prefix is matched in its exact case
        {longer, "RE: " + std::string(65, 'x')},
        {"RE: " + longer, "RE: " + std::string(65, 'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplySubject(c.source), c.want) << c.source;
}

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kventer.XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const fs::path& p, const std::string& body) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << body;
    }
    fs::path dir_;
};

using CheckAttachmentTest = ScratchDir;

TEST_F(CheckAttachmentTest, OnlyPlainFilesInsideTheWorkDirectoryWhosePathFits) {
    fs::path work = dir_ / "work";
    Write(work / "doc.txt", "twelve bytes");
    Write(work / "sub/a.txt", "a");
    fs::create_directories(work / "dir");
    Write(dir_ / "outside.txt", "secret");
    fs::create_symlink(dir_ / "outside.txt", work / "link");
    fs::create_symlink(work / "doc.txt", work / "inner");
    std::string longName(72, 'n');
    Write(work / longName, "x");

    const struct {
        std::string name;
        AttachCheck want;
        int64_t size;
    } cases[] = {
        {"doc.txt", AttachCheck::kOk, 12},
        {"sub/a.txt", AttachCheck::kOk, 1},
        {"inner", AttachCheck::kOk, 12},       // a link that stays inside
        {"missing", AttachCheck::kNotFound, 0},
        {"dir", AttachCheck::kNotFound, 0},     // not a plain file
        {"sub/../../outside.txt", AttachCheck::kOutside, 0},
        {"link", AttachCheck::kOutside, 0},
        {longName, AttachCheck::kTooLong, 0},  // a cut path would name another file
    };
    for (const auto& c : cases) {
        std::string path;
        int64_t size = -1;
        EXPECT_EQ(CheckAttachment(work.string(), c.name, path, size), c.want) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
        if (c.want == AttachCheck::kOk) {
            EXPECT_EQ(path, fs::canonical(work / c.name).string()) << c.name;
        } else {
            EXPECT_EQ(path, "") << c.name;
        }
    }
}

// The request as a caller program writes it, into a DataDir of its own.
class SendMailRequestTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        texts_ = test::SampleTextSegment();
        Call() = CallState{};
        Call().Segment = texts_.data();
        ASSERT_TRUE(SelectMessageFile(0));
        ConfigRecord c;
        c.DataDir = dir_.string();
        c.LineLogName = "kivo.log";
        SetConfig(c);
        request_.Code = CMD_MAIL_NOW;
        request_.Name = "Terry Tester";
        request_.Alias = "terry";
        request_.MessageNumber = 7;
        request_.HeaderOffset = 1608;
    }
    void TearDown() override {
        Call() = CallState{};
        SetConfig(ConfigRecord{});
        ScratchDir::TearDown();
    }
    fs::path Pipe() const { return dir_ / kCommandPipeName; }
    std::string Log() const {
        std::ifstream in(dir_ / ("kivo." + std::to_string(getpid())));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    std::vector<uint8_t> texts_;
    ServerCommand request_;
};

TEST_F(SendMailRequestTest, OneWholeRecordIntoAReadPipe) {
    ASSERT_EQ(mkfifo(Pipe().c_str(), 0600), 0);
    int reader = open(Pipe().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(SendMailRequest(request_));
    uint8_t got[100];
    ASSERT_EQ(read(reader, got, sizeof got), 84);
    close(reader);
    ServerCommand back;
    DecodeRecord(got, back);
    EXPECT_EQ(back.Code, CMD_MAIL_NOW);
    EXPECT_EQ(back.Name, "Terry Tester");
    EXPECT_EQ(back.Alias, "terry");
    EXPECT_EQ(back.MessageNumber, 7);
    EXPECT_EQ(back.HeaderOffset, 1608);
    // Nothing of the program's memory rides along after the texts.
    for (size_t i = 2 + 12; i < 63; ++i) EXPECT_EQ(got[i], 0) << i;
    for (size_t i = 63 + 5; i < 76; ++i) EXPECT_EQ(got[i], 0) << i;
}

TEST_F(SendMailRequestTest, NoPipeIsLoggedAndNoReaderNeverWaits) {
    EXPECT_FALSE(SendMailRequest(request_));
    EXPECT_NE(Log().find(GetText(733)), std::string::npos) << Log();

    // A pipe nobody reads: the open does not wait for a server.
    ASSERT_EQ(mkfifo(Pipe().c_str(), 0600), 0);
    EXPECT_FALSE(SendMailRequest(request_));
    EXPECT_EQ(Log().find(GetText(733)), Log().rfind(GetText(733))) << "logged once";

    // A plain file in the pipe's place gets nothing.
    fs::remove(Pipe());
    Write(Pipe(), "");
    EXPECT_FALSE(SendMailRequest(request_));
    EXPECT_EQ(fs::file_size(Pipe()), 0u);

    // Nor does a link in its place, even to a pipe that somebody reads.
    fs::remove(Pipe());
    fs::path elsewhere = dir_ / "elsewhere";
    ASSERT_EQ(mkfifo(elsewhere.c_str(), 0600), 0);
    int reader = open(elsewhere.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fs::create_symlink(elsewhere, Pipe());
    EXPECT_FALSE(SendMailRequest(request_));
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
    EXPECT_NE(Log().find("Mail request for message #7 not sent: " + Pipe().string() + " is not a pipe"),
              std::string::npos)
        << Log();
}

}  // namespace
