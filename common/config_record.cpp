#include "common/config_record.h"

namespace kv {

static_assert(LayoutIsSound<TimeWindow>());
static_assert(LayoutIsSound<ColorPair>());
static_assert(LayoutIsSound<MsgAreaDef>());
static_assert(LayoutIsSound<FileAreaDef>());
static_assert(LayoutIsSound<ProtocolDef>());
static_assert(LayoutIsSound<NewsHeaderRule>());
static_assert(LayoutIsSound<ConfigRecord>());
static_assert(48362 + kNewsHeaderCount * NewsHeaderRule::kSize == 48868);
static_assert(13608 + kMsgAreaCount * MsgAreaDef::kSize == 35208);
static_assert(35208 + kFileAreaCount * FileAreaDef::kSize == 47208);
static_assert(1648 + kProtocolCount * ProtocolDef::kSize == 13608);

ConfigRecord DecodeConfig(const uint8_t* slot) {
    ConfigRecord c;
    DecodeRecord(slot, c);
    return c;
}

void EncodeConfig(const ConfigRecord& c, uint8_t* slot) {
    std::memset(slot, 0, kConfigSlotSize);
    EncodeRecord(c, slot);
}

}  // namespace kv
