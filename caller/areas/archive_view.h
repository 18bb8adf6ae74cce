// Archive view (menu command 34): the table of contents of an archive in a
// file area, read without unpacking it.
//
// The kind comes from the name's extension: ZOO, ZIP, ARC or LZH.  Each
// reader walks the archive's own per-member headers.  Archives come from
// callers, so every header is read within the file's size, every name
// within its header, and every walk only ever moves forward: a damaged or
// hostile archive ends its listing with the failure text, never a crash or
// an endless loop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kv::caller {

enum ArchiveKind { kNotAnArchive = 0, kZooArchive = 1, kZipArchive = 2, kArcArchive = 3, kLzhArchive = 4 };

// The kind of an archive by its name's extension (any case); kNotAnArchive
// for a name without '.' or with another extension.
int ArchiveType(std::string_view name);

struct ArchiveMember {
    std::string Name;      // as stored, paths included
    int64_t Unpacked = 0;
    int64_t Packed = 0;
    uint16_t Date = 0;     // MS-DOS packed date and time
    uint16_t Time = 0;
};

// Called for each member in turn; false stops the walk.
using MemberSink = std::function<bool(const ArchiveMember&)>;

// The readers: 1 when the archive was read (to its end or until the sink
// stopped), 0 when it cannot be read or is damaged.
int ListZooArchive(const std::string& path, const MemberSink& each);
int ListZipArchive(const std::string& path, const MemberSink& each);
int ListArcArchive(const std::string& path, const MemberSink& each);
int ListLzhArchive(const std::string& path, const MemberSink& each);

// The saving in percent: 100 - packed x 100 / unpacked, 0 when either is 0;
// sizes above 100000 packed bytes are counted in thousands.
int PackRatio(int64_t unpacked, int64_t packed);

// One member's line: its name (after the last '/' or '\'), sizes, saving,
// date and time.
std::string FormatArchiveLine(const ArchiveMember& m);

void ViewArchive(const std::string& argument);

}  // namespace kv::caller
