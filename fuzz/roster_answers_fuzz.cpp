// kvroster's new-user answers file: the first byte is the length of the
// user's name, which follows it; the rest is the file.  The block found
// must be the one an independent reading finds: the first heading line
// ("***" first) naming the user whole (no letter or digit next to the
// name), its lines after it up to the next heading, each cut to 131 bytes
// and without trailing blanks.
#include <cctype>
#include <string>
#include <vector>

#include "common/strings.h"
#include "fuzz/fuzz_support.h"
#include "roster/validate.h"

using namespace kv::roster;
using kv::fuzz::Check;

namespace {

bool NamePart(char c) { return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 128; }

bool NamesWhole(std::string_view line, std::string_view name) {
    if (line.substr(0, 3) != "***" || name.empty() || name.size() > line.size()) return false;
    for (size_t at = 0; at + name.size() <= line.size(); ++at)
        if (line.substr(at, name.size()) == name && (at == 0 || !NamePart(line[at - 1])) &&
            (at + name.size() == line.size() || !NamePart(line[at + name.size()])))
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    if (size == 0) return 0;
    const size_t n = std::min<size_t>(data[0] % 40, size - 1);
    const std::string name(kv::fuzz::Bytes(data + 1, n));
    std::string_view file = kv::fuzz::Bytes(data + 1 + n, size - 1 - n);

    std::vector<std::string> want;
    bool found = false;
    std::string_view rest = file;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, std::min<size_t>(end, 131)));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        kv::TrimRight(line);
        Check(AnswerHeadingNames(line, name) == NamesWhole(line, name), "a heading was read as naming another user");
        if (found) {
            if (line.substr(0, 3) == "***") break;
            want.push_back(line);
        } else {
            found = NamesWhole(line, name);
        }
    }

    std::vector<std::string> lines;
    AnswerBlock block = ReadAnswerBlock(kv::fuzz::WriteScratchFile("newuser.asw", file), name, lines);
    Check(block == (found ? AnswerBlock::kFound : AnswerBlock::kNotFound), "the user's block was missed or made up");
    Check(lines == want, "the block's lines are not those of the file");
    return 0;
}
