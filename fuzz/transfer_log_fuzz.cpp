// A transfer protocol's log after a broken batch download: the files it
// names as sent.  The first byte is the name's offset from the keyword
// (the sysop's setting, -128 to 127).  No file of the batch counts twice,
// no file outside it counts, and the bytes are those of the files counted:
// at most the batch, less its last named file.
#include "caller/areas/transfers.h"
#include "common/config_record.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    if (size == 0) return 0;
    kv::ProtocolDef protocol;
    protocol.ProtocolName = "Zmodem";
    protocol.DownloadKeyword = "Sent:";
    protocol.DownloadNameOffset = int8_t(data[0]);
    protocol.LogFile = kv::fuzz::WriteScratchFile("xfer.log", data + 1, size - 1);
    static const std::vector<std::string> paths = {
        kv::fuzz::WriteScratchFile("one.zip", "a"), kv::fuzz::WriteScratchFile("two.zip", "tools"),
        kv::fuzz::ScratchDir() + "/MISSING.TXT"};
    int files = 0;
    int64_t bytes = 0;
    const int some = kv::caller::ParseDownloadLog(paths, protocol, files, bytes);
    kv::fuzz::Check(some == (files > 0 ? 1 : 0), "the answer does not say whether files remain");
    kv::fuzz::Check(files >= 0 && files <= 2, "more files counted than the batch sent");  // MISSING.TXT has no size
    kv::fuzz::Check(bytes >= 0 && bytes <= 1 + 5, "more bytes counted than the batch holds");
    return 0;
}
