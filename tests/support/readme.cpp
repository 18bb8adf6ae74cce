#include "tests/support/readme.h"

#include <fstream>

#include "tests/support/board.h"

namespace kv::test {

std::string ReadmeBlock(const std::string& first) {
    std::ifstream in(SourcePath("README.md"));
    std::string block, line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line == "    " + first) inside = true;
        if (!inside) continue;
        if (!line.empty() && line.rfind("    ", 0) != 0) break;
        block += (line.empty() ? line : line.substr(4)) + "\n";
    }
    // The blank lines that end the block are not part of it.
    while (block.size() >= 2 && block.compare(block.size() - 2, 2, "\n\n") == 0) block.pop_back();
    return block;
}

std::string ReadmeLineWith(const std::string& text) {
    std::ifstream in(SourcePath("README.md"));
    std::string found, line;
    while (std::getline(in, line))
        if (line.find(text) != std::string::npos) found += line + "\n";
    return found;
}

}  // namespace kv::test
