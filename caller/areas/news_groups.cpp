#include "caller/areas/news_groups.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fmt/format.h>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/trash_words.h"
#include "common/users.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

constexpr size_t kAliasMin = 2;
constexpr size_t kAliasMax = 8;
constexpr int kNoGroup = 65535;  // a free entry of the subscribed-groups array
constexpr int kRuleWidth = 79;

bool AliasChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

int Digit(int k) { return k >= '0' && k <= '9'; }

// The word-wrapping input in its plain form: start is shown and may be
// edited, at most max characters.  The input ends by itself once it holds
// max characters, so a start text that long (an alias suggestion, the
// last search) would answer for the caller: one place stays free.
std::string EditAnswer(std::string start, int max) {
    if (max > 0 && start.size() >= size_t(max)) start.resize(size_t(max) - 1);
    std::string overflow;
    InputLineWrap(false, overflow, max, start);
    return start;
}

// The subscribed groups, one entry per subscription up to capacity.
class SubscribedSet {
public:
    explicit SubscribedSet(int capacity) : groups_(size_t(std::max(capacity, 0)), kNoGroup) {}
    bool Has(uint32_t group) const {
        return std::find(groups_.begin(), groups_.end(), int(group)) != groups_.end();
    }
    void Add(uint32_t group) {
        auto free = std::find(groups_.begin(), groups_.end(), kNoGroup);
        if (free != groups_.end()) *free = int(group);
    }

private:
    std::vector<int> groups_;
};

void LoadSubscriptions(const std::string& infoPath, int count, SubscribedSet& set) {
    NewsFile info(infoPath, NewsFile::kReadOnly);
    for (int i = 0; i < count; ++i) {
        NewsSubscription s;
        if (!info.Read(SubscriptionOffset(i), s)) break;
        set.Add(s.Group);
    }
}

// One page of groups from top; the number of rows shown.
int ShowGroupPage(NewsFile& master, int total, int top, int page, const SubscribedSet& subscribed,
                  int hit) {
    bool colour = Call().ColorOn;
    int shown = 0;
    for (int g = top; g < total && shown < page; ++g, ++shown) {
        NewsGroupRecord r;
        if (!master.Read(GroupOffset(uint32_t(g)), r)) break;
        SetColorPair(kColorNormal);
        if (!GroupVisible(r)) {
            PutLine();
            continue;
        }
        bool marked = subscribed.Has(uint32_t(g));
        if (g == hit) {
            if (colour)
                SetColor(14, 3);
            else
                SetReverse();
        } else if (marked) {
            if (colour)
                SetColorPair(kColorWarning);
            else
                SetBold();
        }
        std::string row = fmt::format("{:<5} {}{}", g + 1, marked ? ">>" : "  ", GroupDisplayName(r));
        if (r.Count != 0) row += fmt::format(" [{},{}]", r.Count, r.Highest);
        PutString(row);
        if (r.Flags & NEWS_MODERATED) {
            if (!marked && g != hit) {
                if (colour)
                    SetColorPair(kColorHighlight);
                else
                    SetBold();
            }
            PutString(" (moderated)");
        }
        ResetAttributes();
        PutLine();
    }
    return shown;
}

void GroupSelectionFooter() {
    SetColor(3, 0);
    RepeatChar('-', kRuleWidth, true);
    PutHotKeyText("[H]elp, [P]revious, [N]ext, [S]earch, [T]op, [B]ottom, [G]oto, [Q]uit, [0-9,]", kColorTitle,
                  kColorPrompt);
    PutLine();
    PutColorText(" : ", false, false, 0, kColorPrompt);
    SetColorPair(kColorNormal);
}

// Blanks the answer line and puts the prompt back.
void BlankAnswerLine(int width) {
    PutChar('\r');
    RepeatChar(' ', width, false);
    PutColorText("\r : ", false, false, 0, kColorPrompt);
    SetColorPair(kColorNormal);
}

void ShowGroupHelp() {
    if (DisplayFile(1, GetText(670)) != -1) return;
    PutColorText("\rNo help available!", false, false, 3, kColorWarning);
    BlankAnswerLine(40);
}

// The selection screen; the number of groups subscribed on it.
int GroupSelection(NewsFile& master, int total, const std::string& infoPath, int subscribed) {
    const int capacity = Config().MaxGroups;
    SubscribedSet set(capacity);
    if (subscribed > 0) LoadSubscriptions(infoPath, subscribed, set);
    const int page = NewsPageSize(ScreenLength() - 5);
    int top = 0, hit = -1, shown = 0, added = 0;
    std::string search;
    bool redraw = true;

    while (subscribed < capacity) {
        if (redraw) {
            NewsTitleLine(subscribed, 0);
            shown = ShowGroupPage(master, total, top, page, set, hit);
            GroupSelectionFooter();
        }
        redraw = true;
        int key = ToUpperChar(char(GetKey()));
        if (key == 'Q') break;
        switch (key) {
        case '\r': case '\n': case 'N':
            top += shown;
            if (top >= total) top = LastPageTop(total, page);
            break;
        case 'P': top = std::max(top - page, 0); break;
        case 'T': top = 0, hit = -1; break;
        case 'B': top = LastPageTop(total, page); break;
        case 12: break;
        case 'S': case '/': {
            PutColorText("\rSearch string: ", false, false, 0, kColorPrompt);
            SetColorPair(kColorNormal);
            std::string typed = EditAnswer(search, 40);
            if (typed.empty()) {
                PutChar('\r');
                BlankAnswerLine(20);
                redraw = false;
                break;
            }
            search = typed;
            int found = FindGroup(master, hit + 1, search);
            if (found < 0) {
                PutChar('\r');
                RepeatChar(' ', 55, false);
                PutString("\rNo group found matching your criteria\r");
                TimedPause(3);
                BlankAnswerLine(55);
                redraw = false;
                break;
            }
            hit = found;
            top = hit - hit % page;
            break;
        }
        case 'G': {
            PutColorText("\rGoto: ", false, false, 0, kColorPrompt);
            SetColorPair(kColorNormal);
            std::string typed = EditAnswer("", 5);
            int n = std::abs(std::atoi(typed.c_str()));
            if (n >= 1 && total > 0) {
                int at = std::min(n, total) - 1;
                if (at < top || at >= top + page) top = std::min(at - at % page, LastPageTop(total, page));
            }
            break;
        }
        case 'H': ShowGroupHelp(); break;
        default:
            if (!Digit(key)) {
                RingBell();
                redraw = false;
                break;
            }
            PutColorText("\rGroup(s): ", false, false, 0, kColorPrompt);
            SetColorPair(kColorNormal);
            std::string typed = EditAnswer(std::string(1, char(key)), 70);
            if (typed.empty()) {
                BlankAnswerLine(int(typed.size()) + 10);
                redraw = false;
                break;
            }
            std::vector<uint32_t> named = ParseGroupItems(typed, capacity, total);
            if (named.empty()) RingBell();
            for (uint32_t g : named) {
                if (subscribed >= capacity) break;
                if (set.Has(g) || !SubscribeGroup(master, infoPath, g, subscribed)) {
                    RingBell();
                    continue;
                }
                set.Add(g);
                ++subscribed;
                ++added;
            }
            break;
        }
    }

    NewsInfoHeader h;
    if (!ReadNewsHeader(h, infoPath) || (h.Subscribed = uint16_t(subscribed), !WriteNewsHeader(infoPath, h)))
        WriteLog("ERROR: Could not rewrite user's news info header");
    return added;
}

}  // namespace

std::string NewsMasterPath() { return Config().NewsDir + "/" + kNewsMasterFile; }

void ReportMasterUnreadable(const std::string& path) {
    WriteLog("ERROR: Cannot read news master file %s", path);
    PutColorText(fmt::format("ERROR: Cannot read news master file {}", path), true, false, 2, kColorWarning);
}

bool IsValidNewsAlias(std::string_view alias) {
    if (alias.size() < kAliasMin || alias.size() > kAliasMax || NewsAliasNamesBoardFile(alias)) return false;
    return std::all_of(alias.begin(), alias.end(), AliasChar);
}

bool NewsAliasNamesBoardFile(std::string_view alias) {
    std::string file(alias);
    LowerCase(file);
    file += ".bbs";
    return file == kNewsMasterFile;
}

std::string SuggestNewsAlias(std::string_view name) {
    std::string raw;
    size_t blank = name.find(' ');
    if (blank != std::string_view::npos && !name.empty())
        raw = std::string(1, name[0]) + std::string(name.substr(blank + 1, kAliasMax - 1));
    else
        raw = std::string(name.substr(0, kAliasMax));
    LowerCase(raw);
    std::string out;
    for (char c : raw)
        if (AliasChar(c)) out += c;
    return out;
}

const char* NewsAliasRefusal(std::string_view alias) {
    if (alias.size() < kAliasMin) return "Alias too short! (min 2 char.)";
    if (NewsAliasNamesBoardFile(alias)) return "This alias is already in use.";
    if (!IsValidNewsAlias(alias)) return "Only letters, digits, '.', '_' and '-' please.";
    if (IsTrashWord(kTrashAliases, alias)) return "Usage of this alias is prohibed.";
    if (UserExists(alias, kByAlias)) return "This alias is already in use.";
    return nullptr;
}

std::string OfferedNewsAlias(std::string_view name) {
    // A name may well give an alias that is taken, forbidden or the group
    // list's own ("Mike Aster" gives "master"); the caller is offered one
    // that can be taken as it stands, or none.
    std::string base = SuggestNewsAlias(name);
    if (!NewsAliasRefusal(base)) return base;
    std::string stem = base.substr(0, std::min(base.size(), kAliasMax - 1));
    for (char digit = '2'; digit <= '9'; ++digit)
        if (!NewsAliasRefusal(stem + digit)) return stem + digit;
    return {};
}

void ClearScreenIfWanted() {
    if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
}

int NewsPageSize(int rows) { return std::clamp(rows, 1, 26); }

int LastPageTop(int total, int page) {
    if (total <= 0 || page <= 0) return 0;
    int top = total - total % page;
    return top == total ? std::max(total - page, 0) : top;
}

void NewsTitleLine(int count, int mode) {
    ClearScreenIfWanted();
    SetColor(15, 0);
    PutString(" KIVO v0.3 - ");
    if (mode == 0) {
        PutString("USENET News Groups Selection");
        SetColor(2, 0);
        PutString(fmt::format(" ({}/{})", count, Config().MaxGroups));
    } else {
        PutString("USENET News Reading");
    }
    SetColor(3, 0);
    if (mode == 1) {
        RepeatChar(' ', 24, false);
        PutString("Count  Max    New");
    }
    PutLine();
    RepeatChar('-', kRuleWidth, true);
    ResetAttributes();
}

bool GroupVisible(const NewsGroupRecord& group) {
    return !(group.Flags & NEWS_HIDDEN) || Call().User.SecurityLevel == kSysopLevel;
}

std::string CleanArticleText(std::string_view text) {
    std::string out(text);
    BlankControlBytes(out);
    // A tab would move the cursor where the wrapping does not count.
    std::replace(out.begin(), out.end(), '\t', ' ');
    return out;
}

std::string GroupDisplayName(const NewsGroupRecord& group) {
    // Group names come from the network: their control bytes show as blanks.
    std::string name = CleanArticleText(group.Path);
    std::replace(name.begin(), name.end(), '/', '.');
    return name;
}

bool GroupMatches(const NewsGroupRecord& group, std::string_view pattern) {
    if (!pattern.empty() && pattern[0] == '>') {
        std::string n(pattern.substr(1));
        return group.Count > uint32_t(std::max(std::atol(n.c_str()), 0L));
    }
    std::string name = GroupDisplayName(group);
    if (HasWildcard(pattern)) return WildMatch(pattern, name);
    return name.find(pattern) != std::string::npos;
}

int FindGroup(NewsFile& master, int first, std::string_view pattern) {
    int64_t total = master.RecordsOf(NewsGroupRecord::kSize);
    for (int64_t g = std::max(first, 0); g < total; ++g) {
        NewsGroupRecord r;
        if (!master.Read(GroupOffset(uint32_t(g)), r)) return -1;
        if (GroupVisible(r) && GroupMatches(r, pattern)) return int(g);
    }
    return -1;
}

std::vector<uint32_t> ParseGroupItems(std::string_view answer, int maxGroups, int total) {
    std::vector<uint32_t> groups;
    const int64_t span = int64_t(std::max(maxGroups, 0)) + 1;
    // Every number is held to one past the last group before anything is
    // added to it: however many digits a caller types, a range stays short
    // and a number beyond the list never wraps round to a group of it.
    const int64_t beyond = int64_t(std::max(total, 0)) + 1;
    auto number = [beyond](std::string_view s) {
        int64_t n = 0;
        for (size_t i = 0; i < s.size() && Digit(s[i]); ++i) n = std::min(n * 10 + (s[i] - '0'), beyond);
        return std::max<int64_t>(n, 1);
    };
    size_t at = 0;
    while (at < answer.size()) {
        size_t end = answer.find_first_of(", ", at);
        if (end == std::string_view::npos) end = answer.size();
        std::string_view item = answer.substr(at, end - at);
        at = end + 1;
        if (item.empty() || !Digit(item[0])) continue;
        size_t dash = item.find('-');
        int64_t first = number(item.substr(0, dash));
        int64_t last = dash == std::string_view::npos ? first : number(item.substr(dash + 1));
        last = std::min({last, first + span - 1, beyond - 1});
        for (int64_t g = first; g <= last; ++g) groups.push_back(uint32_t(g - 1));
    }
    return groups;
}

int ReadNewsHeader(NewsInfoHeader& header, const std::string& path) {
    NewsFile f(path, NewsFile::kReadOnly);
    return f.Read(0, header) ? 1 : 0;
}

int WriteNewsHeader(const std::string& path, const NewsInfoHeader& header) {
    NewsFile f(path, NewsFile::kReadWrite);
    return f.Write(0, header) ? 1 : 0;
}

int CreateNewsInfo(const std::string& path) { return CreateNewsFile(path) ? 1 : 0; }

int SubscribeGroup(NewsFile& master, const std::string& infoPath, uint32_t group, int index) {
    NewsGroupRecord r;
    if (int64_t(group) >= master.RecordsOf(NewsGroupRecord::kSize) || !master.Read(GroupOffset(group), r))
        return 0;
    if (!GroupVisible(r)) return 0;
    NewsFile info(infoPath, NewsFile::kReadWrite);
    NewsInfoHeader h;
    NewsSubscription s;
    s.Group = group;
    if (!info.Read(0, h) || !info.Write(SubscriptionOffset(index), s)) return 0;
    h.Subscribed = uint16_t(index + 1);
    return info.Write(0, h) ? 1 : 0;
}

int SelectGroups(const std::string& infoPath, int subscribed, int mode) {
    std::string path = NewsMasterPath();
    NewsFile master(path, NewsFile::kReadOnly);
    if (!master.open()) {
        ReportMasterUnreadable(path);
        return 0;
    }
    int added = GroupSelection(master, int(master.RecordsOf(NewsGroupRecord::kSize)), infoPath, subscribed);
    return mode == 1 ? added : 0;
}

int ChooseNewsAlias() {
    std::string suggestion = OfferedNewsAlias(Call().User.Name);
    if (DisplayFile(1, GetText(666)) == -1) {
        ClearScreenIfWanted();
        PutColorText("Kivo - News/UUCP alias selection\n", true, false, 0, kColorTitle);
        const ColorPair& text = Config().Colors[kColorHighlight];
        const ColorPair& back = Config().Colors[kColorTitle];
        SetColor(text.Foreground, back.Background);
        for (const char* line : {"This alias is used to receive mail addressed to you as well as",
                                 "to create the file name used to keep your news last read pointers.",
                                 "We are suggesting that you choose a \"serious\" alias, generally made",
                                 "by the first letter of your first name and your last name.\n"})
            PutLine(line);
        ResetAttributes();
    }
    for (;;) {
        PutColorText("Enter your alias (min 2 char.) : ", false, false, 0, kColorPrompt);
        SetColorPair(kColorNormal);
        std::string alias = EditAnswer(suggestion, int(kAliasMax));
        PutLine();
        LowerCase(alias);
        if (alias.empty()) return 0;
        const char* refusal = NewsAliasRefusal(alias);
        if (!refusal) {
            Call().User.Alias = alias;
            return 1;
        }
        RingBell();
        PutColorText(refusal, true, false, 0, kColorWarning);
        suggestion = alias;
    }
}

int NewsInfoPath(std::string& path) {
    UserRecord& u = Call().User;
    if (u.Alias.empty() && !ChooseNewsAlias()) return 0;
    std::string alias = u.Alias;
    LowerCase(alias);
    if (!IsValidNewsAlias(alias)) {
        // An alias given elsewhere (by the sysop, say) that cannot name a
        // file of NewsDir safely.
        WriteLog("ERROR: Alias of %s cannot name a news file", u.Name);
        PutColorText("Your alias cannot be used for news, leave a note to Sysop!", true, false, 2, kColorWarning);
        return 0;
    }
    path = Config().NewsDir + "/" + alias + ".bbs";
    if (FileExists(path, kPlainPath)) return 1;
    if (!CreateNewsInfo(path)) {
        WriteLog("ERROR: Cannot create user's news info file %s", path);
        PutColorText("Impossible to create news info file, leave a note to Sysop!", true, false, 2, kColorWarning);
    }
    return 1;
}

void SubscribeNewsGroups(int mode) {
    std::string path;
    NewsInfoHeader h;
    if (!NewsInfoPath(path) || !ReadNewsHeader(h, path)) return;
    SelectGroups(path, h.Subscribed, mode);
}

}  // namespace kv::caller
