// The one body of the four archive targets: the bytes as an archive file,
// its table of contents listed line by line as the archive view lists it.
// Each line starts with the member's name (its last path part, control
// bytes blanked) cut to 12 bytes in a column of 13, holds no control byte,
// and gives a saving of at most 100%, from 0 to 100% where the member
// shrank.
#pragma once
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string>

#include "caller/areas/archive_view.h"
#include "fuzz/fuzz_support.h"

namespace kv::fuzz {

using ArchiveLister = int (*)(const std::string& path, const kv::caller::MemberSink& each);

inline int FuzzArchive(const char* name, ArchiveLister list, const uint8_t* data, size_t size) {
    InstallFixtureConfig();
    std::string path = WriteScratchFile(name, data, size);
    list(path, [](const kv::caller::ArchiveMember& m) {
        const std::string line = kv::caller::FormatArchiveLine(m);
        size_t cut = m.Name.rfind('/');
        if (cut == std::string::npos) cut = m.Name.rfind('\\');
        std::string name = cut == std::string::npos ? m.Name : m.Name.substr(cut + 1);
        for (char& c : name)
            if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) c = ' ';
        name.resize(std::min<size_t>(name.size(), 12));
        name.resize(13, ' ');
        Check(line.compare(0, 13, name) == 0, "the name column is not the member's name cut to 12");
        for (char c : line) Check(uint8_t(c) >= 0x20 && uint8_t(c) != 0x7F, "a control byte in a member's line");
        const int ratio = kv::caller::PackRatio(m.Unpacked, m.Packed);
        Check(ratio <= 100, "a saving above 100%");
        if (m.Packed > 0 && m.Packed <= m.Unpacked) Check(ratio >= 0, "a member that shrank saved less than nothing");
        return true;
    });
    return 0;
}

}  // namespace kv::fuzz
