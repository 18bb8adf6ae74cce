#include "common/segment.h"

namespace kv {

static_assert(LayoutIsSound<SegmentHeader>());
static_assert(LayoutIsSound<ServerCommand>());

std::string SegmentText(const uint8_t* segment, int slot, int n) {
    if (segment == nullptr || slot < 0 || slot > 1 || n < 0 || n >= int(kTextsPerSlot)) return {};
    int16_t last = int16_t(GetLE16(segment + 20 + 2 * slot));
    if (n > last) return {};
    const uint8_t* block = segment + kSlotBlockOffset[slot];
    uint32_t off = GetLE32(segment + kSlotTableOffset[slot] + 4 * size_t(n));
    if (off >= kTextBlockSize) return {};
    return GetText(block + off, kTextBlockSize - off);
}

}  // namespace kv
