// The command dispatcher of the menus.
//
// A menu line's Command code names what the line does; codes 1-4 and 9
// (menu moves and log-off) are the menu loop's own, every other code that
// does something is run here with the line's Argument:
//
//   5, 40  display file of the argument      38  type a text file
//   6      bulletins                         39, 45, 46  file, then wait
//   7      external program                  41, 42, 53  editor, hot keys,
//   8, 10  credits, usage graph                          do not disturb
//   11     page the sysop                    43, 44  area summary, scan all
//   12     questionnaire                     47  a line into the log
//   13, 51 user list, callers of the day     49, 50  choose current area
//   14     call status                       52, 54  who is on, chat
//   16-21  location, password, screen        55  download by path
//          length, clear screen, page        57, 58  phone numbers
//          pause, colour                     59, 60  ANSI, clear codes
//   22-28  mail check, reading (23-25),      61  other message texts
//          delete, enter, scan areas         62  remove a file
//   29-37, 48  files: move, lists, downloads, upload, archive, searches,
//          new files                         63, 64  news
//
// 15, 56 and 65-68 are accepted and do nothing, as does every code outside
// 5-68.
#pragma once

#include "common/menu_record.h"

namespace kv::caller {

// Runs command code with the menu line (a copy: a command may reload the
// menu it came from).
void DoMenuCommand(int code, MenuRecord line);

}  // namespace kv::caller
