// A LZH archive's table of contents, as the archive view lists it.
#include "fuzz/archive_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kv::fuzz::FuzzArchive("FUZZ.LZH", kv::caller::ListLzhArchive, data, size);
}
