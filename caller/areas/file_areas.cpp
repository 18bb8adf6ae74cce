#include "caller/areas/file_areas.h"

#include <unistd.h>

#include <cstdlib>

#include "caller/core/activity_log.h"
#include "caller/core/call_state.h"
#include "caller/core/prompts.h"
#include "caller/core/screen.h"
#include "common/config_record.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

// The caller's level and flags against an area's (signed comparison).
bool Grants(int32_t level, const FlagGroups& flags) {
    const UserRecord& u = Call().User;
    return level <= u.SecurityLevel && HasAllFlags(u.Flags, flags);
}

bool BeginsWith(std::string_view text, char first, char second) {
    return text.size() >= 2 && text[0] == first && ToUpperChar(text[1]) == second;
}

// The decimal number at the start of text, as a caller types it: leading
// blanks and a sign allowed, digits up to the first other character.  Kept
// within int range however many digits follow.
long LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (n < 1000000000L) n = n * 10 + (text[i] - '0');
    }
    return negative ? -n : n;
}

int TwoDigits(std::string_view text, size_t at) {
    if (at + 2 > text.size()) return 0;
    char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
    return (a - '0') * 10 + (b - '0');
}

// A date text as year, month, day for comparison; two-digit years pivot at
// 80 so that the turn of the century keeps its order.
struct DateKey {
    int year = 0, month = 0, day = 0;
    auto operator<=>(const DateKey&) const = default;
};

DateKey ReadDateText(std::string_view text) {
    int f0 = TwoDigits(text, 0), f1 = TwoDigits(text, 3), f2 = TwoDigits(text, 6);
    DateKey k;
    switch (Config().DateOrder) {
    case 0: k = {f0, f1, f2}; break;
    case 1: k = {f2, f0, f1}; break;
    case 2:
    case 3: k = {f2, f1, f0}; break;
    default: return k;
    }
    if (k.year < 80) k.year += 100;
    return k;
}

}  // namespace

int CanUseFileArea(int area, int mode) {
    if (area < 0 || area >= kFileAreaCount) return 0;
    const FileAreaDef& a = Config().FileAreas[size_t(area)];
    if (a.AreaDefined == 0) return 0;
    if (a.OpenArea != 0) return 1;
    if (!Grants(a.ListLevel, a.ListFlags)) return 0;
    return mode == kFileDownload ? Grants(a.DownloadLevel, a.DownloadFlags) : 1;
}

int ResolveFileArea(std::string_view argument, std::string& directory) {
    directory.clear();
    long n = LeadingNumber(argument.size() > 2 ? argument.substr(2) : std::string_view());
    if (n < 1 || n > kFileAreaCount) {
        std::string text = FormatText(431, n);
        WriteLogLine(text);
        PutColorText(text, true, false, 3, kColorWarning);
        return -1;
    }
    int area = int(n - 1);
    if (Config().FileAreas[size_t(area)].AreaDefined == 0) {
        std::string text = FormatText(430, n);
        WriteLogLine(text);
        PutColorText(text, true, false, 3, kColorWarning);
        return -1;
    }
    if (CanUseFileArea(area, kFileList) == 0) {
        // Blinking where colours go out, bold on a plain terminal.
        if (Call().ColorOn) {
            SetColorPair(kColorWarning);
            SetBlink();
        } else {
            SetBold();
        }
        PutLine(GetText(429));
        ResetAttributes();
        sleep(3);
        return -1;
    }
    directory = Config().FileAreas[size_t(area)].AreaDir;
    return area;
}

bool IsCurrentAreaArgument(std::string_view argument) { return BeginsWith(argument, '/', 'F'); }
bool IsAreaNumberArgument(std::string_view argument) { return BeginsWith(argument, '$', 'F'); }

std::string FileAreaArgument(std::string_view argument, int& area) {
    area = -1;
    if (IsCurrentAreaArgument(argument)) {
        int current = Call().User.FileArea;
        if (current < 0 || current >= kFileAreaCount) return {};
        area = current;
        return Config().FileAreas[size_t(current)].AreaDir;
    }
    if (IsAreaNumberArgument(argument)) {
        std::string directory;
        area = ResolveFileArea(argument, directory);
        return directory;
    }
    return std::string(argument);
}

bool FileNameIsSafe(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

bool IsLaterDate(std::string_view first, std::string_view second) {
    return ReadDateText(second) > ReadDateText(first);
}

std::string_view CopyNextWord(std::string_view text, size_t width) {
    size_t i = 0;
    while (i < text.size() && i < width && IsWhiteSpace(text[i])) ++i;
    while (i < text.size() && i < width && text[i] != ' ') ++i;
    return text.substr(0, i);
}

std::vector<std::string> ExpandPattern(std::string_view pattern, bool directories, const std::string& dir) {
    std::vector<std::string> names;
    DirListing listing;
    ListingEntry e;
    for (int r = listing.FindFirst(pattern, e, dir); r == 0; r = listing.FindNext(e)) {
        if (e.Name == ".") continue;
        bool isDir = IsDirectory(dir + "/" + e.Name);
        if (isDir && !directories) continue;
        names.push_back(isDir && e.Name != ".." ? e.Name + "/" : e.Name);
    }
    return names;
}

}  // namespace kv::caller
