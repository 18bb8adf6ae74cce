// The sample board's menu tree as the builder writes it from its readable
// sources, and the sources the builder refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <unistd.h>

#include "caller/call/menus.h"
#include "common/menu_record.h"
#include "sample/tools/builders.h"
#include "tests/support/board.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

std::vector<MenuRecord> ReadMenu(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return DecodeMenuFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Every menu move of the tree leads to a menu that is there, every menu is
// reached from the top, and no menu has two lines on one key.
TEST(SampleMenus, TheTreeHangsTogether) {
    test::TempBoard b;
    std::map<std::string, std::vector<MenuRecord>> menus;
    for (const auto& e : fs::directory_iterator(b.config().MenuDir)) menus[e.path().filename()] = ReadMenu(e.path());
    ASSERT_TRUE(menus.contains("top.mnu"));
    std::set<std::string> reached = {"top.mnu"};
    for (const auto& [name, records] : menus) {
        ASSERT_GE(records.size(), 2u) << name;
        std::set<uint8_t> keys;
        for (size_t i = 1; i < records.size(); ++i) {
            const MenuRecord& r = records[i];
            if (r.Command >= kMenuGoTo && r.Command <= kMenuRestart && r.Command != kMenuReturn) {
                std::string target = caller::MenuFileName(r.Argument);
                EXPECT_TRUE(menus.contains(target)) << name << " line " << i << " leads to " << target;
                reached.insert(target);
            }
            if (r.HotKey != 0 && !r.AutoRun) {
                EXPECT_TRUE(keys.insert(r.HotKey).second) << name << " key " << r.HotKey;
            }
        }
    }
    for (const auto& [name, records] : menus) EXPECT_TRUE(reached.contains(name)) << name << " is never reached";
    // The top menu leaves by code 9 and keeps its sysop line for the sysop.
    const auto& top = menus["top.mnu"];
    EXPECT_TRUE(std::any_of(top.begin() + 1, top.end(), [](const MenuRecord& r) { return r.Command == kMenuLogOff; }));
    EXPECT_TRUE(std::any_of(top.begin() + 1, top.end(), [](const MenuRecord& r) { return r.MinLevel == 64000; }));
}

TEST(SampleMenus, BrokenSourcesAreRefused) {
    struct Case {
        const char* what;
        const char* source;
    };
    const Case cases[] = {
        {"no prompt", "Lines[1].Command = 9\n"},
        {"a gap", "Prompt.Text = x\nLines[1].Command = 9\nLines[3].Command = 9\n"},
        {"line 50", "Prompt.Text = x\nLines[50].Command = 9\n"},
        {"unknown field", "Prompt.Text = x\nLines[1].Colour = 9\n"},
        {"two-letter key", "Prompt.Text = x\nLines[1].HotKey = GG\n"},
        {"text too long", "Prompt.Text = x\nLines[1].Text = \"" 
                          "0123456789012345678901234567890123456789012345678901234567890123456789012345\"\n"},
        {"bad key", "Prompt.Text = x\nMenu[1].Text = y\n"},
    };
    const fs::path tmp = fs::temp_directory_path() / ("kvmenus." + std::to_string(getpid()));
    // The sample's sources with one more menu; false when the builder refuses.
    auto builds = [&](const std::string& name, const std::string& source) {
        fs::remove_all(tmp);
        fs::create_directories(tmp);
        fs::copy(test::SourcePath("sample"), tmp / "src", fs::copy_options::recursive);
        std::ofstream(tmp / "src" / "menus" / name) << source;
        return sample::BuildBoard((tmp / "src").string(), (tmp / "out").string(), "", "");
    };
    ASSERT_TRUE(builds("extra.menu", "Prompt.Text = \"  kept blanks \"\nLines[1].HotKey = x\n"));
    std::vector<MenuRecord> extra = ReadMenu(tmp / "out" / "menus" / "extra.mnu");
    ASSERT_EQ(extra.size(), 2u);
    EXPECT_EQ(extra[0].Text, "  kept blanks ");
    EXPECT_EQ(extra[1].HotKey, 'x');
    for (const auto& c : cases) EXPECT_FALSE(builds("broken.menu", c.source)) << c.what;
    // A name the stack cannot hold.
    EXPECT_FALSE(builds("elevenchars.menu", "Prompt.Text = x\n"));
    fs::remove_all(tmp);
}

}  // namespace
