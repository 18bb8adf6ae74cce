#include "common/msg_records.h"

#include <algorithm>

#include "common/strings.h"

namespace kv {
namespace {

constexpr std::string_view kPidPrefix = "\x01PID: ";

// POSIX-locale white space, as a line's trailing blanks are meant.
bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimTrailingWhite(std::string_view s) {
    while (!s.empty() && IsWhite(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

MsgText TextFromBuffer(std::string_view pid, std::string_view buffer) {
    MsgText t;
    t.Pid = pid;
    size_t start = 0;
    for (size_t i = 0; i <= buffer.size(); ++i) {
        bool atEnd = i == buffer.size() || buffer[i] == kTextEndByte;
        if (!atEnd && buffer[i] != '\n') continue;
        std::string_view line = TrimTrailingWhite(buffer.substr(start, i - start));
        // A last line that lacks its line feed is still the caller's text.
        if (!atEnd || !line.empty()) t.Lines.emplace_back(line);
        if (atEnd) break;
        start = i + 1;
    }
    return t;
}

void BlankHeaderControlBytes(MsgHeader& h) {
    for (std::string* text : {&h.FromName, &h.ToName, &h.Subject, &h.DateText, &h.TimeText}) BlankControlBytes(*text);
}

std::string EncodeMsgText(const MsgText& text) {
    std::string out;
    out.append(kPidPrefix);
    out.append(text.Pid);
    out += '\n';
    for (const auto& line : text.Lines) {
        // An end byte inside a stored line would end the text for a reader
        // that meets it at a line start (a mail body line beginning with
        // one): it becomes a blank.
        size_t from = out.size();
        out.append(line);
        std::replace(out.begin() + std::ptrdiff_t(from), out.end(), char(kTextEndByte), ' ');
        out += '\n';
    }
    out += kTextEndByte;
    return out;
}

size_t DecodeMsgText(std::string_view bytes, MsgText& out) {
    out = MsgText{};
    size_t at = 0;
    bool first = true;
    while (at < bytes.size()) {
        if (bytes[at] == kTextEndByte) return at + 1;
        size_t nl = bytes.find('\n', at);
        if (nl == std::string_view::npos) break;  // a line with no end: the text was cut short
        std::string_view line = bytes.substr(at, nl - at);
        if (first && line.substr(0, kPidPrefix.size()) == kPidPrefix) {
            out.Pid = line.substr(kPidPrefix.size());
        } else {
            out.Lines.emplace_back(line);
        }
        first = false;
        at = nl + 1;
    }
    return 0;
}

}  // namespace kv
