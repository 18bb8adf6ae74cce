// A directory's file list "files.bbs": each line parsed and laid out as
// both listings show it, then an entry taken out of it as the sysop's
// remove does.  A laid-out entry has one to six lines none wider than the
// screen, the wrapped ones from the description's column, holding all of
// the line's description (its text but white space, in order) unless six
// lines were full.  The remove takes the entry (the first of its
// exact name, else the first that differs in case alone) and the
// continuation lines under it, and leaves every other byte of the list as
// it was; without such an entry the list stands unchanged.
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_entries.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    AreaFiles files;
    files.Directory = kv::fuzz::ScratchDir();
    files.Names = {"A.ZIP", "TOOLS.ZIP"};
    files.Infos = {{1234, "03/05/24"}, {987654321, "12/31/99"}};
    const std::string_view text = kv::fuzz::Bytes(data, size);

    std::vector<std::string> lines;  // with their line feeds
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        lines.emplace_back(text.substr(at, end - at));
        at = end;
    }
    for (const std::string& raw : lines) {
        std::string_view line = raw;
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        FileListLine parsed = ParseFileListLine(line);
        if (parsed.Kind == FileLineKind::kComment) continue;
        for (int style : {0, 1}) {
            EntryLayout layout = FormatFileEntry(line, files, style);
            Check(!layout.Lines.empty() && layout.Lines.size() <= kEntryMaxLines, "an entry laid out on 0 or 7+ lines");
            const bool entry = parsed.Kind == FileLineKind::kEntry;
            const size_t indent = EntryIndent(style), start = entry ? indent : 0;
            std::string shown;
            for (size_t n = 0; n < layout.Lines.size(); ++n) {
                const std::string& l = layout.Lines[n];
                Check(l.size() <= kEntryWidth, "an entry's line wider than the screen");
                const size_t from = n == 0 ? start : indent;
                if (n > 0)
                    Check(l.find_first_not_of(' ') >= std::min(indent, l.size()),
                          "a wrapped line does not start at the description's column");
                if (l.size() > from) shown += l.substr(from);
            }
            const std::string_view text = entry ? parsed.Description : parsed.Text;
            if (entry && text.empty()) continue;
            const std::string want = kv::fuzz::Solid(text), got = kv::fuzz::Solid(shown);
            if (layout.Lines.size() < kEntryMaxLines)
                Check(got == want, "the layout lost or changed part of the text");
            else
                Check(want.compare(0, got.size(), got) == 0, "the layout changed part of the text");
        }
    }

    // The entry the remove must take, found apart from it.
    long at = -1;
    for (size_t i = 0; i < lines.size() && at < 0; ++i) {
        FileListLine l = ParseFileListLine(lines[i]);
        if (l.Kind == FileLineKind::kEntry && l.Name == "TOOLS.ZIP") at = long(i);
    }
    for (size_t i = 0; i < lines.size() && at < 0; ++i) {
        FileListLine l = ParseFileListLine(lines[i]);
        if (l.Kind == FileLineKind::kEntry && kv::fuzz::SameIgnoringCase(l.Name, "TOOLS.ZIP")) at = long(i);
    }
    std::string want;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (at >= 0 && i == size_t(at)) {
            while (i + 1 < lines.size() && ParseFileListLine(lines[i + 1]).Kind == FileLineKind::kContinuation) ++i;
            continue;
        }
        want += lines[i];
    }
    const std::string path = kv::fuzz::WriteScratchFile(kFileListName, text);
    std::string description;
    const int removed = RemoveFileEntry("TOOLS.ZIP", kv::fuzz::ScratchDir(), &description);
    Check(removed == (at >= 0 ? 1 : 0), "the entry was not removed, or one that is not there");
    std::ifstream in(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Check(after == (at >= 0 ? want : std::string(text)), "the remove changed more of the list than the entry");
    return 0;
}
