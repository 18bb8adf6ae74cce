// Menu commands whose pieces are not built yet.
//
// Every command code of the menus reaches its handler through
// DoMenuCommand (menu_commands.h).  The handlers below belong to pieces of
// the caller program still to come; until then each stands here as an
// empty operation, so a menu line with its code does nothing the caller
// can see.  Whoever builds one moves its declaration to the header of the
// new piece and deletes the stand-in from command_stubs.cpp: replaced, not
// wrapped.  The questionnaire (12) stands with the log-in's stand-ins in
// later_stubs.h; that piece uses it too.
#pragma once

#include <string>

namespace kv::caller {

// --- the caller's settings ---------------------------------------------------

void ChangeLocation();                                  // 16
void SetScreenLength();                                 // 18
void ToggleClearScreen();                               // 19
void TogglePageBreak();                                 // 20
void ToggleColor();                                     // 21
void ToggleFullScreenEditor();                          // 41
void ToggleHotKeys();                                   // 42
void ToggleDoNotDisturb();                              // 53
void ChangeHomePhone();                                 // 57
void ChangeDataPhone();                                 // 58
void ToggleAnsi();                                      // 59
void SetClearScreenCodes();                             // 60

}  // namespace kv::caller
