// A LZH archive's table of contents, as the archive view lists it.
#include "caller/areas/archive_view.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    std::string path = kv::fuzz::WriteScratchFile("FUZZ.LZH", data, size);
    ListLzhArchive(path, [](const ArchiveMember& m) {
        FormatArchiveLine(m);
        return true;
    });
    return 0;
}
