// Output to the caller: bytes, lines, attributes, colours, the cursor, the
// screen and boxes.
//
// Everything the caller sees goes out through PutChar.  Its bytes wait in
// an output buffer and leave in one write per burst (FlushOutput), to
// standard output and, while the sysop monitors the line, to the monitor:
// a system call per byte would make every byte a packet of its own on a
// network line.  The terminal does no output processing, so lines end
// with "\n\r" (PutLine).  The flags of the call decide what is sent:
//   AnsiOn     escape sequences at all (attributes, colours, cursor, boxes);
//   ColorOn    real colours; without it a colour call sends white (bold for
//              a bright colour) on black;
//   LocalMode  the local console: code-page-437 letters are folded to plain
//              ASCII, and without ANSI the cursor moves and screen clears use
//              the console's terminfo description.
// Bytes 128-163 are folded (see FoldChar) whenever ANSI is off as well.
//
// Colour numbers are the PC text colours 0-15 (8-15 the bright forms).
// Texts go out in one of the six colour pairs of the configuration by their
// role (SetColorPair): normal, warning, answer keys, titles, highlights,
// prompts.
//
// A burst ends wherever the caller must see what was written: the key
// waits, the timed pauses and the running of another program flush the
// buffer, as do a change of the terminal modes or of monitoring, the
// signalling of another process and the end of the process; a buffer that
// holds a few kilobytes goes out by itself.  With an OutputDelay that paces
// a slow line, each byte goes out on its own, followed by the delay.
//
// A line whose descriptor is non-blocking (while a listing polls for keys)
// still gets every byte: a full line is waited for, not dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::caller {

enum ColorRole { kColorNormal = 0, kColorWarning = 1, kColorKeys = 2, kColorTitle = 3, kColorHighlight = 4,
                 kColorPrompt = 5 };

// The plain letter sent for a code-page-437 byte; other bytes unchanged.
uint8_t FoldChar(uint8_t c);

void PutChar(uint8_t c);
// Writes what the output buffer holds to the line (and to the monitor).
void FlushOutput();
// How many times output has gone out so far: a caller that looks for keys
// while it writes asks the line again once output went out, since the
// write may have waited for a slow line.
unsigned OutputFlushCount();
// The bytes the output buffer takes before it is sent.
size_t OutputRoom();
void PutString(std::string_view text);
void PutLine(std::string_view text = "");

void SetBold();
void SetBlink();
void ResetAttributes();
void SetForeground(int16_t color);
void SetBackground(int16_t color);
// The escape of SetForeground (or SetBackground) for a colour, with the
// colour mapping whatever ColorOn says; nothing is sent.
std::string MakeColorCode(int16_t color, bool background);
void SetColor(int16_t foreground, int16_t background);
// Colour pair role of the configuration, only while ColorOn.
void SetColorPair(int role);
// The codes SetColor and SetColorPair would send, appended to out instead
// (the bright state changed as they change it), for text that goes out
// with them in one piece.
void AppendColor(std::string& out, int16_t foreground, int16_t background);
void AppendColorPair(std::string& out, int role);

// Column and row count from 1.
void MoveCursor(int column, int row);
void EraseScreen();
void ClearToEol();
void SetReverse();
// Style 0 blanks, 1 single, 2 double, 3 double top and bottom, 4 and above
// double sides.  Only with ANSI.
void DrawBox(int left, int top, int right, int bottom, int16_t foreground, int16_t background, int style);

}  // namespace kv::caller
