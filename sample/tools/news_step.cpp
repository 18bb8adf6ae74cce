// The sample board's news: the articles of sample/news/spool/ copied to
// NewsSpool, and "master.bbs" in NewsDir written from sample/news/groups.conf
// with each group's article count and highest number taken from its
// directory.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/news_records.h"
#include "sample/tools/builders.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

bool AllDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

bool StepNews(BoardContext& b) {
    fs::path source = b.src / "news" / "groups.conf";
    if (!fs::exists(source) || b.config.NewsDir.empty() || b.config.NewsSpool.empty()) return true;
    // Copied as the board's other files are, with their modes.
    if (!CopyTree(b.src / "news" / "spool", b.config.NewsSpool, b)) return false;

    std::ifstream in(source);
    std::vector<uint8_t> master;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        std::istringstream words(line);
        std::string path, flags;
        if (!(words >> path) || path[0] == '#') continue;
        words >> flags;
        NewsGroupRecord g;
        g.Path = path;
        if (flags.find('m') != std::string::npos) g.Flags |= NEWS_MODERATED;
        if (flags.find('h') != std::string::npos) g.Flags |= NEWS_HIDDEN;
        fs::path dir = fs::path(b.config.NewsSpool) / path;
        if (!fs::is_directory(dir)) {
            std::cerr << "kvsample: " << source.string() << ":" << n << ": no spool directory for " << path << "\n";
            return false;
        }
        for (const auto& e : fs::directory_iterator(dir)) {
            std::string name = e.path().filename().string();
            if (!AllDigits(name)) continue;
            ++g.Count;
            g.Highest = std::max(g.Highest, uint32_t(std::strtoul(name.c_str(), nullptr, 10)));
        }
        auto bytes = EncodeRecord(g);
        master.insert(master.end(), bytes.begin(), bytes.end());
    }
    return WriteWholeFile(fs::path(b.config.NewsDir) / kNewsMasterFile, master.data(), master.size());
}

BoardStepRegistrar news_step(45, "news", StepNews);

}  // namespace
}  // namespace kv::sample
