// kvpost as the server runs it: a message base written here, a request
// file, and a mailer that records what it was given.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <future>
#include <string>
#include <vector>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tests/support/msgbase_reader.h"

namespace fs = std::filesystem;

namespace kv {
namespace {

// Call n of the mailer leaves n.args (one argument a line) and n.mail (its
// standard input); a file "fail" makes it end with status 3 after reading.
constexpr const char* kRecordingMailer = R"(#!/bin/sh
dir="$(dirname "$0")/rec"
i=1
while [ -e "$dir/$i.mail" ]; do i=$((i+1)); done
printf '%s\n' "$@" > "$dir/$i.args"
cat > "$dir/$i.mail"
[ -e "$dir/fail" ] && exit 3
exit 0
)";

struct Message {
    std::string to = "bob@example.com";
    std::string subject = "Greetings";
    std::vector<std::string> lines = {"Hello there", "\x01MSGID: 42", "Second line"};
    uint8_t mailFlags = 0;
    int32_t replyTo = 0;
    int16_t area = 2;  // the sample board's Internet-mail area
};

class KvpostTest : public ::testing::Test {
protected:
    KvpostTest() {
        fs::create_directories(rec());
        board.WriteFile("mailer.sh", kRecordingMailer);
        fs::permissions(board.root() / "mailer.sh", fs::perms::owner_all);
        board.Set("MailerPath", (board.root() / "mailer.sh").string());
        board.Set("MailerArgs", "-f %A %T");
        board.Set("FromTemplate", "%F <%a@localhost>");
        board.Set("SharCommand", "shar -q -f -o part -L 8 %f");
        fs::create_directories(board.root() / "tmp");
        SetConfig(board.config());
    }

    fs::path rec() const { return board.root() / "rec"; }
    fs::path requestPath() const { return board.root() / "request"; }
    fs::path workDir() const { return board.config().WorkDir; }

    // Appends a message in area 2 with the base's own writer; its header offset.
    int32_t Post(const Message& m) {
        MsgText text;
        text.Pid = "Kivo v1.0";
        text.Lines = m.lines;
        MsgHeader h;
        BuildMessageHeader(h, m.to, m.subject, 0, 0, m.area, true, m.replyTo ? std::optional<int32_t>(m.replyTo) : std::nullopt,
                           false, false, "Ann Smith");
        h.MailFlags = m.mailFlags;
        int32_t offset = -1;
        EXPECT_TRUE(AppendMessage(text, h, offset));
        return offset;
    }

    void Change(int32_t record, void (*edit)(MsgHeader&)) {
        MsgHeader h;
        ASSERT_TRUE(ReadMessageHeader(h, record));
        edit(h);
        ASSERT_TRUE(WriteMessageHeader(h, record));
    }

    static std::string Line(int32_t number, int32_t offset, const std::string& alias = "ann") {
        return "Ann Smith|" + alias + "|" + std::to_string(number) + "|" + std::to_string(offset);
    }
    static std::string Request(const std::vector<std::string>& lines) {
        std::string r;
        for (const auto& l : lines) r += l + "\n";
        return r;
    }

    test::RunResult Run(const std::string& request) {
        board.WriteFile(requestPath(), request);
        return test::RunProgram({test::ProgramPath("kvpost"), requestPath().string()}, board.root(),
                                {"TMPDIR=" + (board.root() / "tmp").string()});
    }

    int Calls() const {
        int n = 0;
        while (fs::exists(rec() / (std::to_string(n + 1) + ".mail"))) ++n;
        return n;
    }
    std::string Mail(int n) const { return board.ReadFile(rec() / (std::to_string(n) + ".mail")); }
    std::string Args(int n) const { return board.ReadFile(rec() / (std::to_string(n) + ".args")); }
    std::string Log() const { return board.ReadFile(board.DataDir() / "server.log"); }
    test::MsgBaseContents Base() const { return test::ReadMsgBase(board.MsgBaseDir()); }

    test::TempBoard board;
};

TEST_F(KvpostTest, MailsHeadersTextAndSignatureWithTheTemplateArguments) {
    board.Set("ExtraHeader", "X-Sender: %f %Z");
    board.WriteFile(fs::path(board.config().MailDir) / "signe.bbs", "%S at %B, %x %s\n");
    int32_t at = Post({});

    auto r = Run(Request({Line(1, at)}));
    ASSERT_EQ(r.status, 0) << Log();
    ASSERT_EQ(Calls(), 1);
    EXPECT_EQ(Args(1), "-f\nann\nbob@example.com\n");
    EXPECT_EQ(Mail(1),
              "From: Ann Smith <ann@localhost>\n"
              "X-Sender: Ann Smith %Z\n"
              "X-Mailer: Kivo v0.3\n"
              "Subject: Greetings\n\n"
              "Hello there\nSecond line\n"
              "\n--\nSam Sysop at Kivo Sample Board, %x %s\n");
    EXPECT_FALSE(fs::exists(requestPath()));
    EXPECT_TRUE(Base().messages[0].header.MailFlags & MAIL_SENT);
    EXPECT_TRUE(fs::is_empty(board.root() / "tmp"));

    // Without "signe.bbs" the mail area's signature closes the mail; an
    // empty FromTemplate leaves the From line out.
    fs::remove(fs::path(board.config().MailDir) / "signe.bbs");
    board.Set("FromTemplate", "");
    board.Set("ExtraHeader", "");
    int32_t second = Post({.subject = "Again", .lines = {"Once more"}});
    ASSERT_EQ(Run(Request({Line(2, second)})).status, 0) << Log();
    EXPECT_EQ(Mail(2), "X-Mailer: Kivo v0.3\nSubject: Again\n\nOnce more\n\n--\n--- Kivo Sample Board\n");
}

TEST_F(KvpostTest, KillAfterSendDeletesAndClearsOnlyLinksToTheDeletedMessage) {
    // #1 <- #2 (latest reply of #1); #3 <- #4, #5 (#5 the latest reply of #3).
    Post({});
    int32_t a = Post({.mailFlags = MAIL_KILL_SENT, .replyTo = 1});
    Post({});
    int32_t b = Post({.mailFlags = MAIL_KILL_SENT, .replyTo = 3});
    int32_t c = Post({.mailFlags = MAIL_KILL_SENT, .replyTo = 3});
    Change(0, [](MsgHeader& h) { h.LatestReply = 2; });
    Change(2, [](MsgHeader& h) { h.LatestReply = 5; });

    std::string request = Request({Line(2, a), Line(4, b)});
    ASSERT_EQ(Run(request).status, 0) << Log();
    auto base = Base();
    EXPECT_EQ(base.messages[0].header.LatestReply, 0);  // named #2
    EXPECT_EQ(base.messages[2].header.LatestReply, 5);  // names #5, not #4
    for (int record : {1, 3}) {
        const auto& m = base.messages[record];
        EXPECT_EQ(m.index.MsgNumber, -(record + 1));
        EXPECT_EQ(m.index.MsgArea, -3);
        EXPECT_EQ(m.recipient, "Deleted");
        EXPECT_TRUE(m.header.Status & MSG_DELETED);
    }
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->TotalMessages, 3);
    EXPECT_EQ(base.info->AreaCounts[2], 3);
    EXPECT_EQ(base.info->HighestNumber, 5);

    // The highest message goes: the highest number falls back to #4, and
    // #3 loses its link.  The same lines again are stale and count nothing.
    ASSERT_EQ(Run(Request({Line(5, c)})).status, 0) << Log();
    ASSERT_EQ(Run(request + Request({Line(5, c)})).status, 0) << Log();
    EXPECT_EQ(Calls(), 3);
    base = Base();
    EXPECT_EQ(base.messages[2].header.LatestReply, 0);
    EXPECT_EQ(base.messages[4].index.MsgNumber, -5);
    EXPECT_EQ(base.info->TotalMessages, 2);
    EXPECT_EQ(base.info->AreaCounts[2], 2);
    EXPECT_EQ(base.info->HighestNumber, 4);
    EXPECT_EQ(base.info->LowestNumber, 1);
}

TEST_F(KvpostTest, ShellCharactersInValuesStayOneWordAndRunNothing) {
    const std::vector<std::string> recipients = {
        "x@y;touch pwned", "x@y`touch pwned`", "x@y$(touch pwned)", "x@y' ; touch pwned ; '",
        "x@y|touch pwned", "x@y&&touch pwned", "\"x@y\" >pwned",
    };
    std::vector<std::string> lines;
    for (size_t i = 0; i < recipients.size(); ++i) lines.push_back(Line(int32_t(i + 1), Post({.to = recipients[i]})));
    lines.push_back(Line(int32_t(recipients.size() + 1), Post({}), "a';touch pwned;'"));
    std::string request = Request(lines);

    ASSERT_EQ(Run(request).status, 0) << Log();
    ASSERT_EQ(Calls(), int(recipients.size() + 1));
    for (size_t i = 0; i < recipients.size(); ++i)
        EXPECT_EQ(Args(int(i + 1)), "-f\nann\n" + recipients[i] + "\n") << recipients[i];
    EXPECT_EQ(Args(int(recipients.size() + 1)), "-f\na';touch pwned;'\nbob@example.com\n");
    EXPECT_FALSE(fs::exists(board.root() / "pwned"));
    EXPECT_FALSE(fs::exists(rec() / "pwned"));
}

// The sysop's template quotes its codes itself, which once let a value
// close the quote.  Without a shell, every value stays inside its word; a
// value that would begin a word with '-' (a mailer option such as -X file)
// is never sent, nor is a message outside the Internet-mail area.
TEST_F(KvpostTest, HostileValuesReachTheMailerAsTheIntendedWordsOnly) {
    board.Set("MailerArgs", "-oi -f \"%A\" '%T' x%T");
    struct Case {
        std::string to, alias;
        int16_t area;
        const char* refused;  // the log's reason, or nullptr when the mail leaves
    } cases[] = {
        {"x@y\" ; touch pwned ; \"", "ann", 2, nullptr},
        {"x@y' ; touch pwned ; '", "ann", 2, nullptr},
        {"x@y`touch pwned`", "a`touch pwned`", 2, nullptr},
        {"x@y$(touch pwned)", "$(touch pwned)", 2, nullptr},
        {"x@y\\\"$(touch pwned)", "ann", 2, nullptr},
        {"-X/tmp/pwned", "ann", 2, "Address -X/tmp/pwned of message #6 begins with '-'"},
        {"-C/tmp/cf@x", "ann", 2, "Address -C/tmp/cf@x of message #7 begins with '-'"},
        {"bob@example.com", "-X/tmp/pwned", 2, "Mailer arguments of message #8 refused"},
        {"bob@example.com", "ann", 0, "Message #9 is not in an Internet-mail area"},
    };
    std::vector<std::string> lines;
    for (size_t i = 0; i < std::size(cases); ++i)
        lines.push_back(Line(int32_t(i + 1), Post({.to = cases[i].to, .area = cases[i].area}), cases[i].alias));

    ASSERT_EQ(Run(Request(lines)).status, 0) << Log();
    auto base = Base();
    int call = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        bool sent = base.messages[i].header.MailFlags & MAIL_SENT;
        if (c.refused != nullptr) {
            EXPECT_FALSE(sent) << c.to;
            EXPECT_NE(Log().find(std::string("KP: ") + c.refused), std::string::npos) << c.to << "\n" << Log();
            continue;
        }
        EXPECT_TRUE(sent) << c.to;
        EXPECT_EQ(Args(++call), "-oi\n-f\n" + c.alias + "\n" + c.to + "\nx" + c.to + "\n") << c.to;
    }
    EXPECT_EQ(Calls(), call);
    EXPECT_FALSE(fs::exists(board.root() / "pwned"));
    EXPECT_FALSE(fs::exists(rec() / "pwned"));
    EXPECT_FALSE(fs::exists("/tmp/pwned"));
}

TEST_F(KvpostTest, AttachmentLeavesAsSharParts) {
    std::string data;
    for (int i = 0; data.size() < 20000; ++i) data += "line " + std::to_string(i) + " of the attached file\n";
    board.WriteFile(workDir() / "report.txt", data);
    int32_t at = Post({.subject = (workDir() / "report.txt").string(), .mailFlags = MAIL_FILE_ATTACHED});

    ASSERT_EQ(Run(Request({Line(1, at)})).status, 0) << Log();
    int n = Calls();
    ASSERT_GE(n, 2);
    for (int i = 1; i <= n; ++i) {
        std::string mail = Mail(i);
        std::string head = "From: Ann Smith <ann@localhost>\nX-Mailer: Kivo v0.3\nSubject: File transmission (part " +
                           std::to_string(i) + " of " + std::to_string(n) + ")\n\n#!/bin/sh";
        EXPECT_EQ(mail.substr(0, head.size()), head);
        EXPECT_NE(mail.find("part " + std::to_string(i) + " of a multipart archive"), std::string::npos);
        EXPECT_TRUE(mail.ends_with("\n--\n--- Kivo Sample Board\n"));
        EXPECT_EQ(Args(i), "-f\nann\nbob@example.com\n");
    }
    EXPECT_TRUE(Base().messages[0].header.MailFlags & MAIL_SENT);
    EXPECT_TRUE(fs::is_empty(board.root() / "tmp"));  // the parts directory is gone
}

TEST_F(KvpostTest, AttachmentOutsideTheWorkDirectoryIsNotSent) {
    board.WriteFile(workDir() / "inside.txt", "x\n");
    fs::create_symlink(board.root() / "kvconfig.bbs", workDir() / "link");
    const std::vector<std::string> subjects = {
        "/etc/passwd", (workDir() / ".." / "kvconfig.bbs").string(), (workDir() / "link").string(),
        workDir().string(), (workDir() / "missing").string(), "",
    };
    std::vector<std::string> lines;
    for (size_t i = 0; i < subjects.size(); ++i)
        lines.push_back(Line(int32_t(i + 1), Post({.subject = subjects[i], .mailFlags = MAIL_FILE_ATTACHED})));
    std::string request = Request(lines);

    ASSERT_EQ(Run(request).status, 0) << Log();
    EXPECT_EQ(Calls(), 0);
    auto base = Base();
    for (size_t i = 0; i < subjects.size(); ++i) {
        EXPECT_FALSE(base.messages[i].header.MailFlags & MAIL_SENT) << subjects[i];
        EXPECT_NE(Log().find("of message #" + std::to_string(i + 1) + " is not a file in the work directory"),
                  std::string::npos)
            << subjects[i];
    }
}

TEST_F(KvpostTest, MailThatDidNotLeaveLeavesTheMessageUnsent) {
    int32_t first = Post({.mailFlags = MAIL_KILL_SENT});
    int32_t second = Post({});
    board.WriteFile(rec() / "fail", "");

    std::string request = Request({Line(1, first), Line(2, second)});
    auto r = Run(request);
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(Calls(), 1);  // the second line is not tried
    EXPECT_NE(Log().find("KP: Mailer failed with status 3"), std::string::npos);
    EXPECT_EQ(board.ReadFile(requestPath()), request);
    auto base = Base();
    EXPECT_EQ(base.messages[0].index.MsgNumber, 1);
    EXPECT_EQ(base.messages[0].header.MailFlags & MAIL_SENT, 0);
    EXPECT_EQ(base.messages[1].header.MailFlags & MAIL_SENT, 0);
    EXPECT_EQ(base.info->TotalMessages, 2);
}

// Another kvpost at work on the request file (the server's pass beside the
// sysop's run) holds its lock: this one waits, then finds the file worked
// through and removed, and mails nothing twice.
TEST_F(KvpostTest, SecondRunOnOneRequestFileWaitsAndMailsNothingTwice) {
    int32_t at = Post({});
    board.WriteFile(requestPath(), Request({Line(1, at)}));
    int first = open(requestPath().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(first, LOCK_EX), 0);
    auto second = std::async(std::launch::async, [&] {
        return test::RunProgram({test::ProgramPath("kvpost"), requestPath().string()}, board.root(),
                                {"TMPDIR=" + (board.root() / "tmp").string()});
    });
    bool waited = test::WaitForFlockWaiter(requestPath());
    fs::remove(requestPath());
    close(first);
    EXPECT_TRUE(waited);
    EXPECT_EQ(second.get().status, 0);
    EXPECT_EQ(Calls(), 0);
}

// kvprune killed at each step of a pack's swap, then kvpost on a line for
// #2: it finishes the swap before it reads, so the mail carries #2's own
// text.  The pack puts its line before every text, so #2's new offset is
// where #3's text stands in the old file: a new header read beside the old
// texts would mail #3's.
TEST_F(KvpostTest, AfterAPackKilledInItsSwapAMailCarriesItsOwnText) {
    Post({.subject = "first", .lines = {"text of first"}});
    int32_t second = Post({.subject = "second", .lines = {"b"}});  // 19 bytes, as long as the pack's line
    Post({.subject = "third", .lines = {"text of third"}});
    std::map<std::string, std::string> saved;
    for (const auto& e : fs::directory_iterator(board.MsgBaseDir()))
        saved[e.path().filename().string()] = board.ReadFile(e.path());

    int kills = 0;
    for (int pass = 1; pass <= 40; ++pass) {
        SCOPED_TRACE(pass);
        for (const auto& e : fs::directory_iterator(board.MsgBaseDir())) fs::remove(e.path());
        for (const auto& [name, bytes] : saved) board.WriteFile(board.MsgBaseDir() / name, bytes);
        fs::remove_all(rec());
        fs::create_directories(rec());
        auto pack = test::RunProgram({test::ProgramPath("kvprune"), "-p"}, board.root(),
                                     {"KV_TEST_KILL_AT=swap:" + std::to_string(pass)});
        if (pack.status == 0) break;
        ASSERT_EQ(pack.status, 128 + SIGKILL) << pack.err;
        ++kills;
        EXPECT_EQ(Run(Request({Line(2, second)})).status, 0) << Log();
        ASSERT_EQ(Calls(), 1);
        EXPECT_NE(Mail(1).find("Subject: second\n\nb\n\n--"), std::string::npos) << Mail(1);
    }
    EXPECT_GT(kills, 4);
}

TEST_F(KvpostTest, MailerThatStopsReadingIsAFailureNotADeath) {
    board.WriteFile("quitter.sh", "#!/bin/sh\nexit 0\n");
    fs::permissions(board.root() / "quitter.sh", fs::perms::owner_all);
    board.Set("MailerPath", (board.root() / "quitter.sh").string());
    std::vector<std::string> lines(2000, std::string(150, 'x'));  // far more than a pipe holds
    int32_t at = Post({.lines = lines});

    EXPECT_EQ(Run(Request({Line(1, at)})).status, 6);
    EXPECT_NE(Log().find("KP: Cannot write the mail into the mailer"), std::string::npos);
    EXPECT_EQ(Base().messages[0].header.MailFlags & MAIL_SENT, 0);
}

TEST_F(KvpostTest, StaleAndMalformedLinesAreLoggedAndSkipped) {
    int32_t first = Post({});
    int32_t sent = Post({});
    int32_t gone = Post({});
    int32_t good = Post({});
    Change(sent / 268, [](MsgHeader& h) { h.MailFlags |= MAIL_SENT; });
    Change(gone / 268, [](MsgHeader& h) { h.Status |= MSG_DELETED; });

    struct Case {
        std::string line, logged;
    } cases[] = {
        {"garbage", "KP: Bad request line skipped: garbage"},
        {"a|b|1", "KP: Bad request line skipped: a|b|1"},
        {"a|b|1|0|0", "KP: Bad request line skipped: a|b|1|0|0"},
        {"a|b|x|0", "KP: Bad request line skipped: a|b|x|0"},
        {"a|b|1|100", "KP: Bad request line skipped: a|b|1|100"},
        {"a|b|1|-268", "KP: Bad request line skipped: a|b|1|-268"},
        {"a|b|0|0", "KP: Bad request line skipped: a|b|0|0"},
        {"a|b|1|26800", "KP: No message header at position 26800, line skipped"},
        {Line(9, first), "KP: Message at position 0 is #1, not #9, line skipped"},
        {Line(2, sent), "KP: Message #2 was sent already, line skipped"},
        {Line(3, gone), "KP: Message #3 is deleted, line skipped"},
    };
    std::vector<std::string> lines;
    for (const auto& c : cases) lines.push_back(c.line);
    lines.push_back(Line(4, good));
    std::string request = Request(lines);

    ASSERT_EQ(Run(request).status, 0) << Log();
    EXPECT_EQ(Calls(), 1);
    std::string log = Log();
    for (const auto& c : cases) EXPECT_NE(log.find(c.logged), std::string::npos) << c.line;
    auto base = Base();
    EXPECT_EQ(base.messages[0].header.MailFlags & MAIL_SENT, 0);
    EXPECT_TRUE(base.messages[3].header.MailFlags & MAIL_SENT);
    EXPECT_FALSE(fs::exists(requestPath()));
}

TEST_F(KvpostTest, ExitStatuses) {
    std::string kvpost = test::ProgramPath("kvpost");
    auto v = test::RunProgram({kvpost, "-v"}, board.root());
    EXPECT_EQ(v.status, 99);
    EXPECT_EQ(v.err.rfind("kvpost v1.0", 0), 0u) << v.err;

    struct Case {
        std::vector<std::string> argv;
        int status;
    } cases[] = {
        {{kvpost}, 1},
        {{kvpost, "a", "b"}, 1},
        {{kvpost, "missing"}, 2},
    };
    for (const auto& c : cases) EXPECT_EQ(test::RunProgram(c.argv, board.root()).status, c.status) << c.argv.size();

    // No configuration where it runs.
    EXPECT_EQ(test::RunProgram({kvpost, "x"}, board.root() / "tmp").status, 3);

    // A text that is not there sends nothing.
    int32_t at = Post({});
    Change(0, [](MsgHeader& h) { h.TextOffset = 1 << 20; });
    EXPECT_EQ(Run(Request({Line(1, at)})).status, 7);
    EXPECT_EQ(Calls(), 0);

    // No header file at all.
    fs::remove(board.MsgBaseDir() / kMsgHeaderFile);
    EXPECT_EQ(Run(Request({Line(1, at)})).status, 8);
    EXPECT_NE(Log().find("KP: Cannot read message header"), std::string::npos);

    // A mailer that cannot be executed.
    board.Set("MailerPath", (board.root() / "nowhere").string());
    EXPECT_EQ(Run(Request({Line(1, at)})).status, 6);
    EXPECT_NE(Log().find("KP: Cannot execute mailer (" + (board.root() / "nowhere").string() + ")"),
              std::string::npos);
}

}  // namespace
}  // namespace kv
