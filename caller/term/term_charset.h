// The character set of the caller's terminal.
//
// The board speaks the 8-bit PC set everywhere (common/cp437.h).  A line
// whose locale names UTF-8 (decided once at start-up) gets, at its terminal
// and nowhere else:
//   out  every byte above 127 as the UTF-8 form of its character (PutChar's
//        last step); ASCII, control bytes and escape sequences unchanged;
//   in   each UTF-8 sequence read whole and handed on as the PC byte of its
//        character; a character the set lacks, or a broken sequence, rings
//        the bell and gives no key, so no part of it is ever stored.
// A line without it gets the bytes as they are, both ways.
//
// The letter fold of the local console stood in for a console that could
// not show the letters; a UTF-8 console can, so it gets them unfolded.  A
// remote line without ANSI keeps its fold, UTF-8 or not: that caller chose
// a plain terminal.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::caller {

// Reads the locale (LC_ALL, LC_CTYPE, LANG) into the call's Utf8Terminal.
void DecideTerminalCharset();

// Whether PutChar folds byte c to its plain letter on this line.
bool FoldWanted(uint8_t c);

// The bytes that put c on this line's terminal: c itself, or its UTF-8
// form.  Returns how many (1 to 3) were written into out.
size_t TerminalForm(uint8_t c, char out[4]);

// One byte as read from the line, turned into a key: the byte itself on a
// line without UTF-8; otherwise the PC byte once a sequence is whole, and 0
// (no key) while it is not, or when it was refused (the bell has rung).
int KeyFromTerminal(int byte);

// Whether the terminal of another caller program (a chat partner) decodes
// UTF-8, by the locale that program started with; a program whose start
// cannot be read counts as a line without it.
bool ProcessTerminalIsUtf8(pid_t pid);

// A text of the board as a terminal of that kind wants it.
std::string TextForTerminal(std::string_view text, bool utf8);

}  // namespace kv::caller
