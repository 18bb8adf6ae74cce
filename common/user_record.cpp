#include "common/user_record.h"

#include <cstring>

namespace kv {

static_assert(LayoutIsSound<UserRecord>());
static_assert(UserRecord::kSize == 412);

namespace {

// Blanks behind the NUL of an empty text, up to the field's last byte.
void BlankTail(uint8_t* field, size_t width, const std::string& text) {
    if (text.empty() && width > 2) std::memset(field + 1, ' ', width - 2);
}

}  // namespace

UserRecord DecodeUserRecord(const uint8_t* p) {
    UserRecord u;
    DecodeRecord(p, u);
    return u;
}

void EncodeUserRecord(const UserRecord& u, uint8_t* p) {
    EncodeRecord(u, p);
    BlankTail(p + 0, 36, u.Name);
    BlankTail(p + 36, 26, u.Location);
    BlankTail(p + 62, 16, u.Password);
}

UserBytes EncodeUserRecord(const UserRecord& u) {
    UserBytes out{};
    EncodeUserRecord(u, out.data());
    return out;
}

}  // namespace kv
