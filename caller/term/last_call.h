// The system's last-caller file "lastcall.bbs" in DataDir; on a multi-line
// system one file per line, the line number before the last "." of the name
// ("lastcall0.bbs").  One record of 168 bytes; integers are little-endian:
//   offset  width  field
//   0       36     Name        text, the last caller
//   36      4      TotalCalls  uint32, calls of the system (of the line)
//   40      128    (unused, zero)
#pragma once

#include <cstdint>
#include <string>

#include "common/record_io.h"

namespace kv::caller {

struct LastCallRecord {
    static constexpr size_t kSize = 168;
    std::string Name;          // text[36], the previous caller
    uint32_t TotalCalls = 0;   // calls of the system
};
template <class IO> constexpr void Visit(IO& io, LastCallRecord& r) {
    io.Field("Name", 0, 36, r.Name);
    io.Field("TotalCalls", 36, 4, r.TotalCalls);
}
static_assert(LayoutIsSound<LastCallRecord>());

}  // namespace kv::caller
