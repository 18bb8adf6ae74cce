// The group list "master.bbs": every group record decoded, named, tested
// for the caller and searched as the selection screen searches.
#include "caller/areas/news_groups.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    std::string path = kv::fuzz::WriteScratchFile(kNewsMasterFile, data, size);
    NewsFile master(path, NewsFile::kReadOnly);
    if (!master.open()) return 0;
    int64_t count = master.RecordsOf(NewsGroupRecord::kSize);
    for (int64_t i = 0; i < count; ++i) {
        NewsGroupRecord g;
        if (!master.Read(GroupOffset(uint32_t(i)), g)) break;
        GroupDisplayName(g);
        GroupVisible(g);
        GroupMatches(g, ">3");
    }
    for (const char* pattern : {"comp", "*.misc", ">0", "?"}) FindGroup(master, 0, pattern);
    return 0;
}
