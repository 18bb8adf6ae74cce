#include "caller/areas/screen_codes.h"

#include <algorithm>
#include <cstdlib>

#include "caller/term/call_state.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/user_record.h"

namespace kv::caller {
namespace {

constexpr int kMostCodes = 15;  // the record's field
constexpr size_t kCodeDigits = 3;

// The number a piece reads as, sign and leading digits, the rest ignored;
// a number past the range of long reads as its end.
long DecimalValue(const std::string& piece) { return std::strtol(piece.c_str(), nullptr, 10); }

}  // namespace

ClearCodesResult ParseClearCodes(const std::string& answer, int count) {
    ClearCodesResult r;
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        size_t semi = answer.find(';', start);
        pieces.push_back(answer.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    std::vector<uint8_t> codes;
    for (int i = 0; i < count; ++i) {
        if (size_t(i) >= pieces.size()) {
            r.Text = 443;
            return r;
        }
        const std::string& p = pieces[size_t(i)];
        // Digits only: an empty piece or a word is no code, not a 0.
        bool digits = !p.empty() && p.size() <= kCodeDigits &&
                      std::all_of(p.begin(), p.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
        int value = digits ? std::stoi(p) : -1;
        if (value < 0 || value > 255) {
            r.Text = 444;
            r.Bad = DecimalValue(p);
            return r;
        }
        codes.push_back(uint8_t(value));
    }
    r.Codes = codes;
    return r;
}

void SetClearScreenCodes() {
    SetColorPair(kColorHighlight);
    for (int n = 432; n <= 438; ++n) PutLine(GetText(n));
    SetColorPair(kColorPrompt);
    PutString(GetText(439));
    GetKey();
    ResetAttributes();
    PutChar('\r');

    std::string typed;
    AskInput(true, false, GetText(440), typed, 3);
    PutLine();
    if (typed.empty() || typed == kEscAnswer) return;
    int count = std::all_of(typed.begin(), typed.end(), [](char ch) { return ch >= '0' && ch <= '9'; })
                    ? std::stoi(typed)
                    : 0;
    if (count < 1 || count > kMostCodes) return;

    PutLine(count > 1 ? FormatText(441, count) : GetText(442));
    AskInput(true, false, "    > ", typed, count * 4);
    PutLine();
    if (typed.empty() || typed == kEscAnswer) return;
    ClearCodesResult r = ParseClearCodes(typed, count);
    if (r.Codes.empty()) {
        PutLine(r.Text == 444 ? FormatText(444, r.Bad) : GetText(r.Text));
        RingBell();
    } else {
        UserRecord& u = Call().User;
        u.ClearScreenCodes.fill(0);
        std::copy(r.Codes.begin(), r.Codes.end(), u.ClearScreenCodes.begin());
        u.ClearScreenLength = uint8_t(r.Codes.size());
        PutLine(GetText(445));
    }
    PauseWithSignals(2);
}

void ToggleAnsi() {
    CallState& c = Call();
    UserRecord& u = c.User;
    if (u.Options2 & USER_NO_ESCAPES) {
        u.Options2 &= uint8_t(~USER_NO_ESCAPES);
        c.AnsiOn = true;
        PutColorText(GetText(446), true, false, 0, kColorWarning);
    } else {
        // Attributes off while they can still be sent.
        ResetAttributes();
        u.Options2 |= USER_NO_ESCAPES;
        c.AnsiOn = false;
        PutLine(GetText(447));
        // The full-screen editor needs escape sequences.
        u.Options &= uint8_t(~USER_FULL_EDITOR);
    }
    PauseWithSignals(2);
}

}  // namespace kv::caller
