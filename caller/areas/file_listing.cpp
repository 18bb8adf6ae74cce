#include "caller/areas/file_listing.h"

#include <algorithm>
#include <fstream>

#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

constexpr size_t kPlainDateColumn = 18;
constexpr size_t kPlainSizeColumn = 29;
constexpr size_t kDescribedIndent = 33;

bool ClearScreenWanted() { return (Call().User.Options & USER_CLEAR_SCREEN) != 0; }

void ShowPlainList(const AreaFiles& files) {
    if (ClearScreenWanted()) EraseScreen();
    PutColorText(GetText(422), true, false, 0, kColorWarning);
    PutColorText(GetText(423), true, false, 0, kColorWarning);
    SetColorPair(kColorNormal);
    int64_t total = 0;
    {
        ListingPager pager(2);
        for (size_t i = 0; i < files.Names.size() && !pager.Stopped(); ++i) {
            // The date column begins at 18: a longer name is cut before it.
            std::string line = files.Names[i].substr(0, kPlainDateColumn - 1);
            line.resize(kPlainDateColumn, ' ');
            line += files.Infos[i].Date;
            line.resize(kPlainSizeColumn, ' ');
            line += std::to_string(files.Infos[i].Size);
            total += files.Infos[i].Size;
            if (pager.Put(line)) pager.LineEnd();
        }
        if (pager.Stopped()) return;
    }
    size_t count = files.Names.size();
    SetColorPair(kColorWarning);
    PutString(GetText(529));
    PutLine(FormatText(528, int(count), count > 1 ? 's' : ' ', long(total)));
    WaitAfterListing();
}

void ShowDescribedList(const AreaFiles& files) {
    std::string path = FileListPath(files.Area, files.Directory);
    std::ifstream in(path);
    if (!in) {
        LogText(419, path);
        PutColorText(GetText(418), true, false, 2, kColorWarning);
        return;
    }
    if (ClearScreenWanted())
        EraseScreen();
    else
        PutLine();
    std::string title = GetText(417);
    if (Call().ColorOn) SetColor(3, 0);
    PutLine(title);
    PutLine(std::string(title.size(), '-'));
    PutLine();
    SetColorPair(kColorNormal);
    int style = Config().FileListStyle;
    {
        ListingPager pager(3);
        std::string line;
        while (!pager.Stopped() && std::getline(in, line)) {
            if (ParseFileListLine(line).Kind == FileLineKind::kComment) continue;
            PrintFileEntry(FormatFileEntry(line, files, style), style, pager);
        }
        if (pager.Stopped()) return;
    }
    WaitAfterListing();
}

}  // namespace

bool PrintFileEntry(const EntryLayout& entry, int style, ListingPager& pager) {
    const bool colour = Call().ColorOn;
    // The columns where an entry line may change colour: each stretch up to
    // the next goes out with the codes before it.
    static constexpr size_t kBreaks[] = {kSizeColumn, kNewMarkColumn, kDateColumn, kDescribedIndent};
    std::string codes;
    for (const std::string& line : entry.Lines) {
        codes.clear();
        if (colour && entry.Continuation) AppendColorPair(codes, kColorTitle);
        const bool switching = colour && !entry.Continuation;
        for (size_t col = 0; col < line.size();) {
            size_t end = line.size();
            if (switching) {
                uint8_t c = uint8_t(line[col]);
                if (col == 0) AppendColorPair(codes, kColorNormal);
                else if (col == kSizeColumn) AppendColor(codes, 13, 0);
                else if (col == kNewMarkColumn && c == '*') AppendColor(codes, 4, 0);
                else if (col == kDateColumn) AppendColor(codes, style != 0 ? 10 : 3, 0);
                else if (col == kDescribedIndent && style != 0) AppendColor(codes, 3, 0);
                // Only where the colour changes: the new mark's column only
                // when it holds the mark, the description's only with the
                // style that colours it.
                for (size_t b : kBreaks) {
                    if (b <= col || (b == kNewMarkColumn && (b >= line.size() || line[b] != '*')) ||
                        (b == kDescribedIndent && style == 0))
                        continue;
                    end = std::min(end, b);
                    break;
                }
            }
            if (!pager.Put(codes, std::string_view(line).substr(col, end - col))) return false;
            codes.clear();
            col = end;
        }
        // The codes of a line without characters still go out.
        if (!codes.empty()) PutString(codes);
        if (!pager.LineEnd()) return false;
    }
    return true;
}

void WaitAfterListing() {
    PutColorText(GetText(420), false, false, 0, kColorPrompt);
    GetKey();
    PutLine();
}

void ListFiles(const std::string& argument, int mode) {
    if (argument.empty()) {
        RingBell();
        PutColorText(GetText(416), true, false, 2, kColorWarning);
        return;
    }
    AreaFiles files;
    if (!CollectAreaFiles(argument, mode == 0 ? "" : "*", false, files)) return;
    ReadFileInfo(files);
    if (mode == 0)
        ShowPlainList(files);
    else
        ShowDescribedList(files);
}

}  // namespace kv::caller
