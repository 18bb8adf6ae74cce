// For callers whose terminals do not understand ANSI escape sequences:
// their own clear-screen bytes (menu command 60), which EraseScreen sends
// while escape sequences are off, and the switch of escape sequences
// themselves (menu command 59).  Both change the caller's record in
// memory; log-off writes it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::caller {

void SetClearScreenCodes();  // 60
void ToggleAnsi();           // 59

// The codes of an answer such as "27;91;50": the first count pieces
// between ";", each a decimal number 0-255 of at most three digits.
// Pieces after the count are not looked at.  On failure the result is
// empty and text is the number of the text that says why (443 too few
// pieces, 444 a piece that is no code) with bad the piece's decimal value
// (what its leading digits read, 0 for none).
struct ClearCodesResult {
    std::vector<uint8_t> Codes;
    int Text = 0;
    long Bad = 0;
};
ClearCodesResult ParseClearCodes(const std::string& answer, int count);

}  // namespace kv::caller
