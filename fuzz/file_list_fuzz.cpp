// A directory's file list "files.bbs": each line parsed and laid out as
// both listings show it, then an entry taken out of it as the sysop's
// remove does.
#include <string_view>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_entries.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    AreaFiles files;
    files.Directory = kv::fuzz::ScratchDir();
    files.Names = {"A.ZIP", "TOOLS.ZIP"};
    files.Infos = {{1234, "03/05/24"}, {987654321, "12/31/99"}};
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (ParseFileListLine(line).Kind == FileLineKind::kComment) continue;
        FormatFileEntry(line, files, 0);
        FormatFileEntry(line, files, 1);
    }
    kv::fuzz::WriteScratchFile(kFileListName, data, size);
    std::string description;
    RemoveFileEntry("TOOLS.ZIP", kv::fuzz::ScratchDir(), &description);
    return 0;
}
