// The shared pieces of the file areas: access, dates, word pieces and
// pattern expansion.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "caller/areas/file_areas.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"

using namespace kv;
using namespace kv::caller;
namespace fs = std::filesystem;

namespace {

// Area 0: list level 10 with flag A3, download level 20 with flag D8.
// Area 1: open, with levels no caller reaches.  Area 2: not defined.
ConfigRecord AccessConfig() {
    ConfigRecord c;
    FileAreaDef& a = c.FileAreas[0];
    a.AreaDefined = 1;
    a.ListLevel = 10;
    a.DownloadLevel = 20;
    a.ListFlags = {4, 0, 0, 0};
    a.DownloadFlags = {0, 0, 0, 128};
    FileAreaDef& o = c.FileAreas[1];
    o.AreaDefined = 1;
    o.OpenArea = 1;
    o.ListLevel = 70000;
    o.ListFlags = {255, 255, 255, 255};
    c.FileAreas[2].ListLevel = -5;
    return c;
}

TEST(CanUseFileArea, Table) {
    constexpr FlagGroups kAll = {255, 255, 255, 255};
    constexpr FlagGroups kNone = {0, 0, 0, 0};
    struct Case {
        const char* what;
        int32_t level;
        FlagGroups flags;
        int area, mode, want;
    } cases[] = {
        {"list at the level with the flag", 10, {4, 0, 0, 0}, 0, kFileList, 1},
        {"list below the level", 9, kAll, 0, kFileList, 0},
        {"list without flag A3", 64000, {251, 255, 255, 255}, 0, kFileList, 0},
        {"listing does not ask the download rights", 10, {4, 0, 0, 0}, 0, kFileList, 1},
        {"download below its level", 19, kAll, 0, kFileDownload, 0},
        {"download without flag D8", 20, {4, 0, 0, 127}, 0, kFileDownload, 0},
        {"download needs the list rights too", 20, {0, 0, 0, 128}, 0, kFileDownload, 0},
        {"download with both", 20, {4, 0, 0, 128}, 0, kFileDownload, 1},
        {"an open area, whatever level and flags", -1, kNone, 1, kFileDownload, 1},
        {"an area not defined", 64000, kAll, 2, kFileList, 0},
        {"below the first area", 64000, kAll, -1, kFileList, 0},
        {"past the last area", 64000, kAll, 50, kFileList, 0},
    };
    SetConfig(AccessConfig());
    for (const Case& t : cases) {
        Call().User.SecurityLevel = t.level;
        Call().User.Flags = t.flags;
        EXPECT_EQ(CanUseFileArea(t.area, t.mode), t.want) << t.what;
    }
    SetConfig(ConfigRecord{});
}

TEST(IsLaterDate, OrdersAndCentury) {
    struct Case {
        int order;
        const char* first;
        const char* second;
        bool want;
    } cases[] = {
        {1, "01/01/00", "12/31/99", false},  // 1999 is before 2000
        {1, "12/31/99", "01/01/00", true},
        {1, "03/04/26", "03/04/26", false},  // the same day is not later
        {1, "03/04/26", "03/05/26", true},
        {1, "03/04/26", "04/01/26", true},
        {0, "26/03/04", "26/03/05", true},   // year/month/day
        {0, "26/03/05", "25/12/31", false},
        {2, "05/03/26", "04/04/26", true},   // day/month/year
        {3, "05/03/79", "05/03/80", false},  // 1980 is before 2079
        {7, "01/01/00", "12/31/99", false},  // no order: every field reads as 0
    };
    for (const Case& t : cases) {
        ConfigRecord c;
        c.DateOrder = uint8_t(t.order);
        SetConfig(c);
        EXPECT_EQ(IsLaterDate(t.first, t.second), t.want) << t.order << " " << t.first << " " << t.second;
    }
    SetConfig(ConfigRecord{});
}

TEST(CopyNextWord, Pieces) {
    struct Case {
        const char* text;
        size_t width;
        const char* want;
    } cases[] = {
        {"word rest", 55, "word"},
        {"  word rest", 55, "  word"},
        {"last", 55, "last"},
        {"", 55, ""},
        {"   ", 55, "   "},
        {"abcdefgh", 5, "abcde"},       // a long word is cut at the width
        {"      abc", 4, "    "},       // so are leading blanks
        {"\tword more", 55, "\tword"},  // a tab leads like a blank
    };
    for (const Case& t : cases) EXPECT_EQ(CopyNextWord(t.text, t.width), t.want) << '"' << t.text << '"';

    // Walking a text piece by piece gives the text back.
    std::string_view text = " a  long   line of words";
    std::string rebuilt;
    for (std::string_view piece; !(piece = CopyNextWord(text, 55)).empty(); text.remove_prefix(piece.size()))
        rebuilt += piece;
    EXPECT_EQ(rebuilt, " a  long   line of words");
}

TEST(ExpandPattern, NamesAndDirectories) {
    fs::path dir = fs::temp_directory_path() / ("kv_expand_" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    for (const char* name : {"b.zip", "A.ZIP", "a.txt", "c.zip"}) std::ofstream(dir / name) << "x";

    EXPECT_EQ(ExpandPattern("*", false, dir.string()), (std::vector<std::string>{"A.ZIP", "a.txt", "b.zip", "c.zip"}));
    EXPECT_EQ(ExpandPattern("*.zip", false, dir.string()), (std::vector<std::string>{"b.zip", "c.zip"}));
    EXPECT_EQ(ExpandPattern("*", true, dir.string()),
              (std::vector<std::string>{"..", "A.ZIP", "a.txt", "b.zip", "c.zip", "sub/"}));
    EXPECT_EQ(ExpandPattern("c.zip", false, dir.string()), (std::vector<std::string>{"c.zip"}));
    EXPECT_TRUE(ExpandPattern("*.arc", false, dir.string()).empty());
    EXPECT_TRUE(ExpandPattern("*", false, (dir / "missing").string()).empty());

    // Without a directory: the working one.
    fs::path here = fs::current_path();
    fs::current_path(dir / "sub");
    std::ofstream("only") << "x";
    EXPECT_EQ(ExpandPattern("*", false), (std::vector<std::string>{"only"}));
    fs::current_path(here);
    fs::remove_all(dir);
}

TEST(DirectoryNames, HoldsWhatTheListingOfItsFilesHolds) {
    // The search asks after single names instead of listing the directory:
    // each answer must be the listing's.
    fs::path dir = fs::temp_directory_path() / ("kv_names_" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    for (const char* name : {"a.zip", ".hidden", "files.bbs"}) std::ofstream(dir / name) << "x";
    fs::create_symlink("a.zip", dir / "to_file");
    fs::create_symlink("sub", dir / "to_dir");
    fs::create_symlink("nowhere", dir / "dangling");
    const std::vector<std::string> listed = ExpandPattern("*", false, dir.string());

    DirectoryNames names(dir.string());
    ASSERT_TRUE(names);
    for (const char* name : {"a.zip", "A.ZIP", ".hidden", "files.bbs", "to_file", "to_dir", "dangling", "sub", ".",
                             "..", "", "missing", "sub/a.zip", "../a.zip"}) {
        bool inListing = std::find(listed.begin(), listed.end(), name) != listed.end();
        EXPECT_EQ(names.Holds(name), inListing) << "\"" << name << "\"";
    }
    FileInfo info;
    ASSERT_TRUE(names.Holds("a.zip", &info));
    EXPECT_EQ(info.Size, 1);
    EXPECT_EQ(info.Date.size(), 8u);
    EXPECT_FALSE(DirectoryNames((dir / "missing").string()));
    fs::remove_all(dir);
}

TEST(FileNameIsSafe, OneComponent) {
    EXPECT_TRUE(FileNameIsSafe("DATA.ZIP"));
    EXPECT_TRUE(FileNameIsSafe("..hidden"));
    for (const char* bad : {"", ".", "..", "../system/users.bbs", "/etc/passwd", "sub/x"})
        EXPECT_FALSE(FileNameIsSafe(bad)) << bad;
}

}  // namespace
