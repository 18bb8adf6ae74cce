// A transfer protocol's list after an upload: the description the sender
// gave a received file, then that description made the file's entry in a
// list.  The first byte is the description's offset from the keyword (the
// sysop's setting, -128 to 127).  A description is taken from the first
// line naming both the keyword and the file, when the offset lies inside
// it; it holds no control byte and no trailing blank; and the entry made of
// it reads back as the file's, with that description.
#include <filesystem>
#include <fstream>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_entries.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "fuzz/fuzz_support.h"

using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    if (size == 0) return 0;
    kv::ProtocolDef& protocol = kv::MutableConfig().Protocols[0];
    protocol.ProtocolName = "Zmodem";
    protocol.UploadKeyword = "DESC:";
    protocol.UploadNameOffset = int8_t(data[0]);
    std::string_view list = kv::fuzz::Bytes(data + 1, size - 1);
    protocol.ListFile = kv::fuzz::WriteScratchFile("xfer.lst", list);

    bool want = false;
    for (std::string_view rest = list; !rest.empty();) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const size_t key = line.find("DESC:");
        if (key == std::string::npos || line.find("new.zip") == std::string::npos) continue;
        kv::TrimRight(line);
        const long from = long(key) + protocol.UploadNameOffset;
        want = from >= 0 && size_t(from) < line.size();
        break;
    }
    std::string description;
    const int found = kv::caller::DescriptionFromList("new.zip", 0, description);
    Check(found == (want ? 1 : 0), "a description found where none is given, or missed");
    if (!found) return 0;
    for (char c : description) Check(uint8_t(c) >= 32 && uint8_t(c) != 127, "a control byte in a description");
    Check(description.empty() || !kv::IsWhiteSpace(description.back()), "a description ends in white space");

    const std::string dir = kv::fuzz::ScratchDir() + "/uploads";
    std::filesystem::create_directories(dir);
    std::filesystem::remove(dir + "/" + kv::caller::kFileListName);
    Check(kv::caller::AddFileEntry("new.zip", dir, description) == 1, "the entry could not be added");
    std::ifstream in(dir + "/" + kv::caller::kFileListName, std::ios::binary);
    std::string entry;
    std::getline(in, entry);
    const kv::caller::FileListLine l = kv::caller::ParseFileListLine(entry);
    std::string_view given = description;
    while (!given.empty() && given.front() == ' ') given.remove_prefix(1);
    Check(l.Kind == kv::caller::FileLineKind::kEntry && l.Name == "new.zip" && l.Description == given,
          "the entry does not read back as the file's with its description");
    return 0;
}
