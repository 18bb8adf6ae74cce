// A shared-segment image holding the sample board's message texts, for
// tests of kivo's pieces that run without a server.
#pragma once

#include <cstdint>
#include <vector>

namespace kv::test {

// An image of kSegmentSize bytes: slot 0 holds the texts of sample/texts as
// the server's loader stores them (escapes turned into their bytes), slot 1
// nothing.  The configuration offset is 0 (no configuration), so the
// program's own settings stay in force.
std::vector<uint8_t> SampleTextSegment();

}  // namespace kv::test
