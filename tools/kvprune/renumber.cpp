#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/users.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {

long RenumberMessages(OpenBase& base, const PruneOptions& opts, bool& usersOk) {
    return RewriteBase(base, opts, false, true, usersOk);
}

uint32_t RemapLastReadValue(const AreaNumbers& area, uint32_t oldValue) {
    if (area.empty()) return 0;
    auto it = std::lower_bound(area.begin(), area.end(), oldValue,
                               [](const std::pair<int32_t, int32_t>& e, uint32_t v) { return uint32_t(e.first) < v; });
    if (it == area.end()) return uint32_t(area.back().second);
    if (uint32_t(it->first) == oldValue) return uint32_t(it->second);
    return uint32_t(it->second - 1);
}

bool RemapLastRead(const std::vector<RenumberEntry>& map, NewBaseFile& lastReadFile,
                   std::vector<HighestReadFix>& fixes, bool& written) {
    written = false;
    std::array<AreaNumbers, kMsgAreaCount> byArea;
    for (const RenumberEntry& m : map)
        if (m.area >= 0 && m.area < kMsgAreaCount && m.oldNumber > 0)
            byArea[size_t(m.area)].emplace_back(m.oldNumber, m.newNumber);
    for (AreaNumbers& a : byArea) std::stable_sort(a.begin(), a.end(), [](auto& x, auto& y) { return x.first < y.first; });

    std::vector<uint8_t> records;
    const std::string path = MsgBasePath(kLastReadFile);
    if (!ReadWholeFile(path, records)) {
        PruneLogF("Cannot read %s: %s", path, std::strerror(errno));
        return false;
    }
    bool ok = true;
    int users = UpdateUserCount();
    for (int u = 0; u < users; ++u) {
        UserRecord user;
        if (!ReadUserRecord(u, user)) {
            PruneLogF("Cannot repair last-read numbers of user #%ld", long(u));
            ok = false;
            continue;
        }
        if (user.HighestRead == 0) continue;
        if ((size_t(u) + 1) * LastReadRecord::kSize > records.size()) {
            PruneLogF("Cannot read last-read record #%ld: %s holds no such record", long(u), path);
            PruneLogF("Cannot repair last-read numbers of user #%ld", long(u));
            ok = false;
            continue;
        }
        uint8_t* at = records.data() + size_t(u) * LastReadRecord::kSize;
        LastReadRecord lr;
        DecodeRecord(at, lr);
        uint32_t highest = 0;
        for (int a = 0; a < kMsgAreaCount; ++a) {
            uint32_t& v = lr.LastRead[size_t(a)];
            if (!Config().MsgAreas[size_t(a)].AreaDefined || v == 0) continue;
            v = RemapLastReadValue(byArea[size_t(a)], v);
            highest = std::max(highest, v);
        }
        EncodeRecord(lr, at);
        fixes.push_back({u, int32_t(highest)});
    }
    written = lastReadFile.Create() && lastReadFile.Write(records.data(), records.size()) && lastReadFile.Finish();
    return ok && written;
}

}  // namespace kv::prune
