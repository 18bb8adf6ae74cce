// The answer to the news reader's "Group(s):" prompt: numbers and ranges
// such as "1-3, 5", against a group list of 1 to 256 groups (the first
// byte).
#include <string_view>

#include "caller/areas/news_groups.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    if (size == 0) return 0;
    int groups = data[0] + 1;
    std::string_view answer(reinterpret_cast<const char*>(data + 1), size - 1);
    for (uint32_t g : kv::caller::ParseGroupItems(answer, groups, groups))
        kv::fuzz::Check(g < uint32_t(groups), "a group the list does not have");
    return 0;
}
