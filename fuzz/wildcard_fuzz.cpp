// A pattern a caller types and a name it is matched against: the pattern
// up to the first NUL, the name after it.
#include <string_view>

#include "common/wildcard.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    size_t nul = in.find('\0');
    std::string_view pattern = in.substr(0, nul);
    std::string_view name = nul == std::string_view::npos ? in : in.substr(nul + 1);
    kv::WildMatch(pattern, name);
    kv::FirstWildcard(pattern);
    return 0;
}
