// The pure pieces of kvprune: its command line, the age of a message, the
// copy of a text in a pack and the last-read rule of a renumbering.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/kvprune/base_files.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/message_age.h"
#include "tools/kvprune/options.h"

namespace kv::prune {
namespace {

struct OptionCase {
    std::vector<std::string> args;
    OptionOutcome::Kind kind;
    int status;
    std::string reason;
};

TEST(PruneOptionsTest, OutcomesOfCommandLines) {
    const OptionCase cases[] = {
        {{}, OptionOutcome::kUsage, 1, ""},
        {{"help"}, OptionOutcome::kUsage, 1, ""},
        {{"H"}, OptionOutcome::kUsage, 1, ""},
        {{"-v"}, OptionOutcome::kVersion, 0, ""},
        {{"-d0"}, OptionOutcome::kUsage, 1, "Value of argument \"-d\" cannot be ZERO"},
        {{"-d"}, OptionOutcome::kUsage, 1, "Value of argument \"-d\" cannot be ZERO"},
        {{"-d-5"}, OptionOutcome::kUsage, 1, "Value of argument \"-d\" cannot be ZERO"},
        {{"-r0"}, OptionOutcome::kUsage, 1, "Value of argument \"-r\" cannot be ZERO"},
        {{"-b0"}, OptionOutcome::kUsage, 1, "Value of argument \"-b\" cannot be ZERO"},
        {{"-b5-5"}, OptionOutcome::kUsage, 1, "Value of argument \"-b\" cannot be ZERO"},
        {{"-b101"}, OptionOutcome::kUsage, 1, "Value of argument \"-b\" cannot be ZERO"},
        {{"-b99-101"}, OptionOutcome::kUsage, 1, "Value of argument \"-b\" cannot be ZERO"},
        {{"-b1,0,3"}, OptionOutcome::kUsage, 1, "Value of argument \"-b\" cannot be ZERO"},
        {{"-bx"}, OptionOutcome::kUsage, 1, "Value of argument \"-b\" cannot be ZERO"},
        {{"-mten"}, OptionOutcome::kUsage, 2, "Bad argument -> m"},
        {{"-f"}, OptionOutcome::kUsage, 2, "Bad argument -> f"},
        {{"-t", "-x"}, OptionOutcome::kUsage, 2, "Bad argument -> x"},
        {{"-t", "stop", "-x"}, OptionOutcome::kRun, 0, ""},
        {{"-D", "-d30", "-m0"}, OptionOutcome::kRun, 0, ""},
    };
    for (const OptionCase& c : cases) {
        PruneOptions o;
        OptionOutcome got = ParseOptions(c.args, o);
        std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(got.kind, c.kind) << what;
        EXPECT_EQ(got.status, c.status) << what;
        EXPECT_EQ(got.reason, c.reason) << what;
    }
}

TEST(PruneOptionsTest, SettingsAndDefaults) {
    PruneOptions o;
    ASSERT_EQ(ParseOptions({"-t"}, o).kind, OptionOutcome::kRun);
    EXPECT_EQ(o.keepDays, 40);
    EXPECT_EQ(o.keepReceivedDays, 40);
    EXPECT_EQ(o.maxMessages, 200);
    EXPECT_TRUE(o.areas.none());
    EXPECT_TRUE(o.keepBackups);
    EXPECT_TRUE(o.pidLine);
    EXPECT_FALSE(o.pack || o.renumber || o.useAreaLimits);

    PruneOptions p;
    ASSERT_EQ(ParseOptions({"-d30", "-r7", "-m0", "-b2-4", "-b7", "-b10,12 14", "-fmaint.log", "-p", "-k", "-n",
                            "-z", "-o"},
                           p)
                  .kind,
              OptionOutcome::kRun);
    EXPECT_EQ(p.keepDays, 30);
    EXPECT_EQ(p.keepReceivedDays, 7);
    EXPECT_EQ(p.maxMessages, 0);
    std::bitset<kMsgAreaCount> want;
    for (int a : {1, 2, 3, 6, 9, 11, 13}) want.set(size_t(a));
    EXPECT_EQ(p.areas, want);
    EXPECT_EQ(p.logName, "maint.log");
    EXPECT_TRUE(p.pack && p.renumber && p.useAreaLimits);
    EXPECT_FALSE(p.keepBackups || p.pidLine);
}

TEST(MessageAgeTest, DaysBetweenDateTexts) {
    struct Case {
        const char* date;
        int order;
        long age;
    } const cases[] = {
        {"23/10/06", 0, 40}, {"23/10/05", 0, 41}, {"10/05/23", 1, 41}, {"05/10/23", 2, 41},
        {"05/10/23", 3, 41}, {"23/11/15", 0, 0},  {"23/02/28", 0, 260}, {"22/11/15", 0, 365},
    };
    for (const Case& c : cases) {
        std::string today = c.order == 0 ? "23/11/15" : c.order == 1 ? "11/15/23" : "15/11/23";
        EXPECT_EQ(MessageAgeDays(c.date, 0, today, 0, c.order), c.age) << c.date << " order " << c.order;
    }
}

TEST(MessageAgeTest, UnreadableDatesFallBackToTheClock) {
    const time_t now = 1700049600;  // 2023-11-15 12:00 UTC
    const int32_t fiftyDaysAgo = int32_t(now - 50 * 24 * 3600);
    for (const char* bad : {"", "garbage", "23/13/01", "23/11", "2023/11/01", "ab/cd/ef"})
        EXPECT_EQ(MessageAgeDays(bad, fiftyDaysAgo, "23/11/15", now, 0), 50) << bad;
    // A DateOrder that gives no date texts: both ends come from the clock.
    EXPECT_EQ(MessageAgeDays("23/10/06", fiftyDaysAgo, "", now, 7), 50);
}

struct CopyCase {
    const char* name;
    std::string old;  // from the text's offset on
    bool pid;
    std::string want;
};

TEST(PackTextTest, CopiesOfOneText) {
    const std::string p = "\x01PID: Kvprune v0.1\n";
    const std::string l131(131, 'a'), l132(132, 'b'), l300(300, 'c');
    const CopyCase cases[] = {
        {"plain", "\x01PID: Kivo v1.0\nHello\n\x1A\x01PID: next\n", true, p + "\x01PID: Kivo v1.0\nHello\n\x1A"},
        {"no pid line", "\x01PID: Kivo v1.0\nHello\n\x1A", false, "\x01PID: Kivo v1.0\nHello\n\x1A"},
        {"earlier pack's line goes", p + "\x01PID: Kivo v1.0\nHi\n\x1A", true, p + "\x01PID: Kivo v1.0\nHi\n\x1A"},
        {"earlier pack's line stays with -z", p + "Hi\n\x1A", false, p + "Hi\n\x1A"},
        {"trailing blanks", "Hi \t \r\nx\xA0\n\x1A", false, "Hi\nx\xA0\n\x1A"},
        {"line of exactly a piece", l131 + "\nend\n\x1A", false, l131 + "\nend\n\x1A"},
        {"one more than a piece", l132 + "\n\x1A", false, l132.substr(0, 131) + "\nb\n\x1A"},
        {"several pieces", l300 + "\n\x1A", false, l300.substr(0, 131) + "\n" + l300.substr(0, 131) + "\n" +
                                                       l300.substr(0, 38) + "\n\x1A"},
        {"empty lines kept", "a\n\n\nb\n\x1A", false, "a\n\n\nb\n\x1A"},
        {"end of file without end byte", "a\nb", false, "a\nb\n\x1A"},
        {"offset at the end of the file", "", true, p + "\x1A"},
    };
    for (const CopyCase& c : cases) {
        std::string out;
        CopyMessageText(c.old, c.pid, out);
        EXPECT_EQ(out, c.want) << c.name;
        // A pack's own text is taken as it lies the next time, and a text
        // taken as it lies is what the copy would have written.
        EXPECT_EQ(PackedTextLength(out, c.pid), out.size()) << c.name;
        size_t same = PackedTextLength(c.old, c.pid);
        if (same != 0 && same != std::string_view::npos) {
            EXPECT_EQ(c.old.substr(0, same), c.want) << c.name;
        }
    }
}

// Texts made of the pieces that matter to a pack: whenever one is taken as
// it lies, the copy would have written the same bytes.
TEST(PackTextTest, TextsTakenAsTheyLieAreTheCopy) {
    const std::string pieces[] = {"a", " ", "\t", "\r", "\n", "\x1A", "\x01PID: Kvprune v0.1\n", "xPID: Kvprune v0.1\n",
                                  std::string(131, 'l'), std::string(132, 'm'), "\xFF"};
    std::srand(7);
    int taken = 0;
    for (int t = 0; t < 20000; ++t) {
        std::string text = t % 2 ? "\x01PID: Kvprune v0.1\n" : "";
        for (int n = std::rand() % 8; n > 0; --n) text += pieces[size_t(std::rand()) % std::size(pieces)];
        for (bool pid : {false, true}) {
            size_t same = PackedTextLength(text, pid);
            if (same == 0 || same == std::string_view::npos) continue;
            ++taken;
            std::string out;
            CopyMessageText(text, pid, out);
            ASSERT_EQ(text.substr(0, same), out) << pid << " " << testing::PrintToString(text);
        }
    }
    EXPECT_GT(taken, 1000);
}

// A new file written from plain bytes and from runs of an old file's, long
// runs crossing into copies inside the kernel and pieces of them: the file
// holds every byte in the order given.
TEST(NewBaseFileTest, RunsOfOldBytesComeOutInOrder) {
    char tmpl[] = "/tmp/kvprunetest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    std::string old(20 << 20, '\0');
    for (size_t i = 0; i < old.size(); ++i) old[i] = char((i * 2654435761u) >> 13);
    { std::ofstream(dir + "/old", std::ios::binary) << old; }
    int fd = open((dir + "/old").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);

    std::string want;
    NewBaseFile out(dir, "new.bbs");
    ASSERT_TRUE(out.Create());
    auto copy = [&](size_t at, size_t n) {
        want.append(old, at, n);
        return out.CopyFrom(fd, at, old.data() + at, n);
    };
    auto write = [&](const std::string& b) {
        want += b;
        return out.Write(b.data(), b.size());
    };
    size_t at = 0;
    // Short runs broken by a skipped record, then bytes of our own.
    for (int i = 0; i < 100; ++i, at += 412 + 61) ASSERT_TRUE(copy(at, 412));
    ASSERT_TRUE(write("own bytes"));
    // One run of 10 MB in records, with one long piece inside it.
    for (size_t end = at + (10 << 20); at < end; at += 412) ASSERT_TRUE(copy(at, 412));
    ASSERT_TRUE(copy(at, 3 << 20));
    at += 3 << 20;
    ASSERT_TRUE(write(std::string(5000, 'w')));
    // A run that goes on after bytes of our own starts anew.
    ASSERT_TRUE(copy(at, 100000));
    ASSERT_TRUE(copy(at + 100000, 7));
    ASSERT_TRUE(copy(0, 70000));
    EXPECT_EQ(out.Offset(), long(want.size()));
    ASSERT_TRUE(out.Finish());
    close(fd);

    std::ifstream in(out.Step().fresh, std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(got == want) << got.size() << " bytes of " << want.size();
    std::filesystem::remove_all(dir);
}

TEST(RemapLastReadTest, NothingUnreadBecomesRead) {
    // Old numbers 2, 5, 9 of the area became 1, 3, 6.
    const AreaNumbers area = {{2, 1}, {5, 3}, {9, 6}};
    struct Case {
        uint32_t old, want;
    } const cases[] = {
        {2, 1},   // kept: its new number
        {5, 3},
        {4, 2},   // purged: one before the new number of 5, which stays unread
        {1, 0},   // before the area's first message
        {7, 5},
        {9, 6},
        {12, 6},  // beyond the last: the last
    };
    for (const Case& c : cases) EXPECT_EQ(RemapLastReadValue(area, c.old), c.want) << c.old;
    EXPECT_EQ(RemapLastReadValue({}, 17), 0u);
}

}  // namespace
}  // namespace kv::prune
