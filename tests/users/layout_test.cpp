// The user record against the byte layout of "users.bbs": every field at its
// offset and width, little-endian, texts cut to fit and NUL-ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "common/user_record.h"
#include "common/users.h"

using namespace kv;

namespace {

struct FieldCase {
    const char* field;
    size_t offset, width;
    std::function<void(UserRecord&)> set;
    std::vector<uint8_t> want;  // the field's bytes; the rest of it zero
};

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

const std::string k40(40, 'x');

const FieldCase kFields[] = {
    {"Name", 0, 36, [](UserRecord& u) { u.Name = k40; }, Text(std::string(35, 'x'))},
    {"Location", 36, 26, [](UserRecord& u) { u.Location = k40; }, Text(std::string(25, 'x'))},
    {"Password", 62, 16, [](UserRecord& u) { u.Password = k40; }, Text(std::string(15, 'x'))},
    {"DataPhone", 78, 21, [](UserRecord& u) { u.DataPhone = k40; }, Text(std::string(20, 'x'))},
    {"HomePhone", 99, 21, [](UserRecord& u) { u.HomePhone = "(555) 010-0000"; }, Text("(555) 010-0000")},
    {"LastCallDate", 120, 9, [](UserRecord& u) { u.LastCallDate = "12/31/99"; }, Text("12/31/99")},
    {"LastCallTime", 129, 9, [](UserRecord& u) { u.LastCallTime = "23:59:58"; }, Text("23:59:58")},
    {"Options", 138, 1, [](UserRecord& u) { u.Options = USER_DELETED | USER_NO_DISTURB; }, {0x81}},
    {"Options2", 139, 1, [](UserRecord& u) { u.Options2 = USER_HOT_KEYS | USER_NO_ESCAPES; }, {0x03}},
    {"Flags", 140, 4, [](UserRecord& u) { u.Flags = {1, 2, 4, 128}; }, {1, 2, 4, 128}},
    {"Credit", 144, 4, [](UserRecord& u) { u.Credit = -2; }, {0xFE, 0xFF, 0xFF, 0xFF}},
    {"Pending", 148, 4, [](UserRecord& u) { u.Pending = 0x01020304; }, {4, 3, 2, 1}},
    {"MessagesPosted", 152, 4, [](UserRecord& u) { u.MessagesPosted = 7; }, {7}},
    {"HighestRead", 156, 4, [](UserRecord& u) { u.HighestRead = 70000; }, {0x70, 0x11, 0x01}},
    {"SecurityLevel", 160, 4, [](UserRecord& u) { u.SecurityLevel = 64000; }, {0x00, 0xFA}},
    {"TotalCalls", 164, 4, [](UserRecord& u) { u.TotalCalls = 0xFFFFFFFEu; }, {0xFE, 0xFF, 0xFF, 0xFF}},
    {"UploadedFiles", 168, 4, [](UserRecord& u) { u.UploadedFiles = 9; }, {9}},
    {"DownloadedFiles", 172, 4, [](UserRecord& u) { u.DownloadedFiles = 10; }, {10}},
    {"UploadedKb", 176, 4, [](UserRecord& u) { u.UploadedKb = 11; }, {11}},
    {"DownloadedKb", 180, 4, [](UserRecord& u) { u.DownloadedKb = 12; }, {12}},
    {"TodayKb", 184, 4, [](UserRecord& u) { u.TodayKb = 13; }, {13}},
    {"ScreenLength", 192, 4, [](UserRecord& u) { u.ScreenLength = 52; }, {52}},
    {"PasswordCalls", 196, 4, [](UserRecord& u) { u.PasswordCalls = 14; }, {14}},
    {"CallsToday", 200, 2, [](UserRecord& u) { u.CallsToday = 0x1234; }, {0x34, 0x12}},
    {"MinutesToday", 202, 2, [](UserRecord& u) { u.MinutesToday = -3; }, {0xFD, 0xFF}},
    {"ScanAreas", 204, 13, [](UserRecord& u) { for (size_t i = 0; i < 13; ++i) u.ScanAreas[i] = uint8_t(i + 1); },
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
    {"ClearScreenLength", 217, 1, [](UserRecord& u) { u.ClearScreenLength = 15; }, {15}},
    {"ClearScreenCodes", 218, 15, [](UserRecord& u) { u.ClearScreenCodes.fill(0x1B); }, std::vector<uint8_t>(15, 0x1B)},
    {"FirstCallDate", 233, 9, [](UserRecord& u) { u.FirstCallDate = "01/02/03"; }, Text("01/02/03")},
    {"SubscriptionEnd", 242, 9, [](UserRecord& u) { u.SubscriptionEnd = "00/00/00"; }, Text("00/00/00")},
    {"AmountPaid", 252, 4, [](UserRecord& u) { u.AmountPaid = 1.5f; }, {0x00, 0x00, 0xC0, 0x3F}},
    {"MsgArea", 256, 2, [](UserRecord& u) { u.MsgArea = 99; }, {99}},
    {"FileArea", 258, 2, [](UserRecord& u) { u.FileArea = -1; }, {0xFF, 0xFF}},
    {"Comment1", 260, 60, [](UserRecord& u) { u.Comment1 = std::string(70, 'c'); }, Text(std::string(59, 'c'))},
    {"Comment2", 320, 60, [](UserRecord& u) { u.Comment2 = "Inserted by Kivo"; }, Text("Inserted by Kivo")},
    {"Alias", 380, 10, [](UserRecord& u) { u.Alias = "toolongalias"; }, Text("toolongal")},
};

TEST(UserLayout, EveryFieldAtItsOffset) {
    const UserBytes base = EncodeUserRecord(UserRecord{});
    for (const auto& c : kFields) {
        SCOPED_TRACE(c.field);
        UserRecord u;
        c.set(u);
        UserBytes got = EncodeUserRecord(u);
        for (size_t i = 0; i < kUserRecordSize; ++i) {
            if (i >= c.offset && i < c.offset + c.width) {
                size_t k = i - c.offset;
                ASSERT_EQ(got[i], k < c.want.size() ? c.want[k] : 0) << "byte " << i;
            } else {
                ASSERT_EQ(got[i], base[i]) << "byte " << i << " outside the field changed";
            }
        }
        // What was written reads back the same.
        EXPECT_EQ(EncodeUserRecord(DecodeUserRecord(got.data())), got);
    }
}

TEST(UserLayout, TextWithoutNulReadsToTheFieldEnd) {
    UserBytes raw{};
    std::memset(raw.data() + 380, 'a', 10);  // an alias that fills its field
    std::memset(raw.data() + 390, 'z', 22);  // the unused tail
    UserRecord u = DecodeUserRecord(raw.data());
    EXPECT_EQ(u.Alias, std::string(10, 'a'));
    UserBytes back = EncodeUserRecord(u);
    EXPECT_EQ(back[389], 0);  // cut to fit with its NUL
    for (size_t i = 390; i < kUserRecordSize; ++i) EXPECT_EQ(back[i], 0) << i;
}

// The searches compare the name field in place: the same answer as
// reading the field whole and comparing.
TEST(UserLayout, NameComparedInPlaceAsReadWhole) {
    struct Case {
        std::string field, text;  // field: the bytes from offset 0, NUL-padded to its width
    } cases[] = {
        {"Terry Tester", "Terry Tester"}, {"Terry Tester", "Terry"},     {"Terry", "Terry Tester"},
        {"", ""},                         {"", "T"},                     {std::string(36, 'N'), std::string(36, 'N')},
        {std::string(36, 'N'), std::string(35, 'N')},                  {"Ann", std::string("Ann\0", 4)},
        {std::string(40, 'x'), std::string(37, 'x')},
    };
    for (const Case& c : cases) {
        UserBytes raw{};
        std::memcpy(raw.data(), c.field.data(), std::min<size_t>(c.field.size(), 36));
        if (c.field.size() > 36) std::memset(raw.data() + 36, 'x', 4);  // the next field right behind
        const bool whole = DecodeUserRecord(raw.data()).Name == c.text;
        EXPECT_EQ(TextFieldEquals<&UserRecord::Name>(raw.data(), c.text), whole) << c.field << " / " << c.text;
    }
}

// A cleared record keeps nothing of the bytes it replaces: zeros but for the
// blanks behind the empty name, location and password, all areas selected
// and the unset end of subscription.
TEST(UserLayout, ClearedRecordLeavesNoOldBytes) {
    UserBytes old;
    old.fill(0xA5);
    UserRecord u = DecodeUserRecord(old.data());
    ClearUserRecord(u);
    UserBytes got = EncodeUserRecord(u);

    UserBytes want{};
    std::memset(want.data() + 1, ' ', 34);
    std::memset(want.data() + 37, ' ', 24);
    std::memset(want.data() + 63, ' ', 14);
    std::memset(want.data() + 204, 0xFF, 13);
    std::memcpy(want.data() + 242, "00/00/00", 8);
    for (size_t i = 0; i < kUserRecordSize; ++i) EXPECT_EQ(got[i], want[i]) << "byte " << i;

    UserRecord back = DecodeUserRecord(got.data());
    EXPECT_EQ(back.Name, "");
    EXPECT_EQ(back.Location, "");
    EXPECT_EQ(back.Password, "");
}

}  // namespace
