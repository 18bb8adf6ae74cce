// Who may read, write or act as sysop in a message area.
#include <gtest/gtest.h>

#include "caller/areas/area_access.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"

using namespace kv;
using namespace kv::caller;

namespace {

struct AccessCase {
    const char* what;
    int32_t level;        // the caller's
    FlagGroups flags;     // the caller's
    int area;
    int kind;
    int want;
};

// Area 0: levels 10/20/30 to read/write/act as sysop, flag A3 (mask 4 of
// group A) to read and D8 to write.  Area 1: restricted (PostingMode 3)
// with a write level of 5.  Area 2: not defined.  Area 3: negative levels.
ConfigRecord AccessConfig() {
    ConfigRecord c;
    MsgAreaDef& a = c.MsgAreas[0];
    a.AreaDefined = 1;
    a.ReadLevel = 10;
    a.WriteLevel = 20;
    a.AreaSysopLevel = 30;
    a.ReadFlags = {4, 0, 0, 0};
    a.WriteFlags = {0, 0, 0, 128};
    MsgAreaDef& r = c.MsgAreas[1];
    r.AreaDefined = 1;
    r.PostingMode = 3;
    r.WriteLevel = 5;
    r.AreaSysopLevel = 100;
    c.MsgAreas[2].ReadLevel = -100;
    MsgAreaDef& n = c.MsgAreas[3];
    n.AreaDefined = 7;
    n.ReadLevel = -5;
    return c;
}

constexpr FlagGroups kAll = {255, 255, 255, 255};
constexpr FlagGroups kNone = {0, 0, 0, 0};

const AccessCase kCases[] = {
    {"read at the level with the flag", 10, {4, 0, 0, 0}, 0, kAreaRead, 1},
    {"read below the level", 9, kAll, 0, kAreaRead, 0},
    {"read without flag A3, whatever the level", 64000, {251, 255, 255, 255}, 0, kAreaRead, 0},
    {"write needs its own level", 19, kAll, 0, kAreaWrite, 0},
    {"write at the level with flag D8", 20, {0, 0, 0, 128}, 0, kAreaWrite, 1},
    {"write without flag D8", 20, {4, 0, 0, 127}, 0, kAreaWrite, 0},
    {"sysop rights below their level", 29, kAll, 0, kAreaSysop, 0},
    {"sysop rights at their level, no flags asked", 30, kNone, 0, kAreaSysop, 1},
    {"restricted area: its write level is not enough", 63999, kAll, 1, kAreaWrite, 0},
    {"restricted area: the sysop level writes", 64000, kNone, 1, kAreaWrite, 1},
    {"restricted area: reading is open", 0, kNone, 1, kAreaRead, 1},
    {"an area not defined", 64000, kAll, 2, kAreaRead, 0},
    {"a negative level is open to a level of 0", 0, kNone, 3, kAreaRead, 1},
    {"a negative level is still compared", -6, kNone, 3, kAreaRead, 0},
    {"below the first area", 64000, kAll, -1, kAreaRead, 0},
    {"past the last area", 64000, kAll, 100, kAreaRead, 0},
};

TEST(CanUseMessageArea, Table) {
    SetConfig(AccessConfig());
    for (const AccessCase& t : kCases) {
        Call().User.SecurityLevel = t.level;
        Call().User.Flags = t.flags;
        EXPECT_EQ(CanUseMessageArea(t.area, t.kind), t.want) << t.what;
    }
    SetConfig(ConfigRecord{});
}

}  // namespace
