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
#include <type_traits>

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

// The formatter counts a text's width, and cuts it at its precision, in
// UTF-8 characters; the board's texts are bytes of the PC set, one column
// each, and its letters above 127 would count as parts of characters (a
// name "%-20.19s" with accents ran past its column).  So every byte above
// 127 of the format and of the texts goes through the formatter as a
// character of its own, one column wide (U+0180 + byte - 128), and comes
// back as the byte afterwards.
std::string WidenPcBytes(std::string_view text);
std::string NarrowPcBytes(std::string_view text);

namespace detail {

template <class T>
auto PcArgument(const T& value) {
    if constexpr (std::is_convertible_v<const T&, std::string_view> && !std::is_pointer_v<std::decay_t<T>>) {
        return WidenPcBytes(std::string_view(value));
    } else if constexpr (std::is_convertible_v<const T&, const char*>) {
        const char* p = value;
        return p == nullptr ? std::string("(null)") : WidenPcBytes(p);
    } else {
        return value;
    }
}

}  // namespace detail

template <class... Args>
std::string FormatChecked(std::string_view text, const Args&... args) {
    if (HasOversizedField(text)) {
        ReportBadFormat(text, "width or precision too large");
        return PlainWords(text);
    }
    try {
        return NarrowPcBytes(fmt::sprintf(WidenPcBytes(text), detail::PcArgument(args)...));
    } catch (const std::exception& e) {
        ReportBadFormat(text, e.what());
        return PlainWords(text);
    }
}

}  // namespace kv
