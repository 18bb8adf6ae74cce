#include "common/menu_record.h"

namespace kv {

static_assert(LayoutIsSound<MenuRecord>());
static_assert(MenuRecord::kSize == 172);

MenuRecord DecodeMenuRecord(const uint8_t* p) {
    MenuRecord m;
    DecodeRecord(p, m);
    // A field without its NUL: keep what a NUL-ended field could hold, so
    // the text is the same whoever wrote the file.
    if (m.Text.size() >= kMenuTextWidth) m.Text.resize(kMenuTextWidth - 1);
    if (m.Argument.size() >= kMenuArgumentWidth) m.Argument.resize(kMenuArgumentWidth - 1);
    return m;
}

std::vector<MenuRecord> DecodeMenuFile(const uint8_t* p, size_t size) {
    std::vector<MenuRecord> out;
    for (size_t at = 0; at + kMenuRecordSize <= size && out.size() < kMaxMenuRecords; at += kMenuRecordSize)
        out.push_back(DecodeMenuRecord(p + at));
    return out;
}

std::vector<uint8_t> EncodeMenuFile(const std::vector<MenuRecord>& records) {
    std::vector<uint8_t> out(records.size() * kMenuRecordSize);
    for (size_t i = 0; i < records.size(); ++i) EncodeRecord(records[i], out.data() + i * kMenuRecordSize);
    return out;
}

}  // namespace kv
