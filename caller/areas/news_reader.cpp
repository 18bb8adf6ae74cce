#include "caller/areas/news_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fmt/format.h>
#include <fstream>

#include "caller/areas/file_areas.h"
#include "caller/areas/news_groups.h"
#include "caller/areas/reader.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/textfmt.h"

namespace kv::caller {
namespace {

constexpr int kRuleWidth = 79;
constexpr size_t kSummaryLineMax = 500;  // header lines read for the article list
constexpr size_t kHeaderLineMax = 511;   // header lines shown
constexpr size_t kSubjectMax = 45;
constexpr size_t kAuthorMax = 15;
constexpr int kWrapColumn = 80;
constexpr int kPieceMax = 79;
constexpr uint8_t kMarkByte = 251;  // a marked article
constexpr uint8_t kNewByte = 254;   // an article not read yet

bool IsEnter(int k) { return k == '\r' || k == '\n'; }
bool IsErase(int k) { return k == kKeyBackspace || k == kKeyDelete; }

std::string Trimmed(std::string_view s) {
    std::string t(SkipBlanks(s));
    return TrimRight(t);
}

// The text after a header's name and the one blank that follows it.
std::string_view HeaderValue(std::string_view line, size_t nameLength) {
    std::string_view v = line.substr(std::min(nameLength, line.size()));
    if (!v.empty() && v[0] == ' ') v.remove_prefix(1);
    return v;
}

// A path with a ".." part, which could lead out of the directory below
// which it is taken.
bool ClimbsOut(std::string_view path) {
    for (size_t at = 0; at <= path.size();) {
        size_t slash = std::min(path.find('/', at), path.size());
        if (path.substr(at, slash - at) == "..") return true;
        at = slash + 1;
    }
    return false;
}

uint32_t ArticleNumber(const std::string& name) { return uint32_t(std::strtoul(name.c_str(), nullptr, 10)); }

uint32_t NewArticles(const NewsGroupRecord& g, const NewsSubscription& s) {
    if (s.LastRead == 0) return g.Count;
    return g.Highest > s.LastRead ? g.Highest - s.LastRead : 0;
}

// A line of a file, whatever its length; false at the end.
bool NextLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// --- reading articles ------------------------------------------------------------

// Reading modes of the article display.
enum ReadMode { kPaged = 0, kNonStop = 1, kContinuous = 2, kContinuousNonStop = 3, kContinuousRest = 4 };

// The display of the marked articles: the mode and the line count run on
// from article to article.
class ArticleView {
public:
    explicit ArticleView(int mode) : mode_(mode) {}
    bool stopped() const { return stopped_; }
    bool continuous() const { return mode_ >= kContinuous; }
    void NextArticle() {
        if (continuous()) mode_ = kContinuous;
    }

    void Header(std::istream& in) {
        if (mode_ == kContinuous && (Call().User.Options & USER_CLEAR_SCREEN)) {
            EraseScreen();
            lines_ = 0;
        } else {
            LineEnd();
        }
        std::string raw;
        while (!stopped_ && NextLine(in, raw)) {
            if (raw.size() > kHeaderLineMax) raw.resize(kHeaderLineMax);
            std::string line = CleanArticleText(raw);
            TrimRight(line);
            if (line.empty()) break;
            int rule = HeaderRuleIndex(line);
            if (rule >= 0) HeaderLine(line, Config().NewsHeaders[size_t(rule)].HeaderColor);
            PollKeys();
        }
        if (!stopped_) LineEnd();
    }

    void Body(std::istream& in) {
        SetNonBlocking(true);
        std::string raw;
        while (!stopped_ && NextLine(in, raw)) {
            std::string line = CleanArticleText(raw);
            TrimRight(line);
            BodyLine(line);
            PollKeys();
        }
        SetNonBlocking(false);
    }

private:
    bool Pausing() const { return mode_ == kPaged || mode_ == kContinuous; }

    // A line end and, in the modes that pause, the pause at a full page.
    void LineEnd() {
        PutLine();
        ++lines_;
        if (!Pausing()) return;
        SetNonBlocking(false);
        int key = CheckPageFull(lines_);
        SetNonBlocking(true);
        if (key == 0) return;
        if (key == Call().NoKey) {
            if (mode_ == kContinuous)
                mode_ = kContinuousRest;
            else
                stopped_ = true;
        } else if (key == '=') {
            mode_ = mode_ == kContinuous ? kContinuousNonStop : kNonStop;
        }
    }

    void Colour(uint8_t colour) { SetColor(int16_t(colour & 0x0f), int16_t(colour >> 4)); }

    void HeaderLine(const std::string& line, uint8_t colour) {
        size_t colon = line.find(':');
        int indent = colon == std::string::npos ? 0 : int(std::min<size_t>(colon + 2, kRuleWidth - 1));
        Colour(colour);
        int column = 0;
        for (char c : line) {
            PutChar(uint8_t(c));
            if (++column < kRuleWidth) continue;
            ResetAttributes();
            LineEnd();
            if (stopped_) return;
            Colour(colour);
            RepeatChar(' ', indent, false);
            column = indent;
        }
        ResetAttributes();
        if (column > 0 && column < kRuleWidth) LineEnd();
    }

    void BodyLine(std::string_view line) {
        uint8_t colour = Config().ArticleColor;
        Colour(colour);
        int column = 0;
        while (!line.empty() && !stopped_) {
            std::string_view piece = CopyNextWord(line, kPieceMax);
            if (piece.empty()) break;
            line.remove_prefix(piece.size());
            if (column + int(piece.size()) >= kWrapColumn) {
                ResetAttributes();
                LineEnd();
                if (stopped_) break;
                Colour(colour);
                piece = SkipBlanks(piece);
                column = 0;
            }
            PutString(piece);
            column += int(piece.size());
        }
        ResetAttributes();
        if (!stopped_) LineEnd();
    }

    // The stop and pause keys of a listing while the article runs.
    void PollKeys() {
        int index = 255;
        if (!HotKeyPressed(index, 2, GetText(200))) return;
        if (index == 0) {
            stopped_ = true;
            return;
        }
        SetNonBlocking(false);
        GetKey();
        SetNonBlocking(true);
    }

    int mode_;
    uint16_t lines_ = 0;
    bool stopped_ = false;
};

// Reads the marked articles in list order; 'Q' when the caller left the
// reading with it, else 0.
int ReadMarkedArticles(const std::string& dir, const std::vector<std::string>& names,
                       const std::vector<uint8_t>& marks, NewsSubscription& subscription) {
    int mode = AskContinuous() ? kContinuous : (Call().User.Options & USER_PAGE_BREAK) ? kPaged : kNonStop;
    ArticleView view(mode);
    SetNonBlocking(true);
    int result = 0;
    for (size_t a = 0; a < names.size() && a < marks.size(); ++a) {
        if (!marks[a]) continue;
        std::ifstream in(dir + "/" + names[a], std::ios::binary);
        if (!in) continue;
        view.Header(in);
        if (!view.stopped()) view.Body(in);
        subscription.LastRead = std::max(subscription.LastRead, ArticleNumber(names[a]));
        if (view.stopped()) break;
        if (view.continuous()) {
            view.NextArticle();
            SetNonBlocking(false);
            PutLine();
            PutColorText("Menu lecture!!!", false, false, 0, kColorPrompt);
            int key = GetKey();
            PutLine();
            SetNonBlocking(true);
            if (key == 'Q') {
                result = 'Q';
                break;
            }
        }
    }
    SetNonBlocking(false);
    return result;
}

// --- the article list ------------------------------------------------------------

struct ArticleListState {
    const NewsGroupRecord& group;
    NewsSubscription& subscription;
    std::string dir;
    std::vector<std::string> names;
    std::vector<uint8_t> marks;  // selection mode only
    int page = 1;
    int top = 0;
};

void PutField(std::string_view text, int role) {
    SetColorPair(role);
    PutString(text);
}

// The article rows from top; the number of rows shown.
int ShowArticlePage(ArticleListState& s) {
    bool colour = Call().ColorOn;
    int rows = 0;
    for (int a = s.top; a < int(s.names.size()) && rows < s.page; ++a, ++rows) {
        std::ifstream in(s.dir + "/" + s.names[size_t(a)], std::ios::binary);
        if (!in) break;
        std::vector<std::string> header;
        std::string line;
        while (header.size() < 4 * 64 && NextLine(in, line) && !line.empty()) {
            if (line.size() > kSummaryLineMax) line.resize(kSummaryLineMax);
            header.push_back(line);
        }
        ArticleSummary sum = SummarizeArticle(header);
        bool marked = size_t(a) < s.marks.size() && s.marks[size_t(a)];
        bool unread = ArticleNumber(s.names[size_t(a)]) > s.subscription.LastRead;

        PutField(std::string(1, char('a' + rows)), kColorTitle);
        SetColorPair(kColorWarning);
        if (!colour) SetBold();
        PutChar(marked ? kMarkByte : ' ');
        PutChar(unread ? kNewByte : ' ');
        ResetAttributes();
        PutField(FormatChecked("%-15.15s ", sum.author.empty() ? "Uncknown" : sum.author), kColorNormal);
        PutField(fmt::format("{:.8} ", sum.date.empty() ? "00/00/00" : sum.date), kColorKeys);
        PutField(FormatChecked("%-4.4s ", sum.lines.empty() ? " ? " : sum.lines), kColorPrompt);
        PutField(fmt::format("{:.45}", sum.subject.empty() ? "No subject" : sum.subject), kColorHighlight);
        ResetAttributes();
        PutLine();
    }
    return rows;
}

void ArticleListTitle(const ArticleListState& s, int mode) {
    ClearScreenIfWanted();
    SetColor(15, 0);
    PutString(" KIVO v0.3 - USENET ");
    if (mode == 1)
        PutString(fmt::format("Articles selection ({}/{})", NewArticles(s.group, s.subscription), s.group.Count));
    else
        PutString("Articles summary listing");
    PutLine();
    RepeatChar('-', kRuleWidth, true);
    ResetAttributes();
}

void ArticleGroupLine(const NewsGroupRecord& group) {
    std::string name = GroupDisplayName(group);
    PutChar('-');
    SetColor(15, 0);
    PutString(" " + name + " ");
    ResetAttributes();
    RepeatChar('-', std::max(76 - int(name.size()), 0), true);
}

// The letters of the rows the caller marks, "a" to last; the key that
// ended the input (a blank reads the marks at once), 0 for Enter.
int SelectLetters(char first, char last, std::string& chosen) {
    const size_t rows = size_t(last - 'a' + 1);
    chosen.assign(1, first);
    PutChar(uint8_t(first));
    for (;;) {
        int k = GetKey();
        if (k == '+') {
            PutChar('+');
            return GetKey();
        }
        if (IsEnter(k)) return 0;
        if (k == ' ') return ' ';
        if (IsErase(k)) {
            chosen.pop_back();
            EraseChar();
            if (chosen.empty()) return 0;
            continue;
        }
        bool letter = k >= 'a' && k <= last;
        if (letter && chosen.size() >= rows) {
            RingBell();
            continue;
        }
        if (k == '-') {
            PutChar('-');
            int to = GetKey();
            char prev = chosen.back();
            EraseChar();
            if (to <= prev || to > last) {
                RingBell();
                continue;
            }
            for (char c = char(prev + 1); c <= char(to); ++c)
                if (chosen.find(c) == std::string::npos) {
                    chosen += c;
                    PutChar(uint8_t(c));
                }
            continue;
        }
        if (letter && chosen.find(char(k)) == std::string::npos) {
            chosen += char(k);
            PutChar(uint8_t(k));
            continue;
        }
        RingBell();
    }
}

// --- the group loop ----------------------------------------------------------------

struct GroupRow {
    NewsGroupRecord group;
    NewsSubscription subscription;
    uint32_t fresh = 0;  // articles not read yet
};

// Subscription i and its group, shown as a row; false (after telling the
// caller) when either cannot be read.
bool ShowGroupRow(NewsFile& master, NewsFile& info, int i, GroupRow& row) {
    const char* what = nullptr;
    uint32_t at = uint32_t(i);
    int error = 0;
    if (!info.Read(SubscriptionOffset(i), row.subscription)) {
        what = "Le read body a foke";
        error = info.error();
    } else if (at = row.subscription.Group, !master.Read(GroupOffset(at), row.group)) {
        what = "Le read master a foke";
        error = master.error();
    }
    if (what) {
        PutLine(fmt::format("Le Read failed... errno = {}, MasterPos = {} :", error, at));
        GetKey();
        PutLine(what);
        GetKey();
        return false;
    }
    if (!GroupVisible(row.group)) row.group = NewsGroupRecord{};
    row.fresh = NewArticles(row.group, row.subscription);
    std::string text = FormatChecked("%-6d%-50.50s", i + 1, GroupDisplayName(row.group));
    if (row.group.Count != 0) text += fmt::format("{:<6} {:<6} {:<6}", row.group.Count, row.group.Highest, row.fresh);
    PutLine(text);
    return true;
}

void GroupPrompt(uint32_t fresh) {
    PutColorText("This group contain ", false, false, 0, kColorPrompt);
    PutColorText(std::to_string(fresh), false, false, 0, kColorKeys);
    PutColorText(" message(s), read now [Y/n/:/?] : ", false, false, 0, kColorPrompt);
    SetColorPair(kColorNormal);
}

// The answer to the group question: the key, and in number the digits
// typed before it (0 for none).  A number ended by Enter is "G".
int GroupAnswer(int& number) {
    static constexpr std::string_view kAllowed = "GQYyn\r\n=\\ ";
    std::string digits;
    for (;;) {
        int k = GetKey();
        bool digit = k >= '0' && k <= '9' && (k != '0' || !digits.empty());
        if (digit && digits.size() < 3) {
            digits += char(k);
            PutChar(uint8_t(k));
            continue;
        }
        if (IsErase(k)) {
            if (digits.empty()) {
                RingBell();
            } else {
                digits.pop_back();
                EraseChar();
            }
            continue;
        }
        if (k > 0 && kAllowed.find(char(k)) != std::string_view::npos) {
            number = digits.empty() ? 0 : std::atoi(digits.c_str());
            if (number > 0 && IsEnter(k)) k = 'G';
            if (k >= ' ') PutChar(uint8_t(k));
            return k;
        }
        RingBell();
        for (size_t n = 0; n < digits.size(); ++n) EraseChar();
        digits.clear();
    }
}

void WriteSubscriptionIfRead(NewsFile& info, int i, const NewsSubscription& before, const NewsSubscription& now) {
    if (now.LastRead == before.LastRead) return;
    if (!info.Write(SubscriptionOffset(i), now))
        WriteLog("ERROR: Cannot write news subscription %d (errno %d)", i, info.error());
}

}  // namespace

std::string ShortenAuthor(std::string_view from) {
    std::string text = Trimmed(from);
    std::string name;
    if (size_t open = text.find('('); open != std::string::npos) {
        name = text.substr(open + 1);
        if (size_t close = name.rfind(')'); close != std::string::npos) name.resize(close);
    } else if (size_t angle = text.find('<'); angle != std::string::npos) {
        name = Trimmed(std::string_view(text).substr(0, angle));
    } else {
        name = text.substr(0, kAuthorMax);
    }
    if (size_t q1 = name.find('"'); q1 != std::string::npos) {
        size_t q2 = name.find('"', q1 + 1);
        std::string outside = Trimmed(name.substr(0, q1)) + (q2 == std::string::npos ? "" : name.substr(q2 + 1));
        // "Jane Doe" <jane@example.org>: the name is all inside the quotes.
        if (Trimmed(outside).empty() && q2 != std::string::npos)
            outside = name.substr(q1 + 1, q2 - q1 - 1);
        name = Trimmed(outside);
    }
    size_t blank = name.find(' ');
    if (name.size() > kAuthorMax && blank != std::string::npos) {
        size_t dash = name.find('-');
        std::string rest = name.substr(blank + 1);
        if (dash != std::string::npos && dash + 1 < name.size())
            return fmt::format("{}. {}. {}", name[0], name[dash + 1], rest);
        return fmt::format("{}. {}", name[0], rest);
    }
    return name.substr(0, kAuthorMax);
}

ArticleSummary SummarizeArticle(const std::vector<std::string>& headerLines) {
    ArticleSummary s;
    bool date = false, from = false, lines = false, subject = false;
    for (const std::string& raw : headerLines) {
        if (date && from && lines && subject) break;
        std::string line = CleanArticleText(raw);
        std::string_view v(line);
        if (!date && v.starts_with("Date:")) {
            date = true;
            std::string_view d;
            if (size_t comma = v.find(','); comma != std::string_view::npos)
                d = v.substr(std::min(comma + 2, v.size())).substr(0, 11);
            else
                d = HeaderValue(v, 5).substr(0, 9);
            s.date = ConvertTextDate(d);
        } else if (!from && v.starts_with("From:")) {
            from = true;
            s.author = ShortenAuthor(HeaderValue(v, 5));
        } else if (!lines && v.starts_with("Lines:")) {
            lines = true;
            s.lines = Trimmed(HeaderValue(v, 6));
        } else if (!subject && v.starts_with("Subject:")) {
            subject = true;
            s.subject = Trimmed(HeaderValue(v, 8).substr(0, kSubjectMax));
        }
    }
    return s;
}

int HeaderRuleIndex(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return -1;
    std::string_view name = line.substr(0, colon);
    const auto& rules = Config().NewsHeaders;
    // The table is sorted by name: the middle rule splits it in two.
    constexpr int kMiddle = kNewsHeaderCount / 2;
    int c = name.compare(rules[kMiddle].HeaderName);
    int from = c == 0 ? kMiddle : c < 0 ? 0 : kMiddle + 1;
    int to = c == 0 ? kMiddle : c < 0 ? kMiddle - 1 : kNewsHeaderCount - 1;
    for (int r = from; r <= to; ++r)
        if (name == rules[size_t(r)].HeaderName) return rules[size_t(r)].HeaderShown ? r : -1;
    return -1;
}

std::vector<std::string> ArticleNames(const std::string& dir) {
    std::vector<std::string> names;
    for (std::string& n : ExpandPattern("*", false, dir))
        // An article number fits 32 bits, as the group's highest does: a
        // larger one would wrap to a small number and spoil the last read.
        if (!n.empty() && n.size() <= 10 && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            std::strtoull(n.c_str(), nullptr, 10) <= UINT32_MAX)
            names.push_back(std::move(n));
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return ArticleNumber(a) < ArticleNumber(b); });
    return names;
}

namespace {

// The prompt's line blanked, and the cursor back at its start for the
// question that follows.
void BlankPromptLine() {
    PutChar('\r');
    RepeatChar(' ', 75, false);
    PutChar('\r');
}

}  // namespace

int ArticleList(const NewsGroupRecord& group, NewsSubscription& subscription, int mode) {
    ArticleListState s{group, subscription, Config().NewsSpool + "/" + group.Path, {}, {}, 1, 0};
    // "master.bbs" comes from outside: a path that climbs out of the spool
    // names no group of it.
    if (!ClimbsOut(group.Path)) s.names = ArticleNames(s.dir);
    if (s.names.empty()) {
        WriteLog("ERROR: Cannot get article name (group = %s)", group.Path);
        return 0;
    }
    if (mode == 1) s.marks.assign(s.names.size(), 0);
    const int total = int(s.names.size());
    s.page = NewsPageSize(ScreenLength() - 5);
    const std::string commands = mode == 1 ? "[] DQ?\x0c:\\" : "[]Q?\x0c:\\";

    for (;;) {
        ArticleListTitle(s, mode);
        int rows = ShowArticlePage(s);
        ArticleGroupLine(group);
        char last = char('a' + std::max(rows, 1) - 1);
        if (mode == 1) {
            std::string prompt = total >= s.page ? "\rEnter your command ([]Q\\a-{}:?) : "
                                                  : "\rEnter your command (Q\\a-{}:?) : ";
            PutHotKeyText(fmt::format(fmt::runtime(prompt), last), kColorTitle, kColorPrompt);
        } else if (total <= s.page) {
            PutColorText("End of listing, hit any key to continue: ", false, false, 0, kColorPrompt);
            int key = GetKey();
            PutLine();
            return key == 'Q' ? -1 : 1;
        } else {
            PutHotKeyText("\rEnter your command ([]Q\\): ", kColorTitle, kColorPrompt);
        }
        SetColorPair(kColorNormal);

        for (bool redraw = false; !redraw;) {
            int k = GetKey();
            if (mode == 1 && rows > 0 && k >= 'a' && k <= last) {
                std::string chosen;
                int end = SelectLetters(char(k), last, chosen);
                for (char c : chosen) {
                    size_t a = size_t(s.top + (c - 'a'));
                    if (a < s.marks.size()) s.marks[a] ^= 1;
                }
                BlankPromptLine();
                if (end == ' ' && ReadMarkedArticles(s.dir, s.names, s.marks, subscription) == 'Q') return 1;
                redraw = true;
                continue;
            }
            if (k <= 0 || commands.find(char(k)) == std::string::npos) {
                RingBell();
                continue;
            }
            // A page drawn again, here or by the group list, begins at the
            // left of the line the prompt holds, its title too wide to
            // follow the prompt: the prompt goes first.
            switch (k) {
            case 'Q': return -1;
            case '\\':
                BlankPromptLine();
                return 1;
            case '[':
                if (s.top == 0) {
                    RingBell();
                    break;
                }
                s.top = std::max(s.top - s.page, 0);
                BlankPromptLine();
                redraw = true;
                break;
            case ']':
                if (s.top >= LastPageTop(total, s.page)) {
                    RingBell();
                    break;
                }
                s.top = std::min(s.top + s.page, LastPageTop(total, s.page));
                BlankPromptLine();
                redraw = true;
                break;
            case 12:
                BlankPromptLine();
                redraw = true;
                break;
            case ' ':
                if (std::find(s.marks.begin(), s.marks.end(), 1) == s.marks.end()) {
                    RingBell();
                    break;
                }
                BlankPromptLine();
                if (ReadMarkedArticles(s.dir, s.names, s.marks, subscription) == 'Q') return 1;
                redraw = true;
                break;
            default: break;  // 'D', '?' and ':' change nothing
            }
        }
    }
}

void NewsReadingLoop(const std::string& infoPath, const NewsInfoHeader& header) {
    const std::string masterPath = NewsMasterPath();
    NewsFile master(masterPath, NewsFile::kReadOnly);
    if (!master.open()) {
        ReportMasterUnreadable(masterPath);
        return;
    }
    NewsFile info(infoPath, NewsFile::kReadWrite);
    const int count = header.Subscribed;
    if (!info.open() || count == 0) return;
    const int page = NewsPageSize(ScreenLength() - 5);
    int i = 0, skippedGroups = 0;
    uint64_t skippedArticles = 0;
    bool redraw = true, startedOver = false;

    for (;;) {
        if (redraw || i % page == 0) {
            NewsTitleLine(count, 1);
            GroupRow earlier;
            if (redraw)
                for (int r = i - i % page; r < i; ++r)
                    if (!ShowGroupRow(master, info, r, earlier)) return;
            redraw = false;
        }
        GroupRow row;
        if (!ShowGroupRow(master, info, i, row)) return;
        bool advance = true;
        if (row.group.Count != 0 && row.fresh != 0) {
            GroupPrompt(row.fresh);
            int number = 0;
            int key = GroupAnswer(number);
            PutChar('\r');
            RepeatChar(' ', 70, false);
            PutChar('\r');
            const NewsSubscription before = row.subscription;
            switch (key) {
            case 'Q': return;
            case 'n': case ' ':
                skippedArticles += row.fresh;
                ++skippedGroups;
                if (key == ' ' && number > 0) i = std::max(i, std::min(i + number - 1, count - 2));
                break;
            case '=': {
                int r = ArticleList(row.group, row.subscription, 0);
                if (r == -1) return;
                redraw = true;
                advance = false;
                break;
            }
            case 'G':
                advance = false;
                if (number == 0) {
                    RepeatChar(' ', 75, false);
                    PutColorText("\rGoto: ", false, false, 0, kColorPrompt);
                    SetColorPair(kColorNormal);
                    std::string typed;
                    InputLine(true, 3, typed);
                    PutLine();  // the page that follows starts on a line of its own
                    number = std::atoi(typed.c_str());
                    if (number <= 0) {
                        RingBell();
                        redraw = true;
                        break;
                    }
                    number = std::min(number, count);
                } else if (number > count) {
                    RingBell();
                    redraw = true;
                    break;
                }
                i = number - 1;
                redraw = true;
                break;
            case '\\':
                advance = false;
                redraw = true;
                if (i == 0)
                    RingBell();
                else
                    i = std::max(i - std::max(number, 1), 0);
                break;
            default: {  // Enter, 'Y', 'y': the group's articles
                int r = ArticleList(row.group, row.subscription, 1);
                WriteSubscriptionIfRead(info, i, before, row.subscription);
                if (r != 1) return;
                redraw = true;
                break;
            }
            }
        }
        if (!advance) continue;
        if (i < count - 1) {
            ++i;
            continue;
        }
        SetColorPair(kColorHighlight);
        RepeatChar('-', kRuleWidth, true);
        if (skippedGroups > 0 || skippedArticles > 0) {
            PutColorText(fmt::format("Still {} unread message(s) in {} newsgroup(s): ", skippedArticles, skippedGroups),
                         false, false, 0, kColorPrompt);
            int key = GetKey();
            PutLine();
            if (startedOver || key == 'Q') return;
            startedOver = true;
            skippedArticles = 0;
            skippedGroups = 0;
            i = 0;
            redraw = true;
            continue;
        }
        // Nothing more to read: back to the menu rather than round again.
        PutColorText("\rNo more news!", true, false, 3, kColorWarning);
        return;
    }
}

void ReadNews() {
    std::string path;
    if (!NewsInfoPath(path)) return;
    NewsInfoHeader h;
    if (!ReadNewsHeader(h, path)) {
        WriteLog("Cannot read news info header");
        RingBell();
        PutColorText("Read error, cannot continue!", true, false, 2, kColorWarning);
        return;
    }
    if (h.Subscribed == 0) {
        if (SelectGroups(path, 0, 1) == 0) {
            PutLine();
            return;
        }
        if (!ReadNewsHeader(h, path)) return;
    }
    NewsReadingLoop(path, h);
    PutLine();
}

}  // namespace kv::caller
