#include "caller/term/exit_info.h"

namespace kv::caller {

constexpr size_t kUserOffset = 308;

ExitInfoBytes EncodeExitInfo(const ExitInfoRecord& r) {
    ExitInfoBytes out = EncodeRecord(r);
    EncodeUserRecord(r.User, out.data() + kUserOffset);
    return out;
}

ExitInfoRecord DecodeExitInfo(const uint8_t* p) {
    ExitInfoRecord r;
    DecodeRecord(p, r);
    r.User = DecodeUserRecord(p + kUserOffset);
    return r;
}

}  // namespace kv::caller
