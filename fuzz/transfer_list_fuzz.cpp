// A transfer protocol's list after an upload: the description the sender
// gave a received file.  The first byte is the description's offset from
// the keyword (the sysop's setting, -128 to 127).
#include "caller/areas/file_entries.h"
#include "common/runtime.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    if (size == 0) return 0;
    kv::ProtocolDef& protocol = kv::MutableConfig().Protocols[0];
    protocol.ProtocolName = "Zmodem";
    protocol.UploadKeyword = "DESC:";
    protocol.UploadNameOffset = int8_t(data[0]);
    protocol.ListFile = kv::fuzz::WriteScratchFile("xfer.lst", data + 1, size - 1);
    std::string description;
    kv::caller::DescriptionFromList("new.zip", 0, description);
    return 0;
}
