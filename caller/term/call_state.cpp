#include "caller/term/call_state.h"

#include <cstring>
#include <vector>

#include "caller/term/activity_log.h"
#include "common/runtime.h"
#include "common/segment.h"

namespace kv::caller {

CallState& Call() {
    static CallState state;
    return state;
}

bool SelectMessageFile(int k) {
    CallState& c = Call();
    if (c.Segment == nullptr || k < 0 || k > 1) return false;
    SegmentHeader h;
    DecodeRecord(c.Segment, h);
    if (h.Language[k] < 0 || h.LastText[k] < 0) return false;
    c.MessageFileIndex = int8_t(k);
    std::string keys = SegmentText(c.Segment, k, 0);
    if (keys.size() >= 1) c.NoKey = keys[0];
    if (keys.size() >= 2) c.YesKey = keys[1];
    return true;
}

std::string GetText(int n) { return SegmentText(Call().Segment, Call().MessageFileIndex, n); }

void InstallCallerServices() {
    SetLogWriter([](std::string_view line) { WriteLogLine(line); });
    SetTextLookup([](int n) { return GetText(n); });
}

bool RefreshConfig() {
    const uint8_t* seg = Call().Segment;
    if (seg == nullptr) return false;
    uint32_t off = GetLE32(seg);
    if (off < kSegmentHeaderSize || off > kSegmentSize - kConfigSlotSize) return false;
    // A reload rewrites the copy in place; decode only when it changed.
    static std::vector<uint8_t> seen;
    const uint8_t* slot = seg + off;
    if (seen.size() != kConfigFileSize || std::memcmp(seen.data(), slot, kConfigFileSize) != 0) {
        seen.assign(slot, slot + kConfigFileSize);
        SetConfig(DecodeConfig(slot));
    }
    return true;
}

}  // namespace kv::caller
