// The lines as the sysop's console shows them: who is on which line, and
// which line pages, from "online.ctl" and "users.bbs" through their codecs.
// Texts here are the board's (PC bytes); the screen makes them fit the
// sysop's terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/online_status.h"

namespace kv::console {

struct LineView {
    int Line = 0;
    int32_t Pid = -1;
    uint8_t Flags = 0;     // LINE_* bits
    int32_t User = -1;     // -1: nobody logged on yet
    std::string Name;      // the caller's, or what stands for it
    std::string Since;     // "HH:MM" of the log-on
    bool Pages() const { return (Flags & LINE_PAGING) != 0; }
};

// The lines in use, in line order.  False, with why, when "online.ctl"
// cannot be read.
bool ReadLines(std::vector<LineView>& lines, std::string* why = nullptr);

// The view of one entry; the caller's name is read from "users.bbs".
LineView ViewOfEntry(int line, const OnlineEntry& e);

// The first line that pages, or -1.
int PagingLine(const std::vector<LineView>& lines);
// The line of that number among them, or nullptr.
const LineView* FindLine(const std::vector<LineView>& lines, int line);

// The two rows of the console's head: the lines that page ("Paging: ..."
// or that none does) and who is on ("On line: ..."), each cut to width.
std::string PagingRow(const std::vector<LineView>& lines, size_t width);
std::string OnLineRow(const std::vector<LineView>& lines, size_t width);

// What the line is doing, in words ("paging, monitored"), empty when it
// is only on line.
std::string StateWords(uint8_t flags);

// The table of the who key: a heading and a row per line.
std::vector<std::string> WhoTable(const std::vector<LineView>& lines);

}  // namespace kv::console
