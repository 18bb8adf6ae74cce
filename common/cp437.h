// The board's character set and the terminals that speak UTF-8.
//
// Every file and text of the board holds the 8-bit PC character set (code
// page 437): letters, line drawing and marks above 127, one byte each.  That
// never changes.  A terminal whose locale names UTF-8 cannot show those
// bytes, so the programs translate at the terminal only: a byte above 127
// goes out as the UTF-8 form of its character, and what such a terminal
// types comes back as the PC byte of its character.  Bytes 0-127 are the
// same in both (control bytes and escape sequences pass untouched).
//
// Widths stay what they were: one PC byte is one character and one column,
// whatever it takes on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// The character a byte stands for (bytes 0-127 stand for themselves).
char32_t Cp437ToUnicode(uint8_t byte);

// The byte of a character, or false when the set lacks it.  Characters below
// 128 are their own byte.
bool UnicodeToCp437(char32_t ch, uint8_t& byte);

// The UTF-8 form of a character: into out (1 to 4 bytes, how many is
// returned), or appended.
size_t EncodeUtf8(char32_t ch, char out[4]);
void AppendUtf8(std::string& out, char32_t ch);

// A text of the board as a UTF-8 terminal wants it: bytes above 127 as
// their characters, the rest unchanged.
std::string Cp437ToUtf8(std::string_view text);

// Reads UTF-8 a byte at a time, as keys arrive.  A sequence is handed out
// whole or not at all: a broken one (a stray continuation byte, a lead byte
// followed by something else, an overlong or out-of-range form) is reported
// as such, and a byte that broke a sequence begun before it is not lost: the
// caller feeds it again.
class Utf8Reader {
public:
    enum Result {
        kMore,      // a sequence is under way; feed the next byte
        kChar,      // ch() holds a whole character
        kBroken,    // the bytes so far are no character; they are dropped
        kBrokenBy,  // as kBroken, and this byte is not used: feed it again
    };
    Result Feed(uint8_t byte);
    char32_t ch() const { return ch_; }
    bool Pending() const { return need_ != 0; }
    void Reset() { need_ = 0; }

private:
    char32_t ch_ = 0;
    char32_t min_ = 0;  // the smallest character the sequence may give
    int need_ = 0;      // continuation bytes still to come
};

// One byte typed on a UTF-8 terminal, taken as a key: the PC byte of its
// character once the sequence is whole (0-255), else -1: a sequence under
// way, or one refused.  Each refusal (a broken sequence, a character the set
// lacks) calls refuse once; the programs ring the bell there.  A byte that
// broke the sequence begun before it is a key of its own, so nothing typed
// after a broken byte is lost.
int TakeUtf8Key(Utf8Reader& reader, uint8_t byte, void (*refuse)());

// A whole UTF-8 text in the PC set.  False, with the offset of the first
// character that cannot be had (broken, or lacking in the set), otherwise.
bool Utf8ToCp437(std::string_view text, std::string& out, size_t* badAt = nullptr);

// Whether a locale's settings name UTF-8, read as every terminal program
// reads them: LC_ALL when set and not empty, else LC_CTYPE, else LANG.  A
// null pointer is an unset variable.
bool LocaleNamesUtf8(const char* lcAll, const char* lcCtype, const char* lang);
// The same for this process's own environment.
bool OwnLocaleNamesUtf8();

}  // namespace kv
