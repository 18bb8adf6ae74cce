#include "caller/areas/archive_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "caller/areas/file_areas.h"
#include "caller/areas/file_listing.h"
#include "caller/term/call_state.h"
#include "caller/term/listing_pager.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/textfmt.h"

namespace kv::caller {
namespace {

constexpr uint32_t kZooTag = 0xFDC4A7DC;
constexpr uint32_t kZipLocalHeader = 0x04034B50;
constexpr int kRuleWidth = 56;

// An archive opened for reading at offsets; no read goes past its size.
class ArchiveFile {
public:
    explicit ArchiveFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st;
        if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
    }
    ~ArchiveFile() {
        if (fd_ >= 0) close(fd_);
    }
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    bool Open() const { return fd_ >= 0 && size_ >= 0; }
    int64_t Size() const { return size_; }
    // Whether n bytes from at lie inside the file.
    bool Holds(int64_t at, int64_t n) const { return at >= 0 && n >= 0 && at <= size_ && n <= size_ - at; }
    // Exactly n bytes from at, or false.
    bool Read(int64_t at, void* out, size_t n) const {
        if (!Holds(at, int64_t(n))) return false;
        auto* p = static_cast<uint8_t*>(out);
        while (n > 0) {
            ssize_t r = pread(fd_, p, n, at);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            p += r;
            at += r;
            n -= size_t(r);
        }
        return true;
    }
    bool ReadText(int64_t at, size_t n, std::string& out) const {
        out.assign(n, '\0');
        return Read(at, out.data(), n);
    }

private:
    int fd_;
    int64_t size_ = -1;
};

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// A name field: up to its first NUL.
std::string FieldText(const uint8_t* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

// A Unix time as MS-DOS date and time (dates before 1980 as 1980).
void DosStamp(time_t t, uint16_t& date, uint16_t& time) {
    std::tm tm{};
    localtime_r(&t, &tm);
    int year = tm.tm_year + 1900 - 1980;
    if (year < 0) year = 0;
    if (year > 127) year = 127;
    date = uint16_t(year << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    time = uint16_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
}

// LZH level 2: a 16-bit header size, the name in an extended header, the
// time as a Unix time.  false when the header does not hold together.
bool ReadLzhLevel2(const ArchiveFile& f, int64_t at, const uint8_t* base, ArchiveMember& m, int64_t& next) {
    uint16_t headerSize = U16(base);
    if (headerSize < 26 || !f.Holds(at, headerSize)) return false;
    std::string header;
    if (!f.ReadText(at, headerSize, header)) return false;
    const auto* h = reinterpret_cast<const uint8_t*>(header.data());
    m.Packed = U32(h + 7);
    m.Unpacked = U32(h + 11);
    DosStamp(time_t(U32(h + 15)), m.Date, m.Time);
    // The extended headers, each within the header: type, data, the size
    // of the next.
    size_t p = 26;
    for (size_t size = U16(h + 24); size != 0;) {
        if (size < 3 || p + size > headerSize) return false;
        if (h[p] == 1) m.Name = std::string(header, p + 1, size - 3);
        size_t following = U16(h + p + size - 2);
        p += size;
        size = following;
    }
    next = at + headerSize + m.Packed;
    return f.Holds(at, headerSize + m.Packed);
}

}  // namespace

int ArchiveType(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return kNotAnArchive;
    std::string ext(name.substr(dot + 1));
    CapitalizeName(ext);
    if (ext == "Zoo") return kZooArchive;
    if (ext == "Zip") return kZipArchive;
    if (ext == "Arc") return kArcArchive;
    if (ext == "Lzh") return kLzhArchive;
    return kNotAnArchive;
}

int ListZooArchive(const std::string& path, const MemberSink& each) {
    ArchiveFile f(path);
    uint8_t header[34];
    if (!f.Open() || !f.Read(0, header, sizeof header) || U32(header + 20) != kZooTag) return 0;
    // Entries are appended as the archive grows, so each next position lies
    // beyond the entry before it; one that does not is a damaged chain.
    int64_t at = U32(header + 24);
    for (;;) {
        uint8_t e[54];
        if (!f.Read(at, e, sizeof e) || U32(e) != kZooTag) return 0;
        int64_t next = int32_t(U32(e + 6));
        if (next <= 0) return 1;
        if (e[30] == 0) {
            ArchiveMember m;
            m.Date = U16(e + 14);
            m.Time = U16(e + 16);
            m.Unpacked = U32(e + 20);
            m.Packed = U32(e + 24);
            m.Name = FieldText(e + 38, 13);
            if (!each(m)) return 1;
        }
        if (next <= at) return 0;
        at = next;
    }
}

int ListZipArchive(const std::string& path, const MemberSink& each) {
    ArchiveFile f(path);
    if (!f.Open()) return 0;
    int64_t at = 0;
    for (int count = 0;; ++count) {
        uint8_t h[30];
        if (count > 0 && at == f.Size()) return 1;
        if (!f.Read(at, h, sizeof h)) return 0;
        // The central directory follows the last member.
        if (U32(h) != kZipLocalHeader) return count > 0 ? 1 : 0;
        ArchiveMember m;
        m.Time = U16(h + 10);
        m.Date = U16(h + 12);
        m.Packed = U32(h + 18);
        m.Unpacked = U32(h + 22);
        uint16_t nameLength = U16(h + 26), extra = U16(h + 28);
        if (!f.ReadText(at + 30, nameLength, m.Name)) return 0;
        if (!each(m)) return 1;
        // A member whose sizes follow its data cannot be stepped over.
        if (m.Packed + extra == 0) return 1;
        int64_t next = at + 30 + nameLength + extra + m.Packed;
        if (!f.Holds(next, 0)) return 0;
        at = next;
    }
}

int ListArcArchive(const std::string& path, const MemberSink& each) {
    ArchiveFile f(path);
    if (!f.Open()) return 0;
    int64_t at = 0;
    for (int count = 0;; ++count) {
        uint8_t h[29];
        // Each header begins with 0x1A; a method of 0 marks the end.
        if (!f.Read(at, h, 2) || h[0] != 0x1A) return 0;
        if (h[1] == 0) return count > 0 ? 1 : 0;
        // The oldest method has no unpacked size: its header is shorter.
        size_t size = h[1] == 1 ? 25 : 29;
        if (!f.Read(at, h, size)) return 0;
        ArchiveMember m;
        m.Name = FieldText(h + 2, 13);
        m.Packed = U32(h + 15);
        m.Date = U16(h + 19);
        m.Time = U16(h + 21);
        m.Unpacked = size == 29 ? U32(h + 25) : m.Packed;
        if (!each(m)) return 1;
        if (m.Packed == 0) return 1;
        int64_t next = at + int64_t(size) + m.Packed;
        if (!f.Holds(next, 0)) return 0;
        at = next;
    }
}

int ListLzhArchive(const std::string& path, const MemberSink& each) {
    ArchiveFile f(path);
    if (!f.Open()) return 0;
    int64_t at = 0;
    for (int count = 0;; ++count) {
        uint8_t h[22];
        if (count > 0 && at == f.Size()) return 1;
        if (!f.Read(at, h, 1)) return 0;
        if (h[0] == 0) return 1;  // the archive's end mark
        if (!f.Read(at, h, sizeof h)) return 0;
        ArchiveMember m;
        int64_t next = 0;
        if (h[20] == 2) {
            if (!ReadLzhLevel2(f, at, h, m, next)) return 0;
        } else {
            // Levels 0 and 1: the header size counts from the third byte.
            size_t nameLength = h[21];
            int64_t headerSize = int64_t(h[0]) + 2;
            if (nameLength == 0 || headerSize < 22 + int64_t(nameLength)) return 0;
            if (!f.ReadText(at + 22, nameLength, m.Name)) return 0;
            if (uint8_t(m.Name[0]) < 33) return 0;
            m.Packed = U32(h + 7);
            m.Unpacked = U32(h + 11);
            m.Time = U16(h + 15);
            m.Date = U16(h + 17);
            next = at + headerSize + m.Packed;
            if (!f.Holds(next, 0)) return 0;
        }
        if (!each(m)) return 1;
        at = next;
    }
}

int PackRatio(int64_t unpacked, int64_t packed) {
    if (unpacked == 0 || packed == 0) return 0;
    if (packed > 100000) {
        unpacked /= 1000;
        packed /= 1000;
    }
    if (unpacked == 0) return 0;
    return int(100 - packed * 100 / unpacked);
}

std::string FormatArchiveLine(const ArchiveMember& m) {
    std::string_view name = m.Name;
    size_t cut = name.rfind('/');
    if (cut == std::string_view::npos) cut = name.rfind('\\');
    if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
    // The name comes from whoever made the archive: no byte of it may move
    // the caller's cursor, clear the screen or end the line.
    std::string shown(name);
    for (char& c : shown) {
        if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) c = ' ';
    }
    return FormatChecked("%-13.12s  %7ld  %7ld  %2d%%  %s  %s", shown, long(m.Unpacked), long(m.Packed),
                        PackRatio(m.Unpacked, m.Packed), FormatDosDate(m.Date), FormatDosTime(m.Time));
}

namespace {

void ShowArchiveHeading(const std::string& name) {
    if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
    if (Call().ColorOn) SetColor(15, 0);
    PutLine(FormatText(455, name));
    PutColorText(GetText(456), true, false, 0, kColorKeys);
    PutColorText(std::string(kRuleWidth, '-'), true, false, 0, kColorHighlight);
}

void ShowArchiveTotals(int count, int64_t unpacked, int64_t packed, bool stopped) {
    PutColorText(std::string(kRuleWidth, '-'), true, false, 0, kColorHighlight);
    std::string text = FormatText(457, count, count > 1 ? 's' : ' ', long(unpacked), long(packed),
                                  PackRatio(unpacked, packed), stopped ? GetText(506) : std::string());
    PutColorText(text, true, false, 0, kColorKeys);
}

// Runs the kind's reader with the listing on the screen.
int ShowArchive(int kind, const std::string& path, const std::string& name) {
    ShowArchiveHeading(name);
    int count = 0;
    int64_t unpacked = 0, packed = 0;
    bool stopped = false;
    int result = 0;
    {
        ListingPager pager(3);
        MemberSink show = [&](const ArchiveMember& m) {
            ++count;
            unpacked += m.Unpacked;
            packed += m.Packed;
            SetColorPair(kColorTitle);
            if (pager.Put(FormatArchiveLine(m))) pager.LineEnd();
            stopped = pager.Stopped();
            return !stopped;
        };
        switch (kind) {
        case kZooArchive: result = ListZooArchive(path, show); break;
        case kZipArchive: result = ListZipArchive(path, show); break;
        case kArcArchive: result = ListArcArchive(path, show); break;
        default: result = ListLzhArchive(path, show); break;
        }
    }
    if (result == 1 && count > 0) ShowArchiveTotals(count, unpacked, packed, stopped);
    return result;
}

}  // namespace

void ViewArchive(const std::string& argument) {
    int area = -1;
    std::string dir = FileAreaArgument(argument, area);
    if (dir.empty()) return;
    if (dir.back() != '/') dir += '/';

    PutLine();
    std::string name;
    AskInput(true, false, GetText(448), name, 14);
    PutLine();
    PutLine();
    if (name.empty() || name[0] == kKeyEsc) return;

    int kind = ArchiveType(name);
    if (kind == kNotAnArchive) {
        RingBell();
        PutColorText(GetText(452), true, false, 0, kColorWarning);
        SetBold();
        PutString(GetText(453));
        PutLine("Zoo, Zip, Arc, Lzh");
        ResetAttributes();
        WaitAfterListing();
        return;
    }
    // The name is one file of the area, never a path out of it.
    std::string path = dir + name;
    if (!FileNameIsSafe(name) || !FileExists(path, kPlainPath)) {
        RingBell();
        PutColorText(GetText(451), true, false, 2, kColorWarning);
        return;
    }
    if (ShowArchive(kind, path, name) == 1) {
        PutColorText(GetText(450), false, false, 0, kColorPrompt);
        GetKey();
        PutLine();
        PutLine();
    } else {
        RingBell();
        PutColorText(GetText(449), true, false, 2, kColorWarning);
    }
}

}  // namespace kv::caller
