// Stand-ins for the menu commands of pieces still to come; see command_stubs.h.
#include "caller/core/command_stubs.h"

namespace kv::caller {

void ChangeLocation() {}
void SetScreenLength() {}
void ToggleClearScreen() {}
void TogglePageBreak() {}
void ToggleColor() {}
void ToggleFullScreenEditor() {}
void ToggleHotKeys() {}
void ToggleDoNotDisturb() {}
void ChangeHomePhone() {}
void ChangeDataPhone() {}
void ToggleAnsi() {}
void SetClearScreenCodes() {}

}  // namespace kv::caller
