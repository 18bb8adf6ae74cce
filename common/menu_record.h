// The menu files "<name>.mnu" of MenuDir.
//
// A menu file is an array of records of 172 bytes, at most 50 of them.
// Record 0 is the menu's prompt record; records 1 to 49 are its lines in
// drawing order.  All records share one layout, but the prompt record uses
// some fields for its own colours.  Integers are little-endian.
//
//   offset  width  menu line                         prompt record
//   0       1      Command    command code           foreground of the prompt
//   1       3      (unused)
//   4       4      MinLevel   int32, lowest level    background of the prompt
//   8       1      AutoRun    runs when drawn        (unused)
//   9       4      FlagMasks  flags A-D required     (unused)
//   13      75     Text       drawn text             the prompt text
//   88      1      HotKey     key (upper case)       (unused)
//   89      80     Argument   passed to the command  (unused)
//   169     1      LineForeground                    alternate foreground ("^")
//   170     1      LineBackground; non-zero pads     alternate background
//                  the line to 79 columns
//   171     1      (unused)
//
// Colours are the PC colour numbers 0-15.  A text is NUL-ended inside its
// field; one that fills its field (a foreign writer's) is cut to the width
// less one when decoded, the same length the board's own writer allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/config_record.h"
#include "common/record_io.h"

namespace kv {

constexpr size_t kMenuRecordSize = 172;
constexpr size_t kMaxMenuRecords = 50;   // the prompt and 49 lines
constexpr size_t kMenuTextWidth = 75;
constexpr size_t kMenuArgumentWidth = 80;

// Command codes that the menu loop itself handles.
enum MenuCode : int {
    kMenuText = 0,      // drawn, never chosen
    kMenuGoTo = 1,      // the named menu replaces the current one
    kMenuCall = 2,      // the named menu is pushed on the stack
    kMenuReturn = 3,    // back to the menu below
    kMenuRestart = 4,   // the stack starts again at the named menu
    kMenuLogOff = 9,
    kMenuBlank = 255,   // an empty line
};

struct MenuRecord {
    static constexpr size_t kSize = kMenuRecordSize;
    uint8_t Command = 0;          // prompt record: foreground
    int32_t MinLevel = 0;         // prompt record: background
    uint8_t AutoRun = 0;
    FlagGroups FlagMasks{};       // groups A-D, every bit set must be held
    std::string Text;             // text[75]
    uint8_t HotKey = 0;
    std::string Argument;         // text[80]
    uint8_t LineForeground = 0;   // prompt record: alternate foreground
    uint8_t LineBackground = 0;   // prompt record: alternate background
};

template <class IO> constexpr void Visit(IO& io, MenuRecord& m) {
    io.Field("Command", 0, 1, m.Command);
    io.Field("MinLevel", 4, 4, m.MinLevel);
    io.Field("AutoRun", 8, 1, m.AutoRun);
    io.Field("FlagMasks", 9, 4, m.FlagMasks);
    io.Field("Text", 13, kMenuTextWidth, m.Text);
    io.Field("HotKey", 88, 1, m.HotKey);
    io.Field("Argument", 89, kMenuArgumentWidth, m.Argument);
    io.Field("LineForeground", 169, 1, m.LineForeground);
    io.Field("LineBackground", 170, 1, m.LineBackground);
}

MenuRecord DecodeMenuRecord(const uint8_t* p);
// The records of a menu file's bytes: at most kMaxMenuRecords, a record
// cut short at the end left out.
std::vector<MenuRecord> DecodeMenuFile(const uint8_t* p, size_t size);
std::vector<uint8_t> EncodeMenuFile(const std::vector<MenuRecord>& records);

}  // namespace kv
