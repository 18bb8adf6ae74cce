// The configuration record's layout against the offsets of the file format,
// and the loader's file search.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/config_record.h"
#include "common/runtime.h"
#include "server/config_loader.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

// Offsets as the file format fixes them; a visitor records where the
// record puts each named field.
struct OffsetCollector {
    std::map<std::string, std::pair<size_t, size_t>> at;
    std::vector<std::pair<std::string, size_t>> stack;
    std::string prefix;
    size_t base = 0;
    void Enter(const char* name, int index, size_t off) {
        stack.emplace_back(prefix, base);
        prefix += std::string(name) + (index >= 0 ? "[" + std::to_string(index) + "]" : "") + ".";
        base += off;
    }
    void Leave() {
        prefix = stack.back().first;
        base = stack.back().second;
        stack.pop_back();
    }
    template <class T>
    void Field(const char* name, size_t off, size_t width, T&) { at[prefix + name] = {base + off, width}; }
};

struct FieldCase {
    const char* name;
    size_t offset, width;
};

const FieldCase kFields[] = {
    {"BbsName", 0, 75},           {"SysopName", 75, 41},          {"QuoteTemplate", 198, 5},
    {"UploadCredit", 203, 1},     {"AllowShellEscapes", 213, 1},  {"LineLogName", 214, 75},
    {"MonitorPath", 290, 75},     {"MultiLine", 365, 1},          {"NewUserAnsi", 496, 1},
    {"NewUserHotKeys", 507, 1},   {"PasswordTries", 508, 2},      {"InactivityTimeout", 516, 2},
    {"WatchdogArea", 520, 2},     {"PageRings", 554, 2},          {"PageSound", 558, 2},
    {"PagingHours.Start", 560, 6}, {"PagingHours.End", 566, 6},   {"SysopConsole", 572, 74},
    {"DataDir", 646, 80},         {"MsgBaseDir", 966, 80},        {"WorkDir", 1206, 80},
    {"SysopEditor", 1366, 80},    {"NewUserLevel", 1448, 4},      {"NewUserFlagGroups", 1452, 4},
    {"AttachLevel", 1468, 4},     {"Colors[0].Foreground", 1520, 1}, {"Colors[5].Background", 1531, 1},
    {"MinLogonSpeed", 1564, 2},   {"LowSpeedHours.Start", 1570, 6}, {"DownloadHours.End", 1588, 6},
    {"MinFreeSpace", 1596, 4},    {"OpenHours.Start", 1600, 6},   {"ClosedSystem", 1612, 1},
    {"Protocols[0].ProtocolName", 1650, 21}, {"Protocols[19].UploadNameOffset", 1648 + 19 * 598 + 596, 2},
    {"Protocols[1].DownloadKeyword", 1648 + 598 + 562, 16},
    {"MsgAreas[0].AreaDefined", 13608, 2}, {"MsgAreas[0].AreaSignature", 13608 + 52, 76},
    {"MsgAreas[99].AreaSysopFlags", 13608 + 99 * 216 + 148, 4}, {"MsgAreas[3].LineLimit", 13608 + 3 * 216 + 36, 2},
    {"FileAreas[0].AreaDir", 35208 + 23, 81}, {"FileAreas[49].OpenArea", 35208 + 49 * 240 + 205, 1},
    {"PhoneTemplate", 47208, 21}, {"DateOrder", 47229, 1},         {"MailerPath", 47358, 81},
    {"FromTemplate", 47520, 61},  {"SenderPath", 47662, 81},       {"MailArea", 47824, 2},
    {"MmdfMailbox", 47826, 1},    {"ExtraHeader", 47827, 274},     {"NewsSpool", 48182, 81},
    {"MaxGroups", 48348, 2},      {"NewsHeaders[0].HeaderName", 48362, 20},
    {"NewsHeaders[22].HeaderShown", 48362 + 22 * 22 + 21, 1}, {"ArticleColor", 48888, 1},
};

TEST(ConfigRecord, FieldsSitAtTheirOffsets) {
    OffsetCollector c;
    ConfigRecord r;
    Visit(c, r);
    for (const auto& f : kFields) {
        auto it = c.at.find(f.name);
        ASSERT_NE(it, c.at.end()) << f.name;
        EXPECT_EQ(it->second.first, f.offset) << f.name;
        EXPECT_EQ(it->second.second, f.width) << f.name;
    }
}

TEST(ConfigRecord, EncodesLittleEndianAndCutsTexts) {
    ConfigRecord r;
    r.BbsName = std::string(200, 'x');  // far wider than its 75 bytes
    r.SysopName = "Sam";
    r.PasswordTries = 0x0102;
    r.NewUserLevel = -2;
    r.MsgAreas[1].MaxMessages = 0x01020304;
    ConfigBytes slot;
    slot.fill(0xEE);
    EncodeConfig(r, slot.data());
    EXPECT_EQ(slot[73], 'x');
    EXPECT_EQ(slot[74], 0);  // NUL inside the field
    EXPECT_EQ(slot[75], 'S');
    EXPECT_EQ(slot[508], 0x02);
    EXPECT_EQ(slot[509], 0x01);
    EXPECT_EQ(slot[1448], 0xFE);
    EXPECT_EQ(slot[1451], 0xFF);
    EXPECT_EQ(slot[13608 + 216 + 32], 0x04);
    EXPECT_EQ(slot[kConfigSlotSize - 1], 0);

    ConfigRecord back = DecodeConfig(slot.data());
    EXPECT_EQ(back.BbsName, std::string(74, 'x'));
    EXPECT_EQ(back.PasswordTries, 0x0102);
    EXPECT_EQ(back.NewUserLevel, -2);
    EXPECT_EQ(back.MsgAreas[1].MaxMessages, 0x01020304);
}

TEST(ConfigRecord, TextWithoutNulIsCutAtItsWidth) {
    ConfigBytes slot{};
    std::memset(slot.data(), 'A', 100);  // BbsName and SysopName full, no NUL
    ConfigRecord r = DecodeConfig(slot.data());
    EXPECT_EQ(r.BbsName, std::string(75, 'A'));
    EXPECT_EQ(r.SysopName, std::string(25, 'A'));
}

// The loader looks in the working directory, then at KIVOCNF.
class ConfigLoader : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvconf.XXXXXX";
        dir_ = mkdtemp(tmpl);
        old_ = fs::current_path();
        fs::create_directories(dir_ / "cwd");
        fs::current_path(dir_ / "cwd");
        unsetenv("KIVOCNF");
    }
    void TearDown() override {
        fs::current_path(old_);
        unsetenv("KIVOCNF");
        fs::remove_all(dir_);
    }
    void Write(const fs::path& p, const std::string& name, size_t size) {
        ConfigRecord r;
        r.BbsName = name;
        std::vector<uint8_t> bytes(std::max(size, kConfigSlotSize), 0);
        EncodeConfig(r, bytes.data());
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
    }
    fs::path dir_, old_;
};

TEST_F(ConfigLoader, WorkingDirectoryWinsOverKivocnf) {
    Write(dir_ / "cwd" / "kvconfig.bbs", "Here", kConfigFileSize);
    Write(dir_ / "other.bbs", "There", kConfigFileSize);
    setenv("KIVOCNF", (dir_ / "other.bbs").c_str(), 1);
    ASSERT_EQ(LoadConfig(), 1);
    EXPECT_EQ(Config().BbsName, "Here");
    fs::remove(dir_ / "cwd" / "kvconfig.bbs");
    ASSERT_EQ(LoadConfig(), 1);
    EXPECT_EQ(Config().BbsName, "There");
}

TEST_F(ConfigLoader, RefusesWhatIsNotAWholeFile) {
    EXPECT_EQ(LoadConfig(), 0);  // nothing anywhere
    setenv("KIVOCNF", dir_.c_str(), 1);
    EXPECT_EQ(LoadConfig(), 0);  // a directory
    Write(dir_ / "short.bbs", "Short", kConfigFileSize - 1);
    setenv("KIVOCNF", (dir_ / "short.bbs").c_str(), 1);
    EXPECT_EQ(LoadConfig(), 0);
    Write(dir_ / "long.bbs", "Long", kConfigFileSize + 700);
    setenv("KIVOCNF", (dir_ / "long.bbs").c_str(), 1);
    EXPECT_EQ(LoadConfig(), 1);
    EXPECT_EQ(Config().BbsName, "Long");
}

}  // namespace
