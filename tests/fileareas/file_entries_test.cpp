// The file list: its entry parser and layout, and the changes of the
// list entries, read back from the files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_entries.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"
#include "tests/fileareas/scratch_dir.h"

using namespace kv;
using namespace kv::caller;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class FileListTest : public test::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        fs::create_directories(dir / "a");
        fs::create_directories(dir / "b");
    }
    std::string A() const { return (dir / "a").string(); }
    std::string B() const { return (dir / "b").string(); }
    void WriteList(const std::string& d, const std::string& body) { std::ofstream(d + "/files.bbs") << body; }
    std::string List(const std::string& d) { return Slurp(d + "/files.bbs"); }
};

TEST(ParseFileListLine, Kinds) {
    struct Case {
        const char* line;
        FileLineKind kind;
        const char* name;
        const char* description;
    } cases[] = {
        {"# a comment", FileLineKind::kComment, "", ""},
        {"", FileLineKind::kEmpty, "", ""},
        {"  \r\n", FileLineKind::kEmpty, "", ""},
        {" more words", FileLineKind::kContinuation, "", ""},
        {"X.ZIP          Tools  \r\n", FileLineKind::kEntry, "X.ZIP", "Tools"},
        {"two words\tthe description", FileLineKind::kEntry, "two words", "the description"},
        {"a.zip\t \tsome tools", FileLineKind::kEntry, "a.zip", "some tools"},
        {"BARE.ZIP", FileLineKind::kEntry, "BARE.ZIP", ""},
    };
    for (const Case& t : cases) {
        FileListLine l = ParseFileListLine(t.line);
        EXPECT_EQ(l.Kind, t.kind) << t.line;
        EXPECT_EQ(l.Name, t.name) << t.line;
        EXPECT_EQ(l.Description, t.description) << t.line;
    }
}

TEST(FormatFileEntry, Layout) {
    ConfigRecord c;
    c.DateOrder = 1;
    SetConfig(c);
    Call().User.LastCallDate = "03/01/24";
    AreaFiles files;
    files.Names = {"NEW.ZIP", "OLD.ZIP", "exactly15chars!"};
    files.Infos = {{1234, "03/05/24"}, {99, "02/01/24"}, {7, "03/01/24"}};
    const std::string longText(300, 'w');
    std::string words;
    for (int i = 0; i < 60; ++i) words += "word" + std::to_string(i) + " ";

    struct Case {
        const char* what;
        std::string line;
        int style;
        std::vector<std::string> want;
    } cases[] = {
        {"a new file with date", "NEW.ZIP  Tools", 1, {"NEW.ZIP           1234 *03/05/24 Tools"}},
        {"an old file: no mark", "OLD.ZIP  Tools", 1, {"OLD.ZIP             99  02/01/24 Tools"}},
        {"the same day is not new", "exactly15chars! x", 1, {"exactly15chars!      7  03/01/24 x"}},
        {"style 0: size only", "NEW.ZIP\tTools", 0, {"NEW.ZIP           1234  Tools"}},
        // Without texts the start of text 421 is blank.
        {"a missing file: no size, mark or date", "GONE.ZIP Tools", 1, {"GONE.ZIP                         Tools"}},
        {"a name too long for its field is cut", "a-very-long-name.zip x", 0, {"a-very-long-nam         x"}},
        {"a continuation starts at column 0", " more text", 1, {" more text"}},
        {"an empty line", "", 1, {""}},
    };
    for (const Case& t : cases) {
        EntryLayout e = FormatFileEntry(t.line, files, t.style);
        EXPECT_EQ(e.Lines, t.want) << t.what;
        EXPECT_EQ(e.Continuation, t.line.empty() || t.line[0] == ' ') << t.what;
    }

    // Long descriptions wrap by words at the indent, never past 79
    // columns, on six lines at most.
    for (int style : {0, 1}) {
        for (const std::string& text : {longText, words}) {
            EntryLayout e = FormatFileEntry("NEW.ZIP " + text, files, style);
            EXPECT_EQ(e.Lines.size(), kEntryMaxLines);
            for (size_t i = 0; i < e.Lines.size(); ++i) {
                EXPECT_LE(e.Lines[i].size(), kEntryWidth) << style << " line " << i;
                if (i > 0) {
                    EXPECT_EQ(e.Lines[i].find_first_not_of(' '), EntryIndent(style)) << style << " line " << i;
                }
            }
        }
        EntryLayout e = FormatFileEntry("NEW.ZIP " + words, files, style);
        EXPECT_EQ(e.Lines[1].substr(EntryIndent(style), 4), "word") << "a wrapped line starts with a word";
    }
    SetConfig(ConfigRecord{});
}

TEST_F(FileListTest, AddWritesTheNameFieldAndKeepsABlankAfterIt) {
    ASSERT_EQ(AddFileEntry("x.zip", A(), "  Tools"), 1);  // the list is made
    ASSERT_EQ(AddFileEntry("exactly15chars!", A(), "Fifteen"), 1);
    ASSERT_EQ(AddFileEntry("sixteen-chars.zip", A(), "Longer"), 1);
    ASSERT_EQ(AddFileEntry("two.zip", A(), "line one\nline two"), 1);
    ASSERT_EQ(AddFileEntry("tab.zip", A(), "\tA\ttool"), 1);
    EXPECT_EQ(List(A()),
              "x.zip          Tools\n"
              "exactly15chars! Fifteen\n"
              "sixteen-chars.zip               Longer\n"
              "two.zip        line one line two\n"
              "tab.zip        A tool\n");
    EXPECT_EQ(AddFileEntry("x.zip", (dir / "missing").string(), "Tools"), 0);
}

// A list whose last line has no line end (edited by hand) gets the new
// entry on a line of its own, by an add and by a move alike.
TEST_F(FileListTest, AnEntryNeverRunsOnInALastLineWithoutItsEnd) {
    WriteList(A(), "a.zip          First\nb.zip          Second");
    WriteList(B(), "m.zip          Moved\n");
    ASSERT_EQ(AddFileEntry("c.zip", A(), "Third"), 1);
    EXPECT_EQ(List(A()), "a.zip          First\nb.zip          Second\nc.zip          Third\n");
    WriteList(A(), "a.zip          First");
    ASSERT_EQ(MoveFileEntry("m.zip", B(), A()), 1);
    EXPECT_EQ(List(A()), "a.zip          First\nm.zip          Moved\n");
}

TEST_F(FileListTest, RemoveTakesTheWholeNameAndItsContinuationLines) {
    WriteList(A(),
              "# list\n"
              "DATA.ZIP       Data files\n"
              " more about the data\n"
              "data           The plain one\n"
              " its second line\n"
              "\n"
              "other.zip      Other\n");
    std::string description;
    ASSERT_EQ(RemoveFileEntry("data", A(), &description), 1);
    EXPECT_EQ(description, "The plain one");
    EXPECT_EQ(List(A()),
              "# list\n"
              "DATA.ZIP       Data files\n"
              " more about the data\n"
              "\n"
              "other.zip      Other\n");
    // Case is ignored when no name matches exactly.
    ASSERT_EQ(RemoveFileEntry("data.zip", A()), 1);
    EXPECT_EQ(List(A()), "# list\n\nother.zip      Other\n");
    // A name not in the list leaves it as it is.
    EXPECT_EQ(RemoveFileEntry("oth", A()), 0);
    EXPECT_EQ(List(A()), "# list\n\nother.zip      Other\n");
    EXPECT_EQ(RemoveFileEntry("x", B()), 0);  // no list at all
    EXPECT_FALSE(fs::exists(B() + "/files.bbs"));
    // Nothing of the rewrite is left behind.
    size_t n = 0;
    for (auto& e : fs::directory_iterator(A())) n += e.path().filename() != "files.bbs";
    EXPECT_EQ(n, 0u);
}

TEST_F(FileListTest, MoveCarriesTheEntryWithItsContinuation) {
    WriteList(A(), "x.zip          Tools\n more tools\ny.zip          Why\n");
    WriteList(B(), "z.zip          Zed\n");
    ASSERT_EQ(MoveFileEntry("x.zip", A(), B()), 1);
    EXPECT_EQ(List(A()), "y.zip          Why\n");
    EXPECT_EQ(List(B()), "z.zip          Zed\nx.zip          Tools\n more tools\n");
    EXPECT_EQ(MoveFileEntry("x.zip", A(), B()), 0);
    EXPECT_EQ(List(B()), "z.zip          Zed\nx.zip          Tools\n more tools\n");
    // A target list that cannot be written keeps the entry in its source.
    EXPECT_EQ(MoveFileEntry("y.zip", A(), (dir / "missing").string()), 0);
    EXPECT_EQ(List(A()), "y.zip          Why\n");
    // Between two areas listed from one list the entry stays where it is.
    ConfigRecord c;
    for (int a : {1, 2}) {
        c.FileAreas[size_t(a)].AreaDefined = 1;
        c.FileAreas[size_t(a)].ListingPath = A() + "/files.bbs";
    }
    SetConfig(c);
    EXPECT_EQ(MoveFileEntry("y.zip", A(), B(), 1, 2), 1);
    EXPECT_EQ(List(A()), "y.zip          Why\n");
}

// A rewrite killed at its write (the file-size limit kills it with
// SIGXFSZ) leaves the old list whole.
TEST_F(FileListTest, ARewriteKilledHalfWayLeavesTheOldList) {
    std::string body = "keep.zip       Keep\n";
    for (int i = 0; i < 400; ++i) body += "f" + std::to_string(i) + ".zip        File number " + std::to_string(i) + "\n";
    body += "gone.zip       Gone\n";
    WriteList(A(), body);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit r{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &r);
        _exit(RemoveFileEntry("gone.zip", A()) == 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(List(A()), body);
}

// Removing a file with its entry: an area's list kept apart is the one
// changed, and a list that cannot be rewritten (the file-size limit, its
// signal ignored, makes the write fail) keeps both the file and its entry.
TEST_F(FileListTest, RemovingAFileChangesItsAreasListOrNothing) {
    ConfigRecord c;
    c.FileAreas[4].AreaDefined = 1;
    c.FileAreas[4].AreaDir = A();
    c.FileAreas[4].ListingPath = B() + "/area5.bbs";
    SetConfig(c);
    std::string body = "# kept apart\nkeep.zip       Keep\ngone.zip       Gone\n more of it\n";
    std::ofstream(B() + "/area5.bbs") << body;
    for (const char* n : {"keep.zip", "gone.zip"}) std::ofstream(A() + "/" + n) << "x";

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit r{8, 8};
        setrlimit(RLIMIT_FSIZE, &r);
        _exit(RemoveFileAndEntry("gone.zip", A(), 4) == 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::exists(A() + "/gone.zip"));
    EXPECT_EQ(Slurp(B() + "/area5.bbs"), body);

    EXPECT_EQ(RemoveFileAndEntry("gone.zip", A(), 4), 1);
    EXPECT_FALSE(fs::exists(A() + "/gone.zip"));
    EXPECT_EQ(Slurp(B() + "/area5.bbs"), "# kept apart\nkeep.zip       Keep\n");
    EXPECT_FALSE(fs::exists(A() + "/files.bbs"));
    // Nothing of the rewrites is left beside the list.
    size_t n = 0;
    for (auto& e : fs::directory_iterator(B())) n += e.path().filename() != "area5.bbs";
    EXPECT_EQ(n, 0u);
}

TEST_F(FileListTest, PrivateUploadsAreLoggedWithoutTheirSlash) {
    ConfigRecord c;
    c.DataDir = A();
    SetConfig(c);
    Call().CallerName = "Terry Tester";
    EXPECT_EQ(LogPrivateUpload("secret.zip", B(), "/For the sysop"), 1);
    std::string log = Slurp(A() + "/prvtfile.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
    EXPECT_EQ(log.find("/For"), std::string::npos);
    EXPECT_FALSE(fs::exists(B() + "/files.bbs"));
}

TEST_F(FileListTest, DescriptionFromTheProtocolList) {
    ConfigRecord c;
    ProtocolDef& p = c.Protocols[2];
    p.ListFile = A() + "/proto.lst";
    p.UploadKeyword = "DESC:";
    p.UploadNameOffset = 6;
    SetConfig(c);
    std::ofstream(p.ListFile) << "other.zip DESC: not this one\nnew.zip DESC: Fresh tools   \nshort.zip DESC:\n"
                                 "esc.zip DESC: \x1b[2JWiped\r\x07\ntab.zip DESC: A\ttool\n";
    std::string d;
    ASSERT_EQ(DescriptionFromList("new.zip", 2, d), 1);
    EXPECT_EQ(d, "Fresh tools");
    ASSERT_EQ(DescriptionFromList("esc.zip", 2, d), 1);
    EXPECT_EQ(d, " [2JWiped");
    ASSERT_EQ(DescriptionFromList("tab.zip", 2, d), 1);
    EXPECT_EQ(d, "A tool");
    EXPECT_EQ(DescriptionFromList("short.zip", 2, d), 0);  // the offset lies past the line
    EXPECT_EQ(DescriptionFromList("none.zip", 2, d), 0);
    EXPECT_EQ(DescriptionFromList("new.zip", 3, d), 0);    // no list file
}

}  // namespace
