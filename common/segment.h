// The shared segment that kvhubd builds and every caller program reads, and
// the record of the command pipe.
//
// SharedSegment (key 1138, 118696 bytes, mode 0660), little-endian:
//   offset  width  content
//   0       28     SegmentHeader
//   28      50668  ConfigRecord slot
//   50696   4000   slot 0 text offsets, int32[1000]
//   54696   30000  slot 0 text block
//   84696   4000   slot 1 text offsets, int32[1000]
//   88696   30000  slot 1 text block
//
// SegmentHeader:
//   0   4  int32     offset of the configuration copy (28)
//   4   4  int32     offset of slot 0's offset table
//   8   4  int32     offset of slot 0's text block
//   12  4  int32     offset of slot 1's offset table
//   16  4  int32     offset of slot 1's text block
//   20  4  int16[2]  per slot: number of the last text loaded
//   24  4  int16[2]  per slot: language loaded there, -1 none
//
// ServerCommand (84 bytes, one write of "kivopipe.bbs"):
//   0   2   int16  command code
//   2   61  text   sender's full name
//   63  13  text   sender's alias
//   76  4   int32  message number
//   80  4   int32  byte offset of the message header in "msghdr.bbs"
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>

#include "common/config_record.h"
#include "common/record_io.h"

namespace kv {

constexpr key_t kSegmentKey = 1138;
constexpr size_t kSegmentHeaderSize = 28;
constexpr size_t kTextsPerSlot = 1000;
constexpr size_t kTextBlockSize = 30000;
constexpr size_t kSlotTableSize = 4 * kTextsPerSlot;
constexpr size_t kConfigOffset = kSegmentHeaderSize;
constexpr size_t kSlotTableOffset[2] = {kConfigOffset + kConfigSlotSize,
                                        kConfigOffset + kConfigSlotSize + kSlotTableSize + kTextBlockSize};
constexpr size_t kSlotBlockOffset[2] = {kSlotTableOffset[0] + kSlotTableSize, kSlotTableOffset[1] + kSlotTableSize};
constexpr size_t kSegmentSize = kSlotBlockOffset[1] + kTextBlockSize;
static_assert(kSegmentSize == 118696);
static_assert(kSlotTableOffset[0] == 50696 && kSlotBlockOffset[0] == 54696);
static_assert(kSlotTableOffset[1] == 84696 && kSlotBlockOffset[1] == 88696);

// Language numbers 0-6 name "message.usa" ... "message.oth".
constexpr const char* kLanguageExtensions[7] = {"usa", "que", "ger", "ita", "spa", "swe", "oth"};

struct SegmentHeader {
    static constexpr size_t kSize = kSegmentHeaderSize;
    int32_t ConfigOffset = 0;
    int32_t TableOffset0 = 0;
    int32_t BlockOffset0 = 0;
    int32_t TableOffset1 = 0;
    int32_t BlockOffset1 = 0;
    int16_t LastText[2] = {0, 0};
    int16_t Language[2] = {-1, -1};
};
template <class IO> constexpr void Visit(IO& io, SegmentHeader& h) {
    io.Field("ConfigOffset", 0, 4, h.ConfigOffset);
    io.Field("TableOffset0", 4, 4, h.TableOffset0);
    io.Field("BlockOffset0", 8, 4, h.BlockOffset0);
    io.Field("TableOffset1", 12, 4, h.TableOffset1);
    io.Field("BlockOffset1", 16, 4, h.BlockOffset1);
    io.Field("LastText0", 20, 2, h.LastText[0]);
    io.Field("LastText1", 22, 2, h.LastText[1]);
    io.Field("Language0", 24, 2, h.Language[0]);
    io.Field("Language1", 26, 2, h.Language[1]);
}

// Text n of slot 0 or 1 of an attached segment; empty when the slot has no
// such text.  Offsets are checked against the block, so a damaged segment
// gives an empty text, never a read outside it.
std::string SegmentText(const uint8_t* segment, int slot, int n);

// The command pipe, a FIFO in DataDir.
constexpr const char* kCommandPipeName = "kivopipe.bbs";

enum CommandCode : int16_t {
    CMD_SHUTDOWN = -1,
    CMD_RELOAD = -2,
    CMD_MAIL_NOW = 1,
    CMD_MAIL_QUEUE = 2,
};

struct ServerCommand {
    static constexpr size_t kSize = 84;
    int16_t Code = 0;
    std::string Name;   // text[61]
    std::string Alias;  // text[13]
    int32_t MessageNumber = 0;
    int32_t HeaderOffset = 0;
};
template <class IO> constexpr void Visit(IO& io, ServerCommand& c) {
    io.Field("Code", 0, 2, c.Code);
    io.Field("Name", 2, 61, c.Name);
    io.Field("Alias", 63, 13, c.Alias);
    io.Field("MessageNumber", 76, 4, c.MessageNumber);
    io.Field("HeaderOffset", 80, 4, c.HeaderOffset);
}

}  // namespace kv
