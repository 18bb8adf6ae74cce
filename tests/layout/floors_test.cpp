// kivo stands in floors: caller/term/ (the call's state, the terminal and
// the line) at the bottom, caller/areas/ above it, caller/call/ (start-up,
// log-in, menus, log-off) on top, all of them on common/.  A floor may use
// its own and the ones below; an include that points up would let the
// bottom depend on the call again, so the tree is read here and every such
// include is named with its file and line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace kv::test {
namespace {

// The floors from the bottom up; whatever else a quoted include names
// (another program's folder, a folder of caller/ given no floor) is no floor.
const std::vector<std::string> kFloors = {"common", "caller/term", "caller/areas", "caller/call"};

std::optional<size_t> FloorOf(const std::string& path) {
    for (size_t i = kFloors.size(); i-- > 0;)
        if (path.rfind(kFloors[i] + "/", 0) == 0 && path.find('/', kFloors[i].size() + 1) == std::string::npos)
            return i;
    return std::nullopt;
}

// Whether a file (a path from the source root) may include header.
bool MayInclude(const std::string& file, const std::string& header) {
    std::optional<size_t> from = FloorOf(file), to = FloorOf(header);
    return from && to && *to <= *from;
}

// The quoted include of a line ("caller/term/screen.h"), empty for none.
std::string QuotedInclude(const std::string& line) {
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#') return {};
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line.compare(at, 7, "include") != 0) return {};
    size_t open = line.find_first_not_of(" \t", at + 7);
    if (open == std::string::npos || line[open] != '"') return {};
    size_t close = line.find('"', open + 1);
    return close == std::string::npos ? std::string() : line.substr(open + 1, close - open - 1);
}

TEST(Floors, TheRuleTakesDownwardIncludesOnly) {
    struct Case {
        const char* file;
        const char* header;
        bool allowed;
    } cases[] = {
        {"caller/term/screen.cpp", "caller/term/terminal.h", true},
        {"caller/term/screen.cpp", "common/cp437.h", true},
        {"caller/areas/reader.cpp", "caller/term/prompts.h", true},
        {"caller/call/menus.cpp", "caller/areas/file_areas.h", true},
        {"caller/term/terminal.cpp", "caller/call/logoff.h", false},
        {"caller/term/display_file.cpp", "caller/areas/file_areas.h", false},
        {"caller/areas/downloads.cpp", "caller/call/startup.h", false},
        {"caller/areas/reader.cpp", "server/config_loader.h", false},
        {"caller/areas/reader.cpp", "caller/core/menus.h", false},
        {"caller/extra/thing.cpp", "caller/term/screen.h", false},
        {"caller/term/sub/thing.cpp", "caller/term/screen.h", false},
    };
    for (const Case& c : cases) EXPECT_EQ(MayInclude(c.file, c.header), c.allowed) << c.file << " " << c.header;
    EXPECT_EQ(QuotedInclude("#include \"caller/term/screen.h\""), "caller/term/screen.h");
    EXPECT_EQ(QuotedInclude("  #  include \"caller/call/menus.h\""), "caller/call/menus.h");
    EXPECT_EQ(QuotedInclude("#include <string>"), "");
    EXPECT_EQ(QuotedInclude("// #include \"caller/call/menus.h\" in a comment"), "");
}

TEST(Floors, EveryIncludeOfTheCallerProgramPointsDown) {
    const fs::path root = KV_SOURCE_DIR;
    std::vector<int> files(kFloors.size(), 0);
    int includes = 0;
    for (const auto& e : fs::recursive_directory_iterator(root / "caller")) {
        if (!e.is_regular_file()) continue;
        const std::string file = fs::relative(e.path(), root).generic_string();
        std::optional<size_t> floor = FloorOf(file);
        ASSERT_TRUE(floor) << file << " lies in no floor of the caller program";
        ++files[*floor];
        std::ifstream in(e.path());
        std::string line;
        for (int n = 1; std::getline(in, line); ++n) {
            std::string header = QuotedInclude(line);
            if (header.empty()) continue;
            ++includes;
            EXPECT_TRUE(MayInclude(file, header)) << file << ":" << n << " includes " << header;
        }
    }
    // An empty floor or a tree with no include seen would pass for nothing.
    for (size_t i = 1; i < kFloors.size(); ++i) EXPECT_GT(files[i], 0) << kFloors[i];
    EXPECT_GT(includes, 100);
}

}  // namespace
}  // namespace kv::test
