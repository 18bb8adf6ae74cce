#include "server/mail_parse.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <new>

#include "common/dates.h"

namespace kv::server {
namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char*, 7> kWeekdays = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr std::string_view kMmdfDelimiter = "\x01\x01\x01\x01";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view TrimEnd(std::string_view s) {
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Bounded(std::string_view s, size_t width) { return std::string(s.substr(0, width)); }

// Words separated by runs of blanks: mail systems pad a one-digit day with
// a second blank ("Mar  9").
std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && IsBlank(s[i])) ++i;
        size_t start = i;
        while (i < s.size() && !IsBlank(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

template <size_t N>
bool OneOf(std::string_view word, const std::array<const char*, N>& names) {
    for (const char* n : names)
        if (word == n) return true;
    return false;
}

// The decimal number at pos as atoi reads it (leading blanks, a sign).
int NumberAt(std::string_view s, size_t pos) {
    if (pos >= s.size()) return 0;
    std::string copy(s.substr(pos, 16));
    return std::atoi(copy.c_str());
}

// Position after the next blank at or after pos and the blanks after it;
// npos when there is no blank.
size_t NextWord(std::string_view s, size_t pos) {
    while (pos < s.size() && !IsBlank(s[pos])) ++pos;
    if (pos >= s.size()) return std::string_view::npos;
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    return pos;
}

std::string_view CutAt(std::string_view s, char c) {
    size_t at = s.find(c);
    return at == std::string_view::npos ? s : s.substr(0, at);
}

// The text between open (at pos) and the last close after it, or the rest
// of the value when it is never closed.
std::string_view Enclosed(std::string_view s, size_t pos, char close) {
    size_t end = s.rfind(close);
    if (end == std::string_view::npos || end < pos) return s.substr(pos + 1);
    return s.substr(pos + 1, end - pos - 1);
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

}  // namespace

bool MailboxReader::ReadLine(std::string& line) {
    line.clear();
    lineStart_ = offset_;
    int c;
    bool any = false;
    while ((c = getc_unlocked(f_)) != EOF) {
        any = true;
        ++offset_;
        if (c == '\n') break;
        line.push_back(char(c));
        if (line.size() >= kMaxLine) break;
    }
    if (!line.empty() && line.back() == '\r' && c == '\n') line.pop_back();
    return any;
}

bool BeginsMailbox(std::string_view line, MailboxFormat format) {
    return format == MailboxFormat::kMmdf ? StartsWith(line, kMmdfDelimiter) : StartsWith(line, "From ");
}

bool IsForwardLine(std::string_view line) { return StartsWith(line, "Forward to "); }

bool IsMailStart(std::string_view line, MailboxFormat format) {
    if (format == MailboxFormat::kMmdf) return StartsWith(line, kMmdfDelimiter);
    if (!StartsWith(line, "From ")) return false;
    std::string lower = Lower(line);
    std::vector<std::string_view> w = Words(lower);
    // from sender weekday month day time [zone] [year]
    if (w.size() < 6 || w.size() > 8) return false;
    std::string_view time = w[5];
    if (time.size() <= 3 || (time[1] != ':' && time[2] != ':')) return false;
    if (!OneOf(w[2], kWeekdays) || !OneOf(w[3], kMonths)) return false;
    if (w.size() >= 7 && !AllDigits(w.back())) return false;
    return true;
}

MailDate ParseMailDate(std::string_view value, int dateOrder) {
    std::string v = Lower(value);
    std::string_view s = v;
    size_t pos = s.find(',');
    pos = pos == std::string_view::npos ? 0 : pos + 1;
    while (pos < s.size() && IsBlank(s[pos])) ++pos;

    int day = NumberAt(s, pos), month = 0, year = 0;
    std::string time = "00:00:00";
    pos = NextWord(s, pos);
    if (pos != std::string_view::npos) {
        for (size_t i = 0; i < kMonths.size(); ++i) {
            if (s.compare(pos, 3, kMonths[i]) == 0) {
                month = int(i) + 1;
                break;
            }
        }
        pos = NextWord(s, pos);
    }
    if (pos != std::string_view::npos) {
        year = NumberAt(s, pos);
        if (year > 1900) year -= 1900;
        pos = NextWord(s, pos);
    }
    if (pos != std::string_view::npos) {
        size_t end = pos;
        while (end < s.size() && !IsBlank(s[end])) ++end;
        std::string_view word = s.substr(pos, end - pos);
        if (word.size() == 8) time = std::string(word);
        else if (word.size() == 5) time = std::string(word) + ":00";
    }
    // A day that no calendar has would widen the date text past its field.
    if (day < 0 || day > 31) day = 0;

    std::tm t{};
    t.tm_mday = day;
    t.tm_mon = month - 1;
    t.tm_year = year;
    return {FormatDate(t, dateOrder), time};
}

std::string ShortenAddress(std::string_view address) {
    if (address.find('!') == std::string_view::npos) return "ADDRESS TOO LONG";
    while (address.size() > 61) {
        size_t bang = address.find('!');
        if (bang == std::string_view::npos) break;
        address.remove_prefix(bang + 1);
    }
    return std::string(address);
}

std::string FormatSender(std::string_view value) {
    std::string_view v = Trim(value);
    std::string_view address, name;
    if (size_t lt = v.find('<'); lt != std::string_view::npos) {
        address = Enclosed(v, lt, '>');
        name = TrimEnd(CutAt(v.substr(0, lt), '/'));
        if (name.size() + address.size() >= 61) name = {};
    } else if (size_t lp = v.find('('); lp != std::string_view::npos) {
        name = Trim(CutAt(Enclosed(v, lp, ')'), '/'));
        if (name.size() > kSenderWidth) name = {};
        address = v.substr(0, lp);  // the blank before the parenthesis stays
        if (address.size() + name.size() > kSenderWidth) name = {};
    } else {
        address = v;
    }
    std::string out = address.size() > kSenderWidth ? ShortenAddress(address) : std::string(address);
    if (!name.empty() && out.size() + name.size() + 3 <= kSenderWidth) {
        out += " (";
        out += name;
        out += ")";
    }
    // A hop list that stays too long still has to fit the field.
    return Bounded(out, kSenderWidth);
}

std::string SenderFromEnvelope(std::string_view envelope) {
    std::vector<std::string_view> w = Words(envelope);
    if (w.empty()) return {};
    for (size_t i = 1; i + 2 < w.size(); ++i) {
        if (w[i] == "remote" && w[i + 1] == "from") {
            std::string out(w[i + 2]);
            out += '!';
            out += w[0];
            return Bounded(out, kSenderWidth);
        }
    }
    return Bounded(w[0], kSenderWidth);
}

std::optional<std::string> RecipientAlias(std::string_view value, std::string_view nodeName) {
    std::string_view address;
    if (size_t lp = value.find('('); lp != std::string_view::npos) {
        address = value.substr(0, lp);
    } else if (size_t lt = value.find('<'); lt != std::string_view::npos) {
        address = Enclosed(value, lt, '>');
    } else if (value.find(',') != std::string_view::npos) {
        // A list: the first member addressed to this machine.
        bool found = false;
        size_t pos = 0;
        while (!found && pos <= value.size()) {
            size_t end = value.find_first_of(",\t\r\n", pos);
            if (end == std::string_view::npos) end = value.size();
            std::string_view part = value.substr(pos, end - pos);
            if (!nodeName.empty() && part.find(nodeName) != std::string_view::npos) {
                address = part;
                found = true;
            }
            pos = end + 1;
        }
        if (!found) return std::nullopt;
    } else {
        address = value;
    }
    address = CutAt(Trim(address), '@');
    if (size_t bang = address.rfind('!'); bang != std::string_view::npos) address.remove_prefix(bang + 1);
    return std::string(CutAt(address, '%'));
}

int ParseMailHeader(MailboxReader& in, MailHeader& h, const RecipientLookup& findRecipient, int dateOrder) {
    h = MailHeader{};
    std::string line, envelope;
    bool ended = false;
    bool recipientContinues = false;  // continuation lines of a "To:"/"Cc:" that found nobody yet

    auto tryRecipient = [&](std::string_view value) {
        h.Addressed = Bounded(Trim(value), kSenderWidth);
        std::string name = findRecipient(value);
        if (!name.empty()) h.ToName = Bounded(name, kSenderWidth);
    };

    while (in.ReadLine(line)) {
        std::string_view l = line;
        // The header ends at a line too short to be a header line: the empty
        // line, or one that holds a single blank.
        if (l.size() < 2) {
            ended = true;
            break;
        }
        if (IsBlank(l.front())) {
            if (recipientContinues && h.ToName.empty()) tryRecipient(l);
            continue;
        }
        recipientContinues = false;
        if (StartsWith(l, ">From ")) {
            envelope = l.substr(6);
        } else if (StartsWith(l, "From:")) {
            if (h.FromName.empty()) h.FromName = FormatSender(l.substr(5));
        } else if (StartsWith(l, "Reply-To:")) {
            h.FromName = FormatSender(l.substr(9));
        } else if (StartsWith(l, "Subject:")) {
            h.Subject = Bounded(Trim(l.substr(8)), kSubjectWidth);
        } else if (StartsWith(l, "To:") || StartsWith(l, "Cc:")) {
            tryRecipient(l.substr(3));
            recipientContinues = h.ToName.empty();
        } else if (StartsWith(l, "Date:")) {
            MailDate d = ParseMailDate(l.substr(5), dateOrder);
            h.DateText = d.date;
            h.TimeText = d.time;
        }
    }
    if (h.FromName.empty() && !envelope.empty()) h.FromName = SenderFromEnvelope(envelope);
    if (h.FromName.empty()) h.FromName = "UNKNOWN";
    if (!ended) return kHeaderEndOfFile;
    return h.ToName.empty() ? kHeaderNoRecipient : kHeaderComplete;
}

void WrapBodyLine(std::string_view line, std::vector<std::string>& pieces) {
    if (line.empty()) {
        pieces.emplace_back();
        return;
    }
    size_t p = 0;
    while (p < line.size()) {
        size_t cut;
        if (line.size() - p < kPieceWidth) {
            cut = line.size();
        } else if (p + kPieceWidth < line.size() && IsBlank(line[p + kPieceWidth])) {
            cut = p + kPieceWidth;
        } else {
            // Back to the last white space after p; none: a hard cut.
            cut = p + kPieceWidth;
            size_t back = cut - 1;
            while (back > p && !IsBlank(line[back])) --back;
            if (back > p) cut = back;
        }
        pieces.emplace_back(line.substr(p, cut - p));
        p = cut;
    }
}

bool GetBody(MailboxReader& in, MailboxFormat format, std::vector<std::string>& pieces) {
    std::string line;
    bool complete = true;
    while (in.ReadLine(line)) {
        if (IsMailStart(line, format)) break;
        if (!complete) continue;
        try {
            WrapBodyLine(TrimEnd(line), pieces);
        } catch (const std::bad_alloc&) {
            complete = false;
        }
    }
    return complete;
}

}  // namespace kv::server
