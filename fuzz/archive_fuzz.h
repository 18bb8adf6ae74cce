// The one body of the four archive targets: the bytes as an archive file,
// its table of contents listed line by line as the archive view lists it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "caller/areas/archive_view.h"
#include "fuzz/fuzz_support.h"

namespace kv::fuzz {

using ArchiveLister = int (*)(const std::string& path, const kv::caller::MemberSink& each);

inline int FuzzArchive(const char* name, ArchiveLister list, const uint8_t* data, size_t size) {
    InstallFixtureConfig();
    std::string path = WriteScratchFile(name, data, size);
    list(path, [](const kv::caller::ArchiveMember& m) {
        kv::caller::FormatArchiveLine(m);
        return true;
    });
    return 0;
}

}  // namespace kv::fuzz
