// Last-read records: "lastread.bbs" in MsgBaseDir.
//
// Record n belongs to user n (as in "users.bbs") and sits at byte n x 400:
//   offset  width  field
//   0       400    LastRead   uint32[100]: per message area, the number of
//                             the last message read; 0 nothing read
// All integers are little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/config_record.h"
#include "common/record_io.h"

namespace kv {

inline constexpr const char* kLastReadFile = "lastread.bbs";

struct LastReadRecord {
    static constexpr size_t kSize = 400;
    std::array<uint32_t, kMsgAreaCount> LastRead{};
};
template <class IO> constexpr void Visit(IO& io, LastReadRecord& r) {
    for (size_t a = 0; a < r.LastRead.size(); ++a) io.Field("LastRead", 4 * a, 4, r.LastRead[a]);
}
static_assert(LayoutIsSound<LastReadRecord>());

enum class LastReadDirection { kRead, kWrite };

// One transfer of user's record: open the existing file (never made here),
// read or write 400 bytes at user x 400, close.  A record past the end
// reads as a failure.  why gets the reason of a failure.
bool LastReadIO(int32_t user, LastReadRecord& record, LastReadDirection dir, std::string* why = nullptr);

// Reads user's record; on failure logs text 342 and leaves record as it was.
bool ReadLastRead(int32_t user, LastReadRecord& record);
// Writes user's record under the base lock; on failure logs text 343.
bool WriteLastRead(int32_t user, const LastReadRecord& record);

// For a new user: clears record to zeros and writes it at user x 400 under
// the base lock, making "lastread.bbs" when it is missing.  Writing at the
// user's own place keeps the file in step with "users.bbs" even when an
// earlier registration failed halfway.
bool AddLastReadRecord(int32_t user, LastReadRecord& record);

}  // namespace kv
