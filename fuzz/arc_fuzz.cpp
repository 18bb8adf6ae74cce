// A ARC archive's table of contents, as the archive view lists it.
#include "fuzz/archive_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kv::fuzz::FuzzArchive("FUZZ.ARC", kv::caller::ListArcArchive, data, size);
}
