// The dialog widgets every kvroster screen is built from.  Each returns a
// value and leaves the screen as it found it: a popup puts back what stood
// under it when it goes, so the dialog that opened it stays whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "roster/curses_wide.h"
#include "roster/line_edit.h"

namespace kv::roster {

// A boxed popup window with keypad mode.  When it goes, the screen shows
// again exactly what it showed under the popup when the popup came.
struct Popup {
    Popup(int lines, int cols, int row, int col);
    ~Popup();
    Popup(const Popup&) = delete;
    Popup& operator=(const Popup&) = delete;
    WINDOW* w;

private:
    WINDOW* under_;  // a copy of the screen where the popup stands
};

// Edits buffer in place on one row of window.  True when Enter ended the
// edit (buffer holds the text); false when it was aborted (buffer holds
// the single character Esc).
bool LineEditor(WINDOW* w, int row, int col, attr_t attr, int type, bool escapeAborts, bool firstKeyReplaces,
                int width, std::string& buffer);

// The editor of a number shown as text (reverse video, Esc aborts, the
// first key replaces): true only when Enter ended an edit in which a key
// changed the text.  Enter on the number as shown, cut to the width when it
// is wider, leaves the stored number as it is.  An aborted edit leaves the
// single character Esc in text, as LineEditor does.
bool EditTypedNumber(WINDOW* w, int row, int col, int width, std::string& text);

// A boxed prompt with an editor below it; LineEditor's result.
bool PopupPrompt(int row, int col, const std::string& prompt, attr_t attr, int width, std::string& buffer);

// The question line of a choice popup: "Y/n" for two letters in letter
// mode, else all the letters.
std::string ChoiceBrackets(bool letterMode, const std::string& letters);
// A boxed question; with letters the answer letter (upper case), without
// them the key that was hit.  text may carry '^' bold marks.
int PopupChoice(int row, int col, bool letterMode, const std::string& text, const std::string& letters);
// The acknowledge popup: text and "Hit any key to continue: ".
void PopupAck(int row, int col, const std::string& text);

// A scrolling list; the chosen index or -1 (Esc).  start -1: the first item
// is current and the list is erased at the end.
int PickList(const std::string& title, int start, int row, int col, int width, int visible,
             const std::vector<std::string>& items);

// The defined message areas (kind 0) or file areas (kind 1) as the area
// picker lists them, with each entry's area index.
struct AreaEntry {
    int index = 0;
    std::string text;
};
std::vector<AreaEntry> AreaEntries(int kind);
// The chosen area's index, or a negative number for no choice.
int PickArea(int kind, int row, int col);

// The 8 bits of a flag byte as '1'/'0', mask 1 first.
std::string FlagBitsText(uint8_t byte);
void ShowFlagBits(WINDOW* w, int row, int col, uint8_t byte);
// Edits the bits of flag set `set` (0-3, for the descriptions); 1 stored,
// 0 left as it was.
int EditFlagBits(WINDOW* w, int row, int col, uint8_t& byte, int set);
// Inverts the flag and writes "Yes" or "No ".
void ToggleYesNo(WINDOW* w, int row, int col, uint8_t& flag);
// The form editors: a text (capitalised as a name on request), a number
// clamped to 0..maximum.  True when a new value was stored.
bool EditStringField(WINDOW* w, int row, int col, bool capitalise, int width, std::string& text);
bool EditLongField(WINDOW* w, int row, int col, int width, const char* format, long maximum, long& value);
// Reads a typed number for EditLongField: empty stays unchanged (returned
// as false), else the decimal value clamped to 0..maximum.
bool ParseClamped(const std::string& typed, long maximum, long& value);

// The main menu's Esc: -2 to leave, 0 to stay.
int ConfirmQuit();

}  // namespace kv::roster
