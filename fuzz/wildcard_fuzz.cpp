// A pattern a caller types and a name it is matched against: the pattern
// up to the first NUL, the name after it.  The answer must be that of an
// independent matcher over the same rules: '?' one character, '*' inside
// the pattern any run, '*' at its end a run of at least one, all else
// itself, case counting; the first wildcard is where the pattern has its
// first '*' or '?'.
#include <string_view>
#include <vector>

#include "common/wildcard.h"
#include "fuzz/fuzz_support.h"

using kv::fuzz::Check;

namespace {

// matches[i][j]: pattern from i matches text from j.
bool Reference(std::string_view p, std::string_view t) {
    std::vector<std::vector<char>> m(p.size() + 1, std::vector<char>(t.size() + 1, 0));
    m[p.size()][t.size()] = 1;
    for (size_t i = p.size(); i-- > 0;) {
        for (size_t j = t.size() + 1; j-- > 0;) {
            if (p[i] == '*') {
                const bool last = i + 1 == p.size();
                // none of the text (not for a closing '*'), or one character more
                m[i][j] = (!last && m[i + 1][j]) || (j < t.size() && (m[i + 1][j + 1] || m[i][j + 1]));
            } else {
                m[i][j] = j < t.size() && (p[i] == '?' || p[i] == t[j]) && m[i + 1][j + 1];
            }
        }
    }
    return m[0][0] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = kv::fuzz::Bytes(data, size);
    size_t nul = in.find('\0');
    std::string_view pattern = in.substr(0, nul);
    std::string_view name = nul == std::string_view::npos ? in : in.substr(nul + 1);
    if (pattern.size() * name.size() > 1 << 20) return -1;  // the reference needs a table that size
    Check(kv::WildMatch(pattern, name) == Reference(pattern, name), "the match differs from the rules");
    const size_t first = pattern.find_first_of("*?");
    Check(kv::FirstWildcard(pattern) == (first == std::string_view::npos ? 0 : int(first) + 1),
          "the first wildcard is not where the pattern has it");
    return 0;
}
