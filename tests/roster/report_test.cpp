// The report generator: the choice of fields and their columns, the pages
// of a file report, and kvroster writing one on a pty.
#include <unistd.h>

#include "common/runtime.h"
#include "common/users.h"
#include "roster/reports.h"
#include "tests/roster/roster_fixture.h"

namespace kv::test {
namespace {

TEST(RosterReports, FieldsTakeTheirPlacesAndThePageHoldsWhatFits) {
    roster::ReportSettings r = roster::NewReport(10, 13);
    EXPECT_EQ(r.fields[3].Width, 13) << "phones as wide as the template";
    for (int f : {0, 15, 16}) roster::ChooseField(r, f);
    EXPECT_EQ(r.usedWidth, 13 + 6 + 7);
    roster::UnchooseField(r, 15);  // the second of three
    EXPECT_EQ(roster::ChosenFields(r), (std::vector<int>{0, 16}));
    EXPECT_EQ(r.fields[16].Order, 1);
    EXPECT_EQ(r.usedWidth, 13 + 7);

    // Widths plus separators up to 80: a field of 6 more no longer fits.
    roster::ReportSettings full = roster::NewReport(1, 13);
    for (int f = 5; f <= 12; ++f) roster::ChooseField(full, f);  // 6 x 9 + 2 x 7
    EXPECT_EQ(full.usedWidth, 68);
    EXPECT_TRUE(roster::FieldFits(full, 13, 6));
    roster::ChooseField(full, 13);
    EXPECT_FALSE(roster::FieldFits(full, 14, 6)) << "75 + 6 passes 80";

    UserRecord u = Person(3);
    u.Name = "Anne Averylongname";
    u.Flags = {0x81, 0, 0, 0};
    u.SecurityLevel = 64000;
    roster::ReportSettings line = roster::NewReport(1, 13);
    for (int f : {0, 7, 15, 22}) roster::ChooseField(line, f);
    EXPECT_EQ(roster::FormatReportHeader(line, 40), "Name         A        Lvl   Sc" + std::string(10, ' '));
    EXPECT_EQ(roster::FormatReportLine(line, u), "Anne Averylo X------X 64000 24 ");
}

TEST(RosterReports, AFileReportOf55RecordsHasTwoPagesAnd54HaveOne) {
    roster::ReportSettings r = roster::NewReport(55, 13);
    roster::ChooseField(r, 0);
    std::vector<UserRecord> users(55, Person(1));
    const std::string page1Head = "\n\n24/01/02" + std::string(71, ' ') + "1\n";
    const std::string title = "Listing of Kivo Users";
    const std::string footer = "\n\n" + std::string(52 - 24, ' ') + "Produced with 'kvroster'\n\f";

    std::string two = roster::PaginatedReport(r, users, "24/01/02", "10:00:00", "Kivo");
    ASSERT_EQ(two.rfind(page1Head, 0), 0u);
    EXPECT_NE(two.find("10:00:00" + std::string(size_t(title.size() / 2 + 32 - title.size()), ' ') + title + "\n\n"),
              std::string::npos);
    size_t second = two.find("\n\n24/01/02" + std::string(71, ' ') + "2\n");
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(two.substr(second - footer.size(), footer.size()), footer);
    std::string lastPage = two.substr(second);
    EXPECT_EQ(std::count(lastPage.begin(), lastPage.end(), '\n'), 6 + 1 + 3) << "one record on the second page";
    EXPECT_TRUE(lastPage.size() >= footer.size() && lastPage.substr(lastPage.size() - footer.size()) == footer);

    users.resize(54);
    std::string one = roster::PaginatedReport(r, users, "24/01/02", "10:00:00", "Kivo");
    EXPECT_EQ(std::count(one.begin(), one.end(), '\f'), 1);
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 60 + 3);
}

class RosterReportTest : public RosterUsersTest {
protected:
    void SetUp() override { SetConfig(board.config()); }
    void TearDown() override { SetConfig(ConfigRecord{}); }

    // Main menu to the generator, without marks (no marked/all question).
    std::unique_ptr<PtySession> OpenReports() {
        auto s = Start();
        EXPECT_TRUE(s->WaitForText(" Browse "));
        s->Send("++\t\t\t\t\t\r");
        EXPECT_TRUE(s->WaitForText("Kvroster Report Generator"));
        return s;
    }
    // Chooses Name (width as offered) and Security, then the file name.
    static void ChooseAndName(PtySession& s, const std::string& name) {
        s.Send("\r");  // Select
        ASSERT_TRUE(s.WaitForText("<Space> to toggle"));
        s.Send(" ");
        ASSERT_TRUE(s.WaitForText("Press '+' and '-' to change field length"));
        s.Send("++\r");  // Name 14 wide
        s.Send("\x1bOC\t ");  // Location, then Security (15)
        ASSERT_TRUE(s.WaitForText("Name,Lvl"));
        s.Send("\x1b\t\t\r");  // Location
        ASSERT_TRUE(s.WaitForText("<Space> to toggle location"));
        s.Send("  ");  // printer, file
        ASSERT_TRUE(s.WaitForText("Enter report file name"));
        s.Send(std::string(17, '\x7f') + name + "\r");
        ASSERT_TRUE(s.WaitForText("File name:"));
        s.Send("\x1b\t\t\r");  // Execute
    }
    static void Leave(PtySession& s) {
        s.Send("\t\r");  // Quit
        ASSERT_TRUE(s.WaitForText("Do you want to quit this report?"));
        s.Send("y");
        Quit(s);
    }
};

TEST_F(RosterReportTest, AReportToAFileIsReadBack) {
    WriteUsers(3);
    auto s = OpenReports();
    ChooseAndName(*s, "report.lst");
    const fs::path report = board.DataDir() / "report.lst";
    ASSERT_TRUE(s->WaitForText("One moment please"));
    Leave(*s);
    const std::string text = ReadAll(report);
    EXPECT_NE(text.find("Name           Lvl  " + std::string(60, ' ') + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Sam Sysop      64000 \nUser 1            11 \nUser 2            12 \n"), std::string::npos)
        << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\n\f");
}

TEST_F(RosterReportTest, AReportNeverGoesThroughASymbolicLink) {
    WriteUsers(2);
    const fs::path target = board.DataDir() / "precious";
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, board.DataDir() / "link.lst");
    auto s = OpenReports();
    ChooseAndName(*s, "link.lst");
    ASSERT_TRUE(s->WaitForText("Cannot write the report file"));
    s->Send(" ");
    Leave(*s);
    EXPECT_EQ(ReadAll(target), "keep me");
}

TEST_F(RosterReportTest, TheScreenReportPagesAndTheScreenKeepsItsWidth) {
    WriteUsers(20);
    auto s = OpenReports();
    s->Send("\t\r");  // Width on the screen is refused
    ASSERT_TRUE(s->WaitForText("Cannot change width for on-screen reports"));
    s->Send(" ");
    s->Send("\x1bOD\r");  // Select
    ASSERT_TRUE(s->WaitForText("<Space> to toggle"));
    s->Send(" \r");  // Name at 12
    ASSERT_TRUE(s->WaitForText("Name"));
    s->Send("\x1b\t\t\t\t\r");  // Execute
    ASSERT_TRUE(s->WaitForText("More [Y/n/=]:"));
    EXPECT_NE(s->Screen().find("User 14"), std::string::npos);
    EXPECT_EQ(s->Screen().find("User 15"), std::string::npos);
    s->Send(" ");
    ASSERT_TRUE(s->WaitForText("User 19"));
    ASSERT_TRUE(s->WaitForText("Hit any key to continue:"));
    s->Send(" ");
    Leave(*s);
}

// More than a pipe holds goes to a printer program that is not there (or
// that ends early): the editor lives on with its screen whole.
TEST_F(RosterReportTest, APrinterThatTakesNothingDoesNotEndTheEditor) {
    if (access("/usr/bin/lp", X_OK) == 0) GTEST_SKIP() << "a real printer program is installed";
    WriteUsers(6000);
    auto s = OpenReports();
    s->Send("\r \r\x1b\t\t\r");  // Name; Location
    ASSERT_TRUE(s->WaitForText("<Space> to toggle location"));
    s->Send(" ");
    ASSERT_TRUE(s->WaitForText("Printer"));
    s->Send("\x1b\t\t\r");  // Execute
    ASSERT_TRUE(s->WaitForText("One moment please"));
    Leave(*s);
}

}  // namespace
}  // namespace kv::test
