// Appending messages and rewriting their records, read back file by file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/dates.h"
#include "tests/msgbase/msgbase_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr time_t kNow = 1700000000;

TEST_F(MsgBaseTest, FirstAppendNumbersOneAndCreatesTheCounters) {
    SetClock([] { return kNow; });
    ASSERT_FALSE(fs::exists(dir() / kMsgInfoFile));
    MsgText text = TextFromBuffer("Kivo v1.0", "Hello there   \nSecond line\n\x1A");
    MsgHeader h = CallerHeader("Joe Caller", 3);
    int32_t at = -1;
    ASSERT_TRUE(AppendMessage(text, h, at));
    EXPECT_EQ(h.MsgNumber, 1);
    EXPECT_EQ(h.TextOffset, 0);
    EXPECT_EQ(at, 0);

    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.infoBytes, MsgInfoRecord::kSize);
    EXPECT_EQ(base.info->LowestNumber, 1);
    EXPECT_EQ(base.info->HighestNumber, 1);
    EXPECT_EQ(base.info->TotalMessages, 1);
    for (int a = 0; a < kMsgAreaCount; ++a) EXPECT_EQ(base.info->AreaCounts[a], a == 3 ? 1 : 0) << a;
    ASSERT_EQ(base.messages.size(), 1u);
    const StoredMessage& m = base.messages[0];
    EXPECT_EQ(m.index.MsgNumber, 1);
    EXPECT_EQ(m.index.MsgArea, 3);
    EXPECT_EQ(m.recipient, "Joe Caller");
    EXPECT_EQ(m.header.MsgNumber, 1);
    EXPECT_EQ(m.header.MsgArea, 3);
    EXPECT_EQ(m.header.FromName, "Ann Writer");
    EXPECT_EQ(m.header.ToName, "Joe Caller");
    EXPECT_EQ(m.header.Subject, "A subject");
    EXPECT_EQ(m.header.WrittenAt, kNow);
    EXPECT_EQ(m.header.Status, MSG_LOCAL);
    EXPECT_EQ(ReadBaseFile(dir(), kMsgTextFile), "\x01PID: Kivo v1.0\nHello there\nSecond line\n\x1A");

    // The second follows on: next number, next header, text after the first.
    size_t firstText = base.textBytes;
    MsgHeader h2 = CallerHeader("Sue Other", 3);
    ASSERT_TRUE(AppendMessage(MsgText{"Kivo v1.0", {"Two"}}, h2, at));
    EXPECT_EQ(h2.MsgNumber, 2);
    EXPECT_EQ(at, static_cast<int32_t>(MsgHeader::kSize));
    EXPECT_EQ(h2.TextOffset, static_cast<int32_t>(firstText));
    base = ReadMsgBase(dir());
    EXPECT_EQ(base.info->LowestNumber, 1);
    EXPECT_EQ(base.info->HighestNumber, 2);
    EXPECT_EQ(base.info->AreaCounts[3], 2);
    ASSERT_EQ(base.messages.size(), 2u);
    EXPECT_EQ(base.messages[1].text.Lines, std::vector<std::string>{"Two"});
    EXPECT_TRUE(log.empty()) << log.front();
}

TEST_F(MsgBaseTest, LastLineWithoutLineFeedIsStored) {
    MsgHeader h = CallerHeader("Joe Caller");
    int32_t at = 0;
    ASSERT_TRUE(AppendMessage(TextFromBuffer("Kivo v1.0", "First\nno line feed\x1A"), h, at));
    MsgText back;
    ASSERT_TRUE(ReadMessageText(h.TextOffset, back));
    EXPECT_EQ(back.Lines, (std::vector<std::string>{"First", "no line feed"}));
    EXPECT_EQ(ReadBaseFile(dir(), kMsgTextFile), "\x01PID: Kivo v1.0\nFirst\nno line feed\n\x1A");
}

TEST_F(MsgBaseTest, RecordsAreReadAndRewrittenInPlace) {
    ASSERT_EQ(Post("A Rather Long Recipient Name Of Forty Chars", {"one"}, 4), 1);
    ASSERT_EQ(Post("Joe Caller", {"two", "lines"}, 7), 2);

    EXPECT_EQ(MessageArea(0), 4);
    EXPECT_EQ(MessageArea(1), 7);
    EXPECT_EQ(MessageArea(2), -1);

    // "Received" over a longer name leaves nothing of it behind the NUL.
    ASSERT_TRUE(WriteRecipientEntry(0, kRecipientReceived));
    std::string to = ReadBaseFile(dir(), kMsgToIndexFile);
    EXPECT_EQ(to.substr(0, MsgToIndexRecord::kSize), std::string("Received") + std::string(53, '\0'));
    EXPECT_EQ(ReadMsgBase(dir()).messages[1].recipient, "Joe Caller");

    MsgHeader h;
    ASSERT_TRUE(ReadMessageHeader(h, 1));
    EXPECT_EQ(h.MsgNumber, 2);
    h.TimesRead = 5;
    h.Status |= MSG_RECEIVED;
    ASSERT_TRUE(WriteMessageHeader(h, 1));
    MsgHeader back;
    ASSERT_TRUE(ReadMessageHeader(back, 1));
    EXPECT_EQ(back.TimesRead, 5);
    EXPECT_EQ(back.Status, MSG_LOCAL | MSG_RECEIVED);
    MsgText text;
    ASSERT_TRUE(ReadMessageText(back.TextOffset, text));
    EXPECT_EQ(text.Pid, "Kivo v1.0");
    EXPECT_EQ(text.Lines, (std::vector<std::string>{"two", "lines"}));
    EXPECT_TRUE(log.empty()) << log.front();

    // Past the end: a read fails quietly, a rewrite is refused and grows nothing.
    EXPECT_FALSE(ReadMessageHeader(h, 2));
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(WriteMessageHeader(h, 2));
    EXPECT_FALSE(WriteRecipientEntry(2, kRecipientDeleted));
    EXPECT_TRUE(Logged("has no record 2"));
    MsgBaseContents base = ReadMsgBase(dir());
    EXPECT_TRUE(base.InStep()) << base.Problem();
    EXPECT_EQ(base.messages.size(), 2u);
}

TEST_F(MsgBaseTest, BrokenRecordsAndTextsAreFailuresNamingTheFile) {
    ASSERT_EQ(Post("Joe Caller", {"one"}), 1);
    {
        std::ofstream out(dir() / kMsgHeaderFile, std::ios::binary | std::ios::app);
        out << std::string(100, 'x');  // a second header cut short
    }
    MsgHeader h;
    EXPECT_FALSE(ReadMessageHeader(h, 1));
    EXPECT_TRUE(Logged("record 1 of " + (dir() / kMsgHeaderFile).string() + " is cut short")) << log.size();

    std::string text = ReadBaseFile(dir(), kMsgTextFile);
    std::ofstream(dir() / kMsgTextFile, std::ios::binary | std::ios::trunc) << text.substr(0, text.size() - 1);
    MsgText t;
    EXPECT_FALSE(ReadMessageText(0, t));
    EXPECT_TRUE(Logged("has no end"));
    EXPECT_EQ(t.Lines, std::vector<std::string>{"one"});
}

TEST_F(MsgBaseTest, HeaderBuiltForEachKindOfWriter) {
    SetClock([] { return kNow; });
    const struct {
        const char* name;
        std::string sysopName, presetSender;
        bool asSysop, forward, isPrivate;
        std::string from;
        int32_t replyTo;
        uint8_t status;
    } cases[] = {
        {"caller", "Big Boss", "", false, false, false, "Ann Writer", 7, MSG_LOCAL},
        {"private reply", "Big Boss", "", false, false, true, "Ann Writer", 7, MSG_LOCAL | MSG_PRIVATE},
        {"alias kept", "Big Boss", "Nightowl", false, false, false, "Nightowl", 7, MSG_LOCAL},
        {"forward drops reply", "Big Boss", "", false, true, false, "Ann Writer", 0, MSG_LOCAL},
        {"as sysop", "Big Boss", "Nightowl", true, false, false, "Big Boss", 0, MSG_LOCAL},
        {"as sysop without a name", "", "", true, false, false, "Sysop", 0, MSG_LOCAL},
    };
    for (const auto& c : cases) {
        MutableConfig().SysopName = c.sysopName;
        MsgHeader h;
        h.FromName = c.presetSender;
        h.TimesRead = 9;
        h.MailFlags = MAIL_SENT;
        BuildMessageHeader(h, "Joe Caller", "Re: news", 12, 345, 6, c.isPrivate, 7, c.forward, c.asSysop,
                           "Ann Writer");
        EXPECT_EQ(h.FromName, c.from) << c.name;
        EXPECT_EQ(h.ReplyTo, c.replyTo) << c.name;
        EXPECT_EQ(h.Status, c.status) << c.name;
        EXPECT_EQ(h.MsgNumber, 12) << c.name;
        EXPECT_EQ(h.TextOffset, 345) << c.name;
        EXPECT_EQ(h.MsgArea, 6) << c.name;
        EXPECT_EQ(h.ToName, "Joe Caller") << c.name;
        EXPECT_EQ(h.Subject, "Re: news") << c.name;
        EXPECT_EQ(h.WrittenAt, kNow) << c.name;
        EXPECT_EQ(h.DateText, DateString()) << c.name;
        EXPECT_EQ(h.DateText.size(), 8u) << c.name;
        EXPECT_EQ(h.TimesRead, 0) << c.name;
        EXPECT_EQ(h.MailFlags, 0) << c.name;
        EXPECT_EQ(h.ImportedAt, 0) << c.name;
        EXPECT_EQ(h.LatestReply, 0) << c.name;
    }
    // The sysop's word comes from the program's table when it has one.
    SetTextLookup([](int n) { return n == 193 ? std::string("Le Sysop") : std::string(); });
    MutableConfig().SysopName.clear();
    MsgHeader h;
    BuildMessageHeader(h, "Joe", "s", 1, 0, 0, false, std::nullopt, false, true, "Ann Writer");
    EXPECT_EQ(h.FromName, "Le Sysop");
}

// Appends in a child whose files may not grow past limit bytes, so that
// the step that first writes past it fails.  Returns the child's log.
std::string AppendWithSizeLimit(rlim_t limit, const fs::path& logFile) {
    pid_t pid = fork();
    if (pid == 0) {
        SetLogWriter([&](std::string_view line) { std::ofstream(logFile, std::ios::app) << line << "\n"; });
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        MsgHeader h;
        BuildMessageHeader(h, "Joe Caller", "s", 0, 0, 2, false, std::nullopt, false, false, "Ann Writer");
        int32_t at = 0;
        bool ok = AppendMessage(MsgText{"K", {"x"}}, h, at);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the append should have failed";
    std::ifstream in(logFile);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A failed append leaves every file as it was before the append began.
TEST_F(MsgBaseTest, FailedAppendLeavesNoPartOfTheMessage) {
    // Short texts: the parallel files and the counter record pass any
    // limit that the text file passes, so each limit stops one chosen step.
    const size_t n = 8;
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(Post("Joe Caller", {"x"}), static_cast<int32_t>(i + 1));
    const size_t textEach = EncodeMsgText(MsgText{"K", {"x"}}).size();
    const size_t textBytes = ReadMsgBase(dir()).textBytes;
    const std::string info = (dir() / kMsgInfoFile).string();
    const struct {
        const char* failing;
        rlim_t limit;
        std::string logged;
    } cases[] = {
        {kMsgTextFile, textBytes + textEach - 1, "append to " + (dir() / kMsgTextFile).string()},
        {kMsgToIndexFile, (n + 1) * MsgToIndexRecord::kSize - 1, "append to " + (dir() / kMsgToIndexFile).string()},
        {kMsgHeaderFile, (n + 1) * MsgHeader::kSize - 1, "append to " + (dir() / kMsgHeaderFile).string()},
        // Last, as it starts from a base without texts and counters: only a
        // new counter file is small enough to hit a limit of its own.
        {kMsgInfoFile, MsgInfoRecord::kSize - 1, "write " + info},
    };
    const char* files[] = {kMsgTextFile, kMsgInfoFile, kMsgToIndexFile, kMsgIndexFile, kMsgHeaderFile};
    for (const auto& c : cases) {
        bool newInfo = std::string(c.failing) == kMsgInfoFile;
        if (newInfo) {
            fs::remove(dir() / kMsgTextFile);
            fs::remove(dir() / kMsgInfoFile);
        }
        std::map<std::string, std::string> bytes;
        for (const char* f : files) bytes[f] = ReadBaseFile(dir(), f);
        std::string childLog = AppendWithSizeLimit(c.limit, board.root() / (std::string(c.failing) + ".log"));
        EXPECT_NE(childLog.find(c.logged), std::string::npos) << c.failing << ": " << childLog;
        for (const char* f : files) EXPECT_EQ(ReadBaseFile(dir(), f), bytes[f]) << f << " changed when " << c.failing << " failed";
        EXPECT_EQ(fs::exists(dir() / kMsgInfoFile), !newInfo) << c.failing;
        EXPECT_TRUE(ReadMsgBase(dir()).InStep()) << c.failing;
    }
}

// A writer killed between its records leaves one record too many in some
// parallel files; the next append cuts it off first.
TEST_F(MsgBaseTest, UnfinishedAppendIsCutOffBeforeTheNext) {
    ASSERT_EQ(Post("Joe Caller", {"one"}), 1);
    ASSERT_EQ(Post("Sue Other", {"two"}), 2);
    int32_t dead = 0;
    ASSERT_TRUE(NextMessageNumber(dead, 0));
    ASSERT_TRUE(AppendRecipientEntry("Nobody Ever"));
    ASSERT_TRUE(AppendMessageIndex(dead, 0));
    ASSERT_EQ(Post("Bob Third", {"three"}), 4);  // 3 went to the dead writer
    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 3u);
    EXPECT_EQ(base.messages[2].recipient, "Bob Third");
    EXPECT_EQ(base.messages[2].index.MsgNumber, 4);
    EXPECT_EQ(base.messages[2].header.MsgNumber, 4);
    EXPECT_TRUE(Logged("cut an unfinished message off"));

    // Further out of step than one message: refused, nothing touched.
    ASSERT_TRUE(AppendRecipientEntry("Extra One"));
    ASSERT_TRUE(AppendRecipientEntry("Extra Two"));
    std::string to = ReadBaseFile(dir(), kMsgToIndexFile);
    EXPECT_EQ(Post("Refused", {"no"}), 0);
    EXPECT_TRUE(Logged("out of step"));
    EXPECT_EQ(ReadBaseFile(dir(), kMsgToIndexFile), to);
    EXPECT_EQ(ReadMsgBase(dir()).messages.size(), 3u);
}

// A packed header file beside the old index and recipient files (a torn
// maintenance run) has the counts of a dead append, but the last message
// of both files is not the same one: refused, not cut.
TEST_F(MsgBaseTest, OldIndexBesideAShorterHeaderFileIsRefused) {
    ASSERT_EQ(Post("Joe Caller", {"one"}), 1);
    ASSERT_EQ(Post("Sue Other", {"two"}), 2);
    ASSERT_EQ(Post("Bob Third", {"three"}), 3);
    MsgIndexRecord first;
    ASSERT_TRUE(ReadMessageIndex(first, 0));
    first.MsgNumber = -first.MsgNumber;
    ASSERT_TRUE(WriteMessageIndex(first, 0));
    const std::string headers = ReadBaseFile(dir(), kMsgHeaderFile);
    board.WriteFile(dir() / kMsgHeaderFile, headers.substr(MsgHeader::kSize));  // messages 2 and 3

    const std::string index = ReadBaseFile(dir(), kMsgIndexFile), to = ReadBaseFile(dir(), kMsgToIndexFile);
    EXPECT_EQ(Post("Refused", {"no"}), 0);
    EXPECT_TRUE(Logged("out of step"));
    EXPECT_EQ(ReadBaseFile(dir(), kMsgIndexFile), index);
    EXPECT_EQ(ReadBaseFile(dir(), kMsgToIndexFile), to);
}

// A base that cannot take a message (a short counter record, a counter at
// its end) is left exactly as it was: no empty file is made beside it.
TEST_F(MsgBaseTest, ARefusedBaseGetsNoFileItDidNotHave) {
    namespace fs = std::filesystem;
    std::string full(MsgInfoRecord::kSize, '\0');
    full.replace(4, 4, "\xff\xff\xff\x7f");  // HighestNumber INT32_MAX
    for (const std::string& info : {std::string(10, '\0'), full}) {
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile})
            fs::remove(dir() / f);
        board.WriteFile(dir() / kMsgInfoFile, info);
        EXPECT_EQ(Post("Refused", {"no"}), 0);
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile})
            EXPECT_FALSE(fs::exists(dir() / f)) << f << " beside " << info.size() << " bytes of counters";
        EXPECT_EQ(ReadBaseFile(dir(), kMsgInfoFile), info);
    }
}

TEST_F(MsgBaseTest, BadAreaOrNoDirectoryFails) {
    EXPECT_EQ(Post("Joe Caller", {"x"}, 100), 0);
    EXPECT_TRUE(Logged("no message area 100"));
    EXPECT_EQ(ReadMsgBase(dir()).textBytes, 0u);

    MutableConfig().MsgBaseDir.clear();
    EXPECT_EQ(Post("Joe Caller", {"x"}), 0);
    EXPECT_TRUE(Logged("no MsgBaseDir configured"));
}

}  // namespace
}  // namespace kv::test
