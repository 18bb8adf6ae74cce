// The archive readers on real archives: ZIP made by zip(1), ZOO, ARC and
// LZH (levels 0, 1 and 2) written byte by byte as their programs lay them
// out; broken archives; and mutated headers that must neither crash nor
// hang a reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "caller/areas/archive_view.h"
#include "common/runtime.h"
#include "tests/fileareas/scratch_dir.h"
#include "tests/support/board.h"

using namespace kv;
using namespace kv::caller;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kDate = (2024 - 1980) << 9 | 3 << 5 | 5;  // 03/05/24
constexpr uint16_t kTime = 10 << 11 | 20 << 5 | 15;          // 10:20:30

using Bytes = std::string;

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = char(v & 0xff);
    b[at + 1] = char(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, uint16_t(v));
    Put16(b, at + 2, uint16_t(v >> 16));
}
void PutText(Bytes& b, size_t at, const std::string& s) {
    if (b.size() < at + s.size()) b.resize(at + s.size());
    b.replace(at, s.size(), s);
}

struct Member {
    std::string name;
    uint32_t unpacked;
    std::string data;  // the packed bytes
};

const std::vector<Member> kMembers = {{"README.TXT", 1000, std::string(400, 'r')}, {"dir/TOOL.EXE", 250000, std::string(1250, 't')}};

Bytes Zoo(const std::vector<Member>& ms) {
    Bytes b(34, '\0');
    PutText(b, 0, "ZOO 2.10 Archive.\x1a");
    Put32(b, 20, 0xFDC4A7DC);
    Put32(b, 24, 34);
    for (size_t i = 0; i <= ms.size(); ++i) {
        size_t at = b.size();
        Bytes e(54, '\0');
        Put32(e, 0, 0xFDC4A7DC);
        e[4] = 2;
        if (i < ms.size()) {
            Put32(e, 6, uint32_t(at + 54 + ms[i].data.size()));
            Put32(e, 10, uint32_t(at + 54));
            Put16(e, 14, kDate);
            Put16(e, 16, kTime);
            Put32(e, 20, ms[i].unpacked);
            Put32(e, 24, uint32_t(ms[i].data.size()));
            PutText(e, 38, ms[i].name.substr(0, 12));
            b += e + ms[i].data;
        } else {
            b += e;  // the last entry: next position 0
        }
    }
    return b;
}

Bytes Arc(const std::vector<Member>& ms) {
    Bytes b;
    for (const Member& m : ms) {
        Bytes h(29, '\0');
        h[0] = 0x1a;
        h[1] = 8;
        PutText(h, 2, m.name.substr(0, 12));
        Put32(h, 15, uint32_t(m.data.size()));
        Put16(h, 19, kDate);
        Put16(h, 21, kTime);
        Put32(h, 25, m.unpacked);
        b += h + m.data;
    }
    return b + std::string("\x1a\0", 2);
}

Bytes Lzh(const std::vector<Member>& ms, int level) {
    Bytes b;
    for (const Member& m : ms) {
        Bytes h;
        if (level < 2) {
            size_t n = m.name.size();
            size_t total = 24 + n + (level == 1 ? 3 : 0);
            h.assign(total, '\0');
            h[0] = char(total - 2);
            PutText(h, 2, level == 1 ? "-lh5-" : "-lh0-");
            Put32(h, 7, uint32_t(m.data.size()));
            Put32(h, 11, m.unpacked);
            Put16(h, 15, kTime);
            Put16(h, 17, kDate);
            h[19] = 0x20;
            h[20] = char(level);
            h[21] = char(n);
            PutText(h, 22, m.name);
            if (level == 1) h[24 + n] = 'U';
        } else {
            size_t ext = 3 + m.name.size();
            h.assign(26 + ext, '\0');
            Put16(h, 0, uint16_t(h.size()));
            PutText(h, 2, "-lh5-");
            Put32(h, 7, uint32_t(m.data.size()));
            Put32(h, 11, m.unpacked);
            Put32(h, 15, 1709634030);
            h[19] = 0x20;
            h[20] = 2;
            h[23] = 'U';
            Put16(h, 24, uint16_t(ext));
            h[26] = 1;  // the file name
            PutText(h, 27, m.name);
        }
        b += h + m.data;
    }
    return b + std::string(1, '\0');
}

class ArchiveTest : public test::ScratchDirTest {
protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        std::string p = (dir / name).string();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // The reader of the name's kind on the file: its result and members.
    int List(const std::string& path, std::vector<ArchiveMember>* out = nullptr) {
        std::vector<ArchiveMember> got;
        MemberSink each = [&](const ArchiveMember& m) {
            got.push_back(m);
            return true;
        };
        int r = -1;
        switch (ArchiveType(path)) {
        case kZooArchive: r = ListZooArchive(path, each); break;
        case kZipArchive: r = ListZipArchive(path, each); break;
        case kArcArchive: r = ListArcArchive(path, each); break;
        case kLzhArchive: r = ListLzhArchive(path, each); break;
        }
        if (out) *out = got;
        return r;
    }
};

TEST(ArchiveType, ByExtensionInAnyCase) {
    struct Case {
        const char* name;
        int kind;
    } cases[] = {{"TOOLS.ZIP", kZipArchive}, {"tools.zip", kZipArchive}, {"Tools.Zip", kZipArchive},
                 {"a.b.zoo", kZooArchive},   {"x.ARC", kArcArchive},     {"x.lzh", kLzhArchive},
                 {"tools.tgz", kNotAnArchive}, {"ZIP", kNotAnArchive},   {"tools.", kNotAnArchive}};
    for (const Case& t : cases) EXPECT_EQ(ArchiveType(t.name), t.kind) << t.name;
}

TEST(PackRatio, Table) {
    struct Case {
        int64_t unpacked, packed;
        int want;
    } cases[] = {{250000, 125000, 50}, {1000, 400, 60}, {0, 10, 0}, {10, 0, 0}, {100, 150, -50},
                 {900, 200000, 0} /* unpacked counted in thousands: 0 */, {4000000000LL, 3000000000LL, 25}};
    for (const Case& t : cases) EXPECT_EQ(PackRatio(t.unpacked, t.packed), t.want) << t.unpacked << "/" << t.packed;
}

TEST_F(ArchiveTest, EachKindListsItsMembers) {
    std::vector<std::pair<std::string, Bytes>> archives = {
        {"a.zoo", Zoo(kMembers)}, {"a.arc", Arc(kMembers)}, {"a0.lzh", Lzh(kMembers, 0)}, {"a1.lzh", Lzh(kMembers, 1)}};
    for (const auto& [name, bytes] : archives) {
        std::vector<ArchiveMember> got;
        ASSERT_EQ(List(Write(name, bytes), &got), 1) << name;
        ASSERT_EQ(got.size(), 2u) << name;
        EXPECT_EQ(FormatArchiveLine(got[0]), "README.TXT        1000      400  60%  03/05/24  10h20:30") << name;
        EXPECT_EQ(FormatArchiveLine(got[1]), "TOOL.EXE        250000     1250  100%  03/05/24  10h20:30") << name;
    }
    std::vector<ArchiveMember> got;
    ASSERT_EQ(List(Write("a2.lzh", Lzh(kMembers, 2)), &got), 1);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].Name, "dir/TOOL.EXE");
    EXPECT_EQ(got[1].Unpacked, 250000);
    EXPECT_EQ(got[1].Packed, 1250);
}

// Member names are the archive maker's bytes: none of them reaches the
// caller's screen as a control (an escape, a line end, a NUL).
TEST_F(ArchiveTest, ControlBytesInNamesAreShownAsBlanks) {
    const std::vector<Member> hostile = {{std::string("A\x1b[2J\r\n\0\x7f.T", 11), 10, "x"}};
    std::vector<std::pair<std::string, Bytes>> archives = {{"h.zoo", Zoo(hostile)},
                                                           {"h.arc", Arc(hostile)},
                                                           {"h1.lzh", Lzh(hostile, 1)},
                                                           {"h2.lzh", Lzh(hostile, 2)}};
    for (const auto& [name, bytes] : archives) {
        std::vector<ArchiveMember> got;
        ASSERT_EQ(List(Write(name, bytes), &got), 1) << name;
        ASSERT_EQ(got.size(), 1u) << name;
        std::string line = FormatArchiveLine(got[0]);
        for (char c : line) EXPECT_FALSE(uint8_t(c) < 0x20 || uint8_t(c) == 0x7f) << name << ": " << int(c);
        EXPECT_EQ(line.substr(0, 7), "A [2J  ") << name;
    }
}

TEST_F(ArchiveTest, AZipMadeByZip) {
    for (const char* n : {"one.txt", "two.txt"}) std::ofstream(dir / n) << std::string(3000, n[0]);
    test::RunResult r = test::RunProgram({"/usr/bin/zip", "-q", "-X", "made.zip", "one.txt", "two.txt"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<ArchiveMember> got;
    ASSERT_EQ(List((dir / "made.zip").string(), &got), 1);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Name, "one.txt");
    EXPECT_EQ(got[1].Name, "two.txt");
    EXPECT_EQ(got[1].Unpacked, 3000);
    EXPECT_LT(got[1].Packed, 3000);
    // A member without packed bytes or extra field ends the walk after it.
    Bytes z(30, '\0');
    Put32(z, 0, 0x04034B50);
    Put16(z, 26, 5);
    z += "empty" + Bytes(30, '\0');
    Put32(z, 35, 0x04034B50);
    ASSERT_EQ(List(Write("empty.zip", z), &got), 1);
    EXPECT_EQ(got.size(), 1u);
}

TEST_F(ArchiveTest, BrokenArchivesCannotBeRead) {
    Bytes zoo = Zoo(kMembers), arc = Arc(kMembers), lzh = Lzh(kMembers, 0), lzh2 = Lzh(kMembers, 2);
    Bytes zip(30, '\0');
    Put32(zip, 0, 0x04034B50);
    Put32(zip, 18, 10);
    Put16(zip, 26, 5);
    zip += "a.txt" + Bytes(10, 'x');

    Bytes loop = zoo;
    Put32(loop, 34 + 54 + 400 + 6, 34);  // the second entry points back to the first
    Bytes hugeName = zip;
    Put16(hugeName, 26, 65535);
    Bytes negative = arc;
    Put32(negative, 15, 0xFFFFFFF0);  // a packed size read as negative
    Bytes lzh2Ext = lzh2;
    Put16(lzh2Ext, 24, 0xFFFF);  // an extended header past its header
    Bytes lzhName = lzh;
    lzhName[0] = 3;  // a header too short for its name

    struct Case {
        const char* what;
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"empty file", "e.zip", ""},
        {"not an archive", "text.zip", "just some text, no headers at all"},
        {"zip cut in its data", "cut.zip", zip.substr(0, zip.size() - 3)},
        {"zip cut in its header", "cuth.zip", zip.substr(0, 20)},
        {"zip name past the end", "name.zip", hugeName},
        {"zoo chain looping back", "loop.zoo", loop},
        {"zoo cut short", "cut.zoo", zoo.substr(0, zoo.size() - 10)},
        {"zoo without its tag", "tag.zoo", Bytes(100, 'Z')},
        {"arc size past the end", "neg.arc", negative},
        {"arc without its end", "cut.arc", arc.substr(0, arc.size() - 2)},
        {"arc of another format", "x.arc", "PK\x03\x04 not an arc"},
        {"lzh cut in its data", "cut.lzh", lzh.substr(0, 100)},
        {"lzh header shorter than its name", "short.lzh", lzhName},
        {"lzh level 2 extension past its header", "ext.lzh", lzh2Ext},
        {"lzh level 2 cut short", "cut2.lzh", lzh2.substr(0, 40)},
    };
    for (const Case& t : cases) EXPECT_EQ(List(Write(t.name, t.bytes)), 0) << t.what;
    EXPECT_EQ(List((dir / "missing.zip").string()), 0);
    EXPECT_EQ(List(Write("good.zip", zip)), 1);
}

// Random changes to the bytes of each kind's archive: every reader must
// come back, with 0 or 1, whatever it meets.  Run under the sanitizers,
// this finds any read outside a buffer.
TEST_F(ArchiveTest, MutatedHeadersNeverCrashOrHang) {
    Bytes zip(30, '\0');
    Put32(zip, 0, 0x04034B50);
    Put32(zip, 18, 10);
    Put16(zip, 26, 5);
    zip += "a.txt" + Bytes(10, 'x');
    zip += zip;
    std::vector<std::pair<std::string, Bytes>> seeds = {{"f.zoo", Zoo(kMembers)}, {"f.arc", Arc(kMembers)},
                                                         {"f.lzh", Lzh(kMembers, 1)}, {"g.lzh", Lzh(kMembers, 2)},
                                                         {"f.zip", zip}};
    std::mt19937 rng(1138);
    for (const auto& [name, seed] : seeds) {
        for (int round = 0; round < 300; ++round) {
            Bytes b = seed;
            int changes = 1 + int(rng() % 6);
            for (int i = 0; i < changes; ++i) {
                // Mostly the header bytes, where the lengths and links are.
                size_t at = rng() % 4 ? rng() % std::min<size_t>(b.size(), 120) : rng() % b.size();
                b[at] = char(rng() % 3 == 0 ? 0xff : rng());
            }
            if (rng() % 8 == 0) b.resize(rng() % b.size());
            int r = List(Write(name, b));
            ASSERT_TRUE(r == 0 || r == 1) << name << " round " << round;
        }
    }
}

}  // namespace
