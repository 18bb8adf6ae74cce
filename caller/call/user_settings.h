// The caller's own settings, menu commands 16-21, 41, 42, 53, 57 and 58.
//
// Every change goes into the caller's record in memory (CallState's User)
// and reaches "users.bbs" when log-off writes the record back; a change of
// do-not-disturb is also written at once into this line's "online.ctl"
// entry, so other lines see it while the call goes on.  Each command ends
// with a short pause, so its confirmation can be read before the menu is
// drawn again.  The password change (17) is registration.h's.
#pragma once

#include <string>

namespace kv::caller {

void ChangeLocation();          // 16
void SetScreenLength();         // 18: 10 to 52 lines
void ToggleClearScreen();       // 19
void TogglePageBreak();         // 20
void ToggleColor();             // 21: the colour option and ColorOn
void ToggleFullScreenEditor();  // 41: only while escape sequences are on
void ToggleHotKeys();           // 42
void ToggleDoNotDisturb();      // 53: also this line's status
void ChangeHomePhone();         // 57
void ChangeDataPhone();         // 58

// Shared by 57 and 58: label the text naming the phone, field the record's.
void ChangePhone(int label, std::string& field);

}  // namespace kv::caller
