// The sample board builds, and its message texts follow the file format the
// server loads: numbered from 0 without gaps, every text in quotes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include <unistd.h>

#include "common/runtime.h"
#include "sample/tools/builders.h"
#include "tests/support/board.h"
#include "tests/support/msgbase_reader.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

std::vector<std::string> TextFiles() {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(test::SourcePath("sample/texts")))
        if (e.path().extension() == ".tsv") files.push_back(e.path().string());
    return files;
}

// The printf conversions of a text, in order ("%s %d").
std::string Conversions(const std::string& text) {
    static const std::regex conv("%[-+ #0]*[0-9*]*(\\.[0-9*]+)?(hh|h|ll|l|L)?([diouxXcsfeEgGp%])");
    std::string out;
    for (std::sregex_iterator it(text.begin(), text.end(), conv), end; it != end; ++it) {
        std::string c = (*it)[3];
        if (c == "%") continue;
        if (!out.empty()) out += ' ';
        out += '%' + std::string((*it)[2]) + c;
    }
    return out.empty() ? "-" : out;
}

TEST(SampleBoard, BuildsAWholeSystem) {
    test::TempBoard b;
    EXPECT_TRUE(fs::is_regular_file(b.root() / "kvconfig.bbs"));
    EXPECT_EQ(fs::file_size(b.root() / "kvconfig.bbs"), kConfigFileSize);
    EXPECT_EQ(b.config().BbsName, "Kivo Sample Board");
    EXPECT_EQ(b.config().QuoteTemplate, "@> ");  // quoted: the blank stays
    EXPECT_EQ(b.config().DataDir, (b.root() / "system").string());
    for (const auto& d : {b.config().DataDir, b.config().MenuDir, b.config().TextDir, b.config().MsgBaseDir,
                          b.config().MailDir, b.config().WorkDir})
        EXPECT_TRUE(fs::is_directory(d)) << d;
    EXPECT_TRUE(fs::is_regular_file(b.DataDir() / "limits.ctl"));
    EXPECT_TRUE(fs::is_regular_file(b.DataDir() / "bin" / "message.usa"));
    EXPECT_TRUE(fs::is_regular_file(b.DataDir() / "bin" / "message.que"));
    b.Set("BbsName", "Changed");
    sample::BoardContext ctx;
    ConfigRecord back;
    ASSERT_TRUE(sample::ReadConfigRecord((b.root() / "kvconfig.bbs").string(), back));
    EXPECT_EQ(back.BbsName, "Changed");
}

// The board a sysop runs starts with the sample messages, posted in order
// through the base's writer: numbers from 1, dates in the board's order,
// the reply linked both ways, the private one marked.
TEST(SampleBoard, TheSysopsBoardStartsWithTheSampleMessages) {
    char tmpl[] = "/tmp/kvsample.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl;
    const ConfigRecord before = Config();
    ASSERT_TRUE(sample::BuildBoard(test::SourcePath("sample"), root.string(), "tty1", "", true));
    SetConfig(before);
    test::MsgBaseContents base = test::ReadMsgBase(root / "msgbase");
    fs::remove_all(root);
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 4u);
    ASSERT_TRUE(base.info.has_value());
    EXPECT_EQ(base.info->TotalMessages, 4);
    EXPECT_EQ(base.info->HighestNumber, 4);
    EXPECT_EQ(base.info->AreaCounts[0], 2);
    for (size_t i = 0; i < base.messages.size(); ++i) {
        const test::StoredMessage& m = base.messages[i];
        EXPECT_EQ(m.header.MsgNumber, int32_t(i) + 1);
        EXPECT_TRUE(m.textEnded) << i;
        EXPECT_TRUE(m.header.Status & MSG_LOCAL) << i;
        EXPECT_EQ(m.recipient, m.header.ToName) << i;
    }
    const MsgHeader& question = base.messages[1].header;
    const MsgHeader& answer = base.messages[2].header;
    EXPECT_EQ(question.DateText, "01/02/24");
    EXPECT_EQ(question.TimeText, "18:35:00");
    EXPECT_EQ(question.LatestReply, answer.MsgNumber);
    EXPECT_EQ(answer.ReplyTo, question.MsgNumber);
    EXPECT_EQ(base.messages[3].header.Status & MSG_PRIVATE, MSG_PRIVATE);
    EXPECT_EQ(base.messages[0].text.Lines.at(1), "");
}

TEST(SampleBoard, MessageFilesNumberTextsWithoutGaps) {
    test::TempBoard b;
    for (const char* ext : {"usa", "que"}) {
        std::ifstream in(b.DataDir() / "bin" / (std::string("message.") + ext));
        std::string line;
        int next = 0;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            ASSERT_EQ(std::atoi(line.c_str()), next) << line;
            ASSERT_NE(line.find('"'), std::string::npos) << line;
            EXPECT_EQ(line.back(), '"') << line;
            EXPECT_LE(line.size(), 254u) << line;
            ++next;
        }
        EXPECT_GT(next, 0);
    }
}

// Each text carries the conversions its table row declares, so a caller
// formatting it with those values gets no surprise.
TEST(SampleBoard, TextsCarryTheValuesTheTableDeclares) {
    std::vector<sample::TextEntry> table;
    ASSERT_TRUE(sample::ReadTextTable(TextFiles(), table));
    for (const auto& e : table) {
        EXPECT_EQ(Conversions(e.usa), e.values) << e.where << ": " << e.usa;
        if (!e.que.empty()) {
            EXPECT_EQ(Conversions(e.que), e.values) << e.where << ": " << e.que;
        }
    }
}

// Every text number the programs use has a row in the table.  Code names a
// text by a literal number as the first argument of a call whose name ends
// in "Text" (GetText(12), FormatText(18, name), LogText(5)...).
TEST(SampleBoard, EveryTextNumberUsedHasAText) {
    std::vector<sample::TextEntry> table;
    ASSERT_TRUE(sample::ReadTextTable(TextFiles(), table));
    std::set<int> known;
    for (const auto& e : table) known.insert(e.number);
    static const std::regex use("\\b[A-Z][A-Za-z]*Text\\(\\s*([0-9]+)\\s*[,)]");
    for (const char* dir : {"common", "server", "caller", "tools", "roster"}) {
        fs::path root = test::SourcePath(dir);
        if (!fs::exists(root)) continue;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            if (e.path().extension() != ".cpp" && e.path().extension() != ".h") continue;
            std::ifstream in(e.path());
            std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            for (std::sregex_iterator it(body.begin(), body.end(), use), end; it != end; ++it) {
                int n = std::stoi((*it)[1]);
                EXPECT_TRUE(known.count(n)) << e.path().string() << " uses text " << n << " that the table lacks";
            }
        }
    }
}

}  // namespace
