// The mailbox splitter and the header parsers, case by case.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>

#include "server/mail_parse.h"

using namespace kv::server;

namespace {

// A mailbox text as an open file.
class MemoryFile {
public:
    explicit MemoryFile(std::string text) : text_(std::move(text)) {
        f_ = fmemopen(text_.data(), text_.size(), "r");
    }
    ~MemoryFile() { std::fclose(f_); }
    FILE* get() { return f_; }

private:
    std::string text_;
    FILE* f_;
};

// Users known by alias, as the gateway finds them in the user file.
const std::map<std::string, std::string> kUsers = {{"alice", "Alice Martin"}, {"bob", "Bob Tremblay"}};

std::string LookUp(std::string_view value) {
    auto it = kUsers.find(RecipientAlias(value, "kivo").value_or(""));
    return it == kUsers.end() ? "" : it->second;
}

struct SplitMail {
    int result;
    MailHeader header;
    std::vector<std::string> body;
};

// Splits a whole mailbox the way the import walks it.
std::vector<SplitMail> Split(const std::string& mailbox, MailboxFormat format) {
    MemoryFile f(mailbox);
    MailboxReader in(f.get());
    std::string first;
    in.ReadLine(first);
    std::vector<SplitMail> mails;
    for (;;) {
        SplitMail m;
        m.result = ParseMailHeader(in, m.header, LookUp, 2);
        if (m.result == kHeaderEndOfFile) break;
        GetBody(in, format, m.body);
        mails.push_back(std::move(m));
    }
    return mails;
}

TEST(MailStart, FromLinesAndMmdf) {
    struct Case {
        const char* line;
        bool fromLines, mmdf;
    } cases[] = {
        {"From alice@example.org Sat Mar 09 10:15:00 1996", true, false},
        // A one-digit day padded with a second blank, as delivery agents write it.
        {"From alice@example.org Sat Mar  9 10:15:00 1996", true, false},
        {"From alice Sat Mar  9 10:15:00 PST 1996", true, false},
        {"From alice Sat Mar 9 10:15", true, false},                       // no year
        {"From alice SAT MAR 9 1:15 1996", true, false},                   // ':' second
        {"From alice Sat Mar 9 10:15:00 PST 1996 extra", false, false},   // nine words
        {"From alice Sat Mar 9 10:15:00 1996x", false, false},            // year not digits
        {"From alice Sat Mar 9 10:15:00 PST", false, false},              // zone without year
        {"From alice Sam Mar 9 10:15:00 1996", false, false},             // weekday
        {"From alice Sat Mrz 9 10:15:00 1996", false, false},             // month
        {"From alice Sat Mar 9 101500 1996", false, false},               // time
        {"From alice Sat Mar 9 1:1 1996", false, false},                  // time too short
        {"From the desk of the sysop", false, false},
        {"From: alice@example.org", false, false},
        {">From alice Sat Mar 9 10:15:00 1996", false, false},
        {"\x01\x01\x01\x01", false, true},
        {"\x01\x01\x01", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsMailStart(c.line, MailboxFormat::kFromLines), c.fromLines) << c.line;
        EXPECT_EQ(IsMailStart(c.line, MailboxFormat::kMmdf), c.mmdf) << c.line;
    }
    EXPECT_TRUE(BeginsMailbox("From anything at all", MailboxFormat::kFromLines));
    EXPECT_FALSE(BeginsMailbox("From anything at all", MailboxFormat::kMmdf));
    EXPECT_TRUE(BeginsMailbox("\x01\x01\x01\x01", MailboxFormat::kMmdf));
    EXPECT_FALSE(BeginsMailbox("Return-Path: <x@y>", MailboxFormat::kFromLines));
    EXPECT_TRUE(IsForwardLine("Forward to bob@elsewhere"));
}

TEST(MailReader, DropsLfAndCrlfAndCutsEndlessLines) {
    std::string endless(MailboxReader::kMaxLine + 10, 'x');
    MemoryFile f("one\r\ntwo\n\r\nbare\r in\n" + endless + "\nlast");
    MailboxReader in(f.get());
    std::string line;
    std::vector<std::string> lines;
    while (in.ReadLine(line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "bare\r in");
    EXPECT_EQ(lines[4].size(), MailboxReader::kMaxLine);
    EXPECT_EQ(lines[5], "xxxxxxxxxx");
    EXPECT_EQ(lines[6], "last");
}

TEST(MailDate, Values) {
    struct Case {
        const char* value;
        int order;
        const char* date;
        const char* time;
    } cases[] = {
        {" Sat, 9 Mar 1996 10:15 +0100", 2, "09/03/96", "10:15:00"},
        {" Sat, 9 Mar 1996 10:15 +0100", 1, "03/09/96", "10:15:00"},
        {" Sat, 09 Mar 1996 10:15:42 +0100 (CET)", 0, "96/03/09", "10:15:42"},
        {" 1 Dec 2024 23:59:59 -0500", 2, "01/12/24", "23:59:59"},
        {"  Tue,  3  JUN 96  7:05:00 GMT", 2, "03/06/96", "00:00:00"},  // 7 characters
        {" 9 Mrz 1996 10:15", 2, "09/00/96", "10:15:00"},               // month unknown
        {" 9 Mar 1996", 2, "09/03/96", "00:00:00"},                     // no time
        {" 9", 2, "09/00/00", "00:00:00"},
        {"", 2, "00/00/00", "00:00:00"},
        {" 99999 Mar 1996 10:15", 2, "00/03/96", "10:15:00"},  // never wider than the field
        {" 9 Mar 1996 10:15", 7, "", "10:15:00"},
    };
    for (const auto& c : cases) {
        MailDate d = ParseMailDate(c.value, c.order);
        EXPECT_EQ(d.date, c.date) << c.value;
        EXPECT_EQ(d.time, c.time) << c.value;
    }
}

TEST(MailSender, FormsOfAddress) {
    const std::string long60(60, 'a');
    const std::string hops = "relay1!relay2!relay3!relay4!relay5!relay6!relay7!" + std::string(39, 'u');
    struct Case {
        std::string value, want;
    } cases[] = {
        {" Alice Martin <alice@example.org> ", "alice@example.org (Alice Martin)"},
        {"<alice@example.org>", "alice@example.org"},
        {"\"Alice M.\" <alice@example.org>", "alice@example.org (\"Alice M.\")"},
        {"Alice Martin/Sales <alice@example.org>", "alice@example.org (Alice Martin)"},
        {"alice@example.org (Alice Martin)", "alice@example.org  (Alice Martin)"},
        {"alice@example.org (Alice/Sales)", "alice@example.org  (Alice)"},
        {"alice@example.org", "alice@example.org"},
        // The name is left out when it would not fit with the address.
        {"A Rather Long Personal Name Here <" + std::string(40, 'b') + "@x.org>", std::string(40, 'b') + "@x.org"},
        {long60, long60},
        {long60 + "b@example.org", "ADDRESS TOO LONG"},
        {hops, "relay5!relay6!relay7!" + std::string(39, 'u')},
        // Still too long after every hop is gone: cut to the field.
        {"a!" + std::string(70, 'z'), std::string(60, 'z')},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string got = FormatSender(c.value);
        EXPECT_EQ(got, c.want) << c.value;
        EXPECT_LE(got.size(), kSenderWidth);
    }
    // Hops go while the rest is longer than 61, so 61 characters may stay.
    std::string sixtyOne = "x!" + std::string(61, 'y');
    EXPECT_EQ(ShortenAddress(sixtyOne), std::string(61, 'y'));
    EXPECT_EQ(ShortenAddress("a!b!" + std::string(59, 'c')), "b!" + std::string(59, 'c'));
}

TEST(MailSender, Envelope) {
    EXPECT_EQ(SenderFromEnvelope("joe Sat Mar  9 10:15:00 1996 remote from kivo2"), "kivo2!joe");
    EXPECT_EQ(SenderFromEnvelope("joe Sat Mar  9 10:15:00 1996"), "joe");
    EXPECT_EQ(SenderFromEnvelope("joe remote from"), "joe");
    EXPECT_EQ(SenderFromEnvelope(""), "");
}

TEST(MailRecipient, Aliases) {
    struct Case {
        const char* value;
        std::optional<std::string> alias;
    } cases[] = {
        {" alice@kivo.example.org", "alice"},
        {" Alice Martin <alice@kivo.example.org>", "alice"},
        {" alice@kivo (Alice Martin)", "alice"},
        {" uunet!kivo!alice", "alice"},
        {" alice%kivo@relay.org", "alice"},
        {" bob@other.org, alice@kivo.org", "alice"},  // the member for this machine
        {" bob@other.org, carol@else.org", std::nullopt},
        {" <@kivo.org>", ""},  // no local part at all
        {" ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RecipientAlias(c.value, "kivo"), c.alias) << c.value;
}

TEST(MailBody, Wrapping) {
    auto wrap = [](std::string_view line) {
        std::vector<std::string> pieces;
        WrapBodyLine(line, pieces);
        return pieces;
    };
    std::vector<std::string> hard = wrap(std::string(200, 'x'));
    ASSERT_EQ(hard.size(), 3u);
    EXPECT_EQ(hard[0].size(), 79u);
    EXPECT_EQ(hard[1].size(), 79u);
    EXPECT_EQ(hard[2].size(), 42u);

    // A blank just after the 79th character: the cut falls on it and the
    // blank begins the next piece.
    std::string atBlank = std::string(79, 'a') + " tail";
    EXPECT_EQ(wrap(atBlank), (std::vector<std::string>{std::string(79, 'a'), " tail"}));

    // Otherwise back to the last blank.
    std::string words = std::string(70, 'a') + " " + std::string(20, 'b');
    EXPECT_EQ(wrap(words), (std::vector<std::string>{std::string(70, 'a'), " " + std::string(20, 'b')}));

    EXPECT_EQ(wrap(""), (std::vector<std::string>{""}));
    EXPECT_EQ(wrap("short\tline"), (std::vector<std::string>{"short\tline"}));
    for (const auto& p : wrap(std::string(300, 'y') + " z " + std::string(100, 'q'))) EXPECT_LE(p.size(), kPieceWidth);
}

TEST(MailHeaderParse, Headers) {
    struct Case {
        const char* name;
        std::string headers;  // after the start line, ended by the empty line
        int result;
        const char *from, *to, *subject, *date, *time;
    } cases[] = {
        {"to by alias", "From: Joe <joe@far.org>\nTo: alice@kivo\nSubject:  Hello there  \n"
                        "Date: Sat, 9 Mar 1996 10:15 +0100\n\n",
         kHeaderComplete, "joe@far.org (Joe)", "Alice Martin", "Hello there", "09/03/96", "10:15:00"},
        {"cc after unknown to", "From: joe@far.org\nTo: nobody@kivo\nCc: bob@kivo\n\n", kHeaderComplete,
         "joe@far.org", "Bob Tremblay", "", "", ""},
        {"last found wins", "To: alice@kivo\nCc: bob@kivo\nCc: nobody@kivo\n\n", kHeaderComplete, "UNKNOWN",
         "Bob Tremblay", "", "", ""},
        {"reply-to after from", "From: Joe Far <joe@far.org>\nReply-To: lists@far.org\nTo: alice\n\n",
         kHeaderComplete, "lists@far.org", "Alice Martin", "", "", ""},
        {"reply-to before from", "Reply-To: lists@far.org\nFrom: Joe Far <joe@far.org>\nTo: alice\n\n",
         kHeaderComplete, "lists@far.org", "Alice Martin", "", "", ""},
        {"continued to", "To: carol@else.org,\n  bob@kivo\n\n", kHeaderComplete, "UNKNOWN", "Bob Tremblay", "",
         "", ""},
        {"continuation of another header", "Received: from x\n  alice@kivo\nTo: nobody\n\n", kHeaderNoRecipient,
         "UNKNOWN", "", "", "", ""},
        {"envelope sender", ">From joe Sat Mar  9 10:15:00 1996 remote from far\nTo: alice\n\n", kHeaderComplete,
         "far!joe", "Alice Martin", "", "", ""},
        {"header names are case-exact", "from: joe@far.org\nTO: alice\nsubject: x\n\n", kHeaderNoRecipient,
         "UNKNOWN", "", "", "", ""},
        {"crlf", "From: joe@far.org\r\nTo: alice@kivo\r\nSubject: Hi\r\nDate: 9 Mar 1996 10:15:00\r\n\r\n",
         kHeaderComplete, "joe@far.org", "Alice Martin", "Hi", "09/03/96", "10:15:00"},
        {"long subject", "To: alice\nSubject: " + std::string(100, 's') + "\n\n", kHeaderComplete, "UNKNOWN",
         "Alice Martin", "sssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssss", "", ""},
        {"a line of one blank ends the header", "To: carol@else.org,\n \nSubject: body text\n\n",
         kHeaderNoRecipient, "UNKNOWN", "", "", "", ""},
        {"file ends in the header", "From: joe@far.org\nTo: alice\n", kHeaderEndOfFile, "joe@far.org",
         "Alice Martin", "", "", ""},
    };
    for (const auto& c : cases) {
        MemoryFile f(c.headers + "body\n");
        MailboxReader in(f.get());
        MailHeader h;
        EXPECT_EQ(ParseMailHeader(in, h, LookUp, 2), c.result) << c.name;
        EXPECT_EQ(h.FromName, c.from) << c.name;
        EXPECT_EQ(h.ToName, c.to) << c.name;
        EXPECT_EQ(h.Subject, c.subject) << c.name;
        EXPECT_EQ(h.DateText, c.date) << c.name;
        EXPECT_EQ(h.TimeText, c.time) << c.name;
    }
}

TEST(MailSplit, FromLineMailboxWithCrlfAndPaddedDays) {
    std::string mbox =
        "From joe@far.org Sat Mar  9 10:15:00 1996\r\n"
        "From: joe@far.org\r\nTo: alice@kivo\r\nSubject: one\r\n\r\n"
        "first line   \r\n"
        "\r\n"
        ">From an escaped line\r\n"
        "From the desk of Joe\r\n"
        "From ann@far.org Sun Mar 10 08:00:00 1996\r\n"
        "From: ann@far.org\r\nTo: bob@kivo\r\n\r\n"
        "second\twith tab\r\n";
    std::vector<SplitMail> mails = Split(mbox, MailboxFormat::kFromLines);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].header.ToName, "Alice Martin");
    EXPECT_EQ(mails[0].body, (std::vector<std::string>{"first line", "", ">From an escaped line",
                                                       "From the desk of Joe"}));
    EXPECT_EQ(mails[1].header.FromName, "ann@far.org");
    EXPECT_EQ(mails[1].header.ToName, "Bob Tremblay");
    EXPECT_EQ(mails[1].body, (std::vector<std::string>{"second\twith tab"}));
}

TEST(MailSplit, MmdfMailbox) {
    std::string mbox =
        "\x01\x01\x01\x01\n"
        "From: joe@far.org\nTo: alice@kivo\nSubject: one\n\n"
        "body one\n"
        "From joe Sat Mar  9 10:15:00 1996\n"  // an ordinary line in this format
        "\x01\x01\x01\x01\n"
        "\x01\x01\x01\x01\n"
        "From: ann@far.org\nTo: nobody@kivo\n\n"
        "body two\n"
        "\x01\x01\x01\x01\n";
    std::vector<SplitMail> mails = Split(mbox, MailboxFormat::kMmdf);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].result, kHeaderComplete);
    EXPECT_EQ(mails[0].body, (std::vector<std::string>{"body one", "From joe Sat Mar  9 10:15:00 1996"}));
    EXPECT_EQ(mails[1].result, kHeaderNoRecipient);
    EXPECT_EQ(mails[1].header.Addressed, "nobody@kivo");
    EXPECT_EQ(mails[1].body, (std::vector<std::string>{"body two"}));
}

}  // namespace
