// Who may use a message area, and the lists a caller picks an area from.
//
// Every message command asks CanUseMessageArea before it reads, writes or
// acts as the area's sysop, and lets the caller choose an area through
// ChooseMessageArea.  Areas are 0-99 inside the program; the caller sees and
// types them from 1.
#pragma once

namespace kv::caller {

// The rights of CanUseMessageArea.
enum AreaRight { kAreaRead = 0, kAreaWrite = 1, kAreaSysop = 2 };

// 1 when the caller may use area (0-99) with that right, else 0.  The
// caller's level must reach the area's level for the right (a restricted
// area, PostingMode 3, takes posts at the sysop level alone, whatever its
// WriteLevel says) and the caller's flag sets must hold every flag the area
// asks for.  An area outside 0-99 or not defined gives 0.
int CanUseMessageArea(int area, int kind);

// Lists the areas the caller may use with right kind, two to a row, and
// asks for one.  clear: the screen is cleared first (when the caller wants
// it cleared); title: text 197 heads the list; scan: the scan form, each
// area with its scan mark (texts 198/199).  For writing, a restricted area
// is listed only to a caller with sysop rights there.  Returns the area
// typed, from 1, or 0 when none was chosen (or a refused one was typed).
int ChooseMessageArea(int kind, bool clear, bool title, bool scan);

// The same list over the file areas the caller may list (CanUseFileArea),
// the caller's current file area standing out.  The area typed, from 1,
// or 0.
int ChooseFileArea(bool clear, bool title);

}  // namespace kv::caller
