// The group list "master.bbs": every group record decoded as it lay,
// named, tested for the caller and searched as the selection screen
// searches.  A group's shown name holds no control byte and no more than
// its field; a hidden group is seen at the sysop's level of exactly 64000
// alone; a search finds the first visible group from its start that
// matches, or none when there is none.
#include <vector>

#include "caller/areas/news_groups.h"
#include "caller/term/call_state.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureCall();
    std::string path = fuzz::WriteScratchFile(kNewsMasterFile, data, size);
    NewsFile master(path, NewsFile::kReadOnly);
    if (!master.open()) return 0;
    const int64_t count = master.RecordsOf(NewsGroupRecord::kSize);
    Check(count == int64_t(size / NewsGroupRecord::kSize), "the group count is not the whole records");
    std::vector<NewsGroupRecord> groups;
    for (int64_t i = 0; i < count && i < 64; ++i) {
        NewsGroupRecord g;
        Check(master.Read(GroupOffset(uint32_t(i)), g), "a whole group record could not be read");
        auto again = EncodeRecord(g);
        Check(std::vector<uint8_t>(again.begin(), again.end()) ==
                  fuzz::CanonicalRecord<NewsGroupRecord>(data + size_t(i) * NewsGroupRecord::kSize),
              "a group record does not encode back as it lay");
        const std::string name = GroupDisplayName(g);
        Check(name.size() <= 84, "a group's name longer than its field");
        for (char c : name) Check(uint8_t(c) >= 32 && uint8_t(c) != 127, "a control byte in a group's name");
        for (int32_t level : {10, 63999, 64000, 64001}) {
            Call().User.SecurityLevel = level;
            Check(GroupVisible(g) == (!(g.Flags & NEWS_HIDDEN) || level == 64000), "a hidden group seen, or one hidden");
        }
        groups.push_back(g);
    }
    NewsGroupRecord beyond;
    Check(!master.Read(GroupOffset(uint32_t(count)), beyond), "a torn or missing group was read");

    Call().User.SecurityLevel = 10;
    for (const char* pattern : {"comp", "*.misc", ">0", "?", ">3"}) {
        for (int first : {0, 1}) {
            int found = FindGroup(master, first, pattern);
            if (count > 64) continue;  // only the groups read above are known here
            int want = -1;
            for (int i = first; i < int(groups.size()) && want < 0; ++i)
                if (GroupVisible(groups[size_t(i)]) && GroupMatches(groups[size_t(i)], pattern)) want = i;
            Check(found == want, "the search did not find the first visible group that matches");
        }
    }
    return 0;
}
