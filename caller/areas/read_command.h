// The read command (menu codes 23, 24 and 25): the area, the counts, the
// reading mode, and the start of the reader or the scan.
//
// Reading modes are the eight keys of text 244, each place a fixed mode
// (ReadingMode).  Styles: 0 reads message by message in the reader, 1 is
// the header scan with marking, 2 the one-line list.
#pragma once

#include <cstdint>
#include <string>

namespace kv::caller {

enum ReadingMode : size_t {
    kModeQuit = 0,
    kModeForward = 1,
    kModeBackward = 2,
    kModeNumber = 3,
    kModeHelp = 4,
    kModeMarked = 5,
    kModeNew = 6,
    kModeSearch = 7,
};

// The argument: "/M" the current area, 1-100 an area, 65535 every area the
// caller selected, 0 or nothing a choice from the area list.
void ReadMessagesCommand(const std::string& argument, int style);

// The messages of area (0-99), or of every selected and readable area for
// kAllSelectedAreas, from "msginfo.bbs", with the base's lowest, highest
// and total numbers; -1 when the file cannot be read.
int CountAreaMessages(int area, int32_t& lowest, int32_t& highest, int32_t& total);

// The mode menu, answerable while it is still being printed; the key.
char AskReadingMode(const std::string& keys);
void ShowReadingLegend(const std::string& keys);

// The two title lines over a reading: the area (or the marked list) with
// its count, then the base's total and number range.
void ShowReadingTitle(int area, int count, int32_t lowest, int32_t highest, int32_t total, bool marked);

void StartReading(int area, int count, int32_t lowest, int32_t highest, int32_t total, char key, int style,
                  const std::string& keys);

}  // namespace kv::caller
