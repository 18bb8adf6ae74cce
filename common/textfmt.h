// The one formatter of texts that come from outside the program: numbered
// message texts written by the sysop, templates from the configuration.
//
// Such a text may carry a wrong, missing or extra "%" code.  printf would
// read garbage or crash; here a bad text is logged once and shown as its
// plain words, with the codes left out.
#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>

namespace kv {

// The text with its "%" codes taken out ("%%" stays a single "%").
std::string PlainWords(std::string_view text);

// Logs, once per text, that it could not be formatted.
void ReportBadFormat(std::string_view text, const char* why);

// The widest field or precision a "%" code may ask for.  A larger one would
// make the formatter build a text of any size the sysop's file names.
inline constexpr long kMaxFieldWidth = 255;

// Whether some "%" code of the text asks for a width or a precision above
// kMaxFieldWidth.
bool HasOversizedField(std::string_view text);

template <class... Args>
std::string FormatChecked(std::string_view text, const Args&... args) {
    if (HasOversizedField(text)) {
        ReportBadFormat(text, "width or precision too large");
        return PlainWords(text);
    }
    try {
        return fmt::sprintf(text, args...);
    } catch (const std::exception& e) {
        ReportBadFormat(text, e.what());
        return PlainWords(text);
    }
}

}  // namespace kv
