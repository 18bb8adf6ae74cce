// Prompts and line input: every question kivo asks its caller.
//
// A choice among answer keys, a line of text, a name, a phone number by
// template, the pause at a full screen.  All of them wait through GetKey,
// so every wait runs under the inactivity alarm and the call-time check,
// and they echo through PutChar.  A key that is not allowed rings the bell
// and is read again; nothing is logged.
//
// Colours go by the roles of the configuration's six pairs (ColorRole):
// prompts in kColorPrompt, answer keys in kColorKeys, the rest in
// kColorNormal, and only while the call has ColorOn.
//
// Line input keeps the printable bytes 32-126, and bytes 128 and above
// while the call has AcceptHighChars set (message entry and questionnaires
// set it around their input).  Every input routine takes the most
// characters it may store and never stores more, a start text included, so
// whatever it fills fits the fixed-width field it was sized for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::caller {

constexpr int kKeyEsc = 27;
constexpr int kKeyBackspace = 8;
constexpr int kKeyDelete = 127;
constexpr char kEscAnswer[] = "\x1b";  // what an input holds after ESC

// Byte 7.
void RingBell();
// Backspace, blank, backspace: the last character on screen goes.
void EraseChar();
// The character count times, then a line end when asked.
void RepeatChar(char c, int count, bool lineEnd);

// Writes prompt (none when empty) and the answer keys as " [Y/n] : ", then
// waits for one of keys (given in upper case) and returns it in upper case.
//   withDefault  the first key is the default: shown in upper case in the
//                answer-key colour (bold without colour) and taken on Enter;
//   lineEnd      a line end after the echoed key;
//   colour       colour pairs (and attributes) are used at all;
//   highlight    the prompt goes through PutHotKeyText, its bracketed
//                letters in the title colour.
int ChoicePrompt(std::string_view prompt, bool withDefault, bool lineEnd, bool colour, bool highlight,
                 std::string_view keys);

// Asks prompt and reads an answer of at most max characters into buffer
// (InputName with nameMode, else InputLine with echo).  Unless emptyAllowed,
// a bare Enter rings the bell and asks again; ESC ends the question with
// kEscAnswer in buffer.  Returns the answer's length.
int AskInput(bool emptyAllowed, bool nameMode, std::string_view prompt, std::string& buffer, int max);

// Reads a line into buffer (emptied first), echoed, or as "*" without echo.
// Ends on CR or LF, on ESC (buffer := kEscAnswer), or as soon as max
// characters are in, without waiting for Enter.
void InputLine(bool echo, int max, std::string& buffer);

// Writes prompt in the prompt colour and reads a number of as many digits as
// largest has; 0 for an empty answer or ESC.  The range is the caller's test.
int AskNumber(std::string_view prompt, int largest);

// The line editor's input.  buffer's text (cut to max) is written first and
// editing goes on after it.  A TAB stores 8 blanks while they fit; CR ends
// the line.  When the line reaches max characters it ends: with wrap, the
// last word moves to overflow (after a "." the "." stays; at a blank the
// blank and what follows go) and is erased from the screen; without wrap the
// bell rings.
void InputLineWrap(bool wrap, std::string& overflow, int max, std::string& buffer);

// Reads a name into buffer (its text, cut to max, written first): every
// letter is capitalised by its place (upper case first and after a blank,
// "-", "'" or ",", lower case elsewhere), so "o'brien-smith" is typed as
// "O'Brien-Smith".  Characters beyond max ring the bell; only CR ends it.
void InputName(int max, std::string& buffer);

// Text 58 with prompt, then a phone number into buffer by the template
// (PhoneTemplate, or text 513 when that is empty; at most 20 characters):
// a "9" takes one digit, every other character is written by itself.
// Backspace goes back to the previous digit; Enter is taken only when the
// template is full.  buffer holds the digits with the template's own
// characters between them, never more than the template.
void InputPhone(std::string_view prompt, std::string& buffer);

// Text 59 as a prompt; waits for one key, erases the prompt line and
// returns the key in upper case.
int PausePrompt();

// The screen length of the caller (24 while the record holds none).
int ScreenLength();

// The page pause of a listing.  counter is the lines shown since the last
// pause: 0 while the page has room (below the screen length - 1); else
// PausePrompt's key, and counter starts again at 0.  The listing stops on
// NoKey, turns its pauses off on "=", goes on for any other key.
int CheckPageFull(uint16_t& counter);

// Whether a, compared in upper case, is how b begins, given that b must
// be at least n characters long (n is a's length where a is a prefix to
// look for: "tty1" begins the entry "TTY1,2400").
bool MatchPrefix(std::string_view a, std::string_view b, size_t n);

// Writes text in the textPair colour, the parts inside "[...]" or "(...)"
// (brackets included) in keyPair, or bold without colour.  Pairs outside
// 0-5 are black on black.
void PutHotKeyText(std::string_view text, int keyPair, int textPair);

// The pair kNoColorPair (or a call without colour): attributes off first.
constexpr int kNoColorPair = 65535;
// Writes text in a colour pair, blinking when asked, with a line end when
// asked, and waits seconds (when above 0) after it.
void PutColorText(std::string_view text, bool lineEnd, bool blink, int seconds, int pair);

// A menu's keys, one per line: kHiddenLine marks a line this caller may
// not use, kNoChoice is no line at all.
constexpr uint8_t kHiddenLine = 254;
constexpr int kNoChoice = 255;

// A key in upper case (only a-z change).
int UpperKey(int key);
// The first of the n keys that is key (compared in upper case); -1 if none.
// Text lines (0), blanks and forbidden lines never match.
int FindMenuKey(int key, int n, std::string_view keys);

// Takes one waiting key, if any, and looks for it (in upper case) among the
// first n keys: true with index its position when it is one of them.  A
// blank, 0 and the kHiddenLine mark never match.  A key that matches
// nothing is used up; index is 255 then.  Callers make input non-blocking
// around it, so that it never waits; it asks the line only every few
// milliseconds (PollKey), so output may call it after every byte.  Menus,
// display files and listings all stop on it.
bool HotKeyPressed(int& index, int n, std::string_view keys);
// Reads keys until CR or LF.
void WaitForEnter();

// Menu command 47: logs text with every "`" replaced by the name of the
// caller's message area and every "@" by that of the file area (at most 255
// characters); an empty result logs nothing.
void StampLog(std::string_view text);

}  // namespace kv::caller
