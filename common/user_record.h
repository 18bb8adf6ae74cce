// The user record of "users.bbs".
//
// One record of 412 bytes per user, record n at byte n * 412; the record
// number is the user number and record 0 is the sysop.  All integers are
// little-endian, the float is an IEEE-754 single; texts end with a NUL
// inside their field.  Ranges not listed are unused and written as zeros.
//
//   offset  width  field
//   0       36     Name              text, words capitalised; the log-in key
//   36      26     Location          text
//   62      16     Password          text, capitalised like a name
//   78      21     DataPhone         text, digits in the phone template
//   99      21     HomePhone         text
//   120     9      LastCallDate      date text in the configured order
//   129     9      LastCallTime      "HH:MM:SS"
//   138     1      Options           USER_DELETED ... USER_NO_DISTURB
//   139     1      Options2          USER_HOT_KEYS, USER_NO_ESCAPES
//   140     4      Flags             flag sets A-D, 8 flags each
//   144     4      Credit            int32
//   148     4      Pending           int32, cleared on creation
//   152     4      MessagesPosted    int32
//   156     4      HighestRead       int32, highest message number read
//   160     4      SecurityLevel     int32; 64000 and above is the sysop
//   164     4      TotalCalls        uint32
//   168     4      UploadedFiles     uint32
//   172     4      DownloadedFiles   uint32
//   176     4      UploadedKb        uint32
//   180     4      DownloadedKb      uint32
//   184     4      TodayKb           uint32, kilobytes downloaded today
//   188     4      (unused, zero)
//   192     4      ScreenLength      uint32, lines 10-52
//   196     4      PasswordCalls     uint32, calls since the password changed
//   200     2      CallsToday        uint16
//   202     2      MinutesToday      int16
//   204     13     ScanAreas         bit n%8 of byte n/8 selects message area n
//   217     1      ClearScreenLength 0-15
//   218     15     ClearScreenCodes  the caller's own clear-screen bytes
//   233     9      FirstCallDate     date text
//   242     9      SubscriptionEnd   date text, "00/00/00" when unset
//   251     1      (unused)
//   252     4      AmountPaid        float
//   256     2      MsgArea           int16, current message area 0-99
//   258     2      FileArea          int16, current file area 0-49
//   260     60     Comment1          text
//   320     60     Comment2          text
//   380     10     Alias             text, mail and news alias, lower case
//   390     22     (unused, zero)
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/config_record.h"
#include "common/record_io.h"

namespace kv {

constexpr size_t kUserRecordSize = 412;

// Options (byte 138).
constexpr uint8_t USER_DELETED = 0x01;
constexpr uint8_t USER_CLEAR_SCREEN = 0x02;
constexpr uint8_t USER_PAGE_BREAK = 0x04;
constexpr uint8_t USER_ANSI = 0x08;  // colour
constexpr uint8_t USER_IGNORE_LIMITS = 0x20;
constexpr uint8_t USER_FULL_EDITOR = 0x40;
constexpr uint8_t USER_NO_DISTURB = 0x80;
// Options2 (byte 139).
constexpr uint8_t USER_HOT_KEYS = 0x01;
constexpr uint8_t USER_NO_ESCAPES = 0x02;  // no ANSI escape sequences at all

constexpr int32_t kSysopLevel = 64000;
inline bool IsSysopLevel(int32_t level) { return level >= kSysopLevel; }

// Flag sets A-D: bit n of byte g is flag n+1 of set g.  Whether every flag
// that need sets is set in have too (the access test of menu lines and areas).
inline bool HasAllFlags(const FlagGroups& have, const FlagGroups& need) {
    for (size_t g = 0; g < 4; ++g)
        if ((have[g] & need[g]) != need[g]) return false;
    return true;
}

struct UserRecord {
    static constexpr size_t kSize = kUserRecordSize;
    std::string Name;                // text[36]
    std::string Location;            // text[26]
    std::string Password;            // text[16]
    std::string DataPhone;           // text[21]
    std::string HomePhone;           // text[21]
    std::string LastCallDate;        // text[9]
    std::string LastCallTime;        // text[9]
    uint8_t Options = 0;             // USER_DELETED ...
    uint8_t Options2 = 0;            // USER_HOT_KEYS, USER_NO_ESCAPES
    FlagGroups Flags{};              // sets A-D
    int32_t Credit = 0;
    int32_t Pending = 0;
    int32_t MessagesPosted = 0;
    int32_t HighestRead = 0;         // highest message number read
    int32_t SecurityLevel = 0;
    uint32_t TotalCalls = 0;
    uint32_t UploadedFiles = 0;
    uint32_t DownloadedFiles = 0;
    uint32_t UploadedKb = 0;
    uint32_t DownloadedKb = 0;
    uint32_t TodayKb = 0;            // kilobytes downloaded today
    uint32_t ScreenLength = 0;       // lines
    uint32_t PasswordCalls = 0;      // calls since the last password change
    uint16_t CallsToday = 0;
    int16_t MinutesToday = 0;
    std::array<uint8_t, 13> ScanAreas{};         // area-scan selection bitmap
    uint8_t ClearScreenLength = 0;               // bytes used of ClearScreenCodes
    std::array<uint8_t, 15> ClearScreenCodes{};
    std::string FirstCallDate;       // text[9]
    std::string SubscriptionEnd;     // text[9], "00/00/00" when unset
    float AmountPaid = 0;
    int16_t MsgArea = 0;             // current message area 0-99
    int16_t FileArea = 0;            // current file area 0-49
    std::string Comment1;            // text[60]
    std::string Comment2;            // text[60]
    std::string Alias;               // text[10], lower case, unique
};

template <class IO> constexpr void Visit(IO& io, UserRecord& u) {
    io.Field("Name", 0, 36, u.Name);
    io.Field("Location", 36, 26, u.Location);
    io.Field("Password", 62, 16, u.Password);
    io.Field("DataPhone", 78, 21, u.DataPhone);
    io.Field("HomePhone", 99, 21, u.HomePhone);
    io.Field("LastCallDate", 120, 9, u.LastCallDate);
    io.Field("LastCallTime", 129, 9, u.LastCallTime);
    io.Field("Options", 138, 1, u.Options);
    io.Field("Options2", 139, 1, u.Options2);
    io.Field("Flags", 140, 4, u.Flags);
    io.Field("Credit", 144, 4, u.Credit);
    io.Field("Pending", 148, 4, u.Pending);
    io.Field("MessagesPosted", 152, 4, u.MessagesPosted);
    io.Field("HighestRead", 156, 4, u.HighestRead);
    io.Field("SecurityLevel", 160, 4, u.SecurityLevel);
    io.Field("TotalCalls", 164, 4, u.TotalCalls);
    io.Field("UploadedFiles", 168, 4, u.UploadedFiles);
    io.Field("DownloadedFiles", 172, 4, u.DownloadedFiles);
    io.Field("UploadedKb", 176, 4, u.UploadedKb);
    io.Field("DownloadedKb", 180, 4, u.DownloadedKb);
    io.Field("TodayKb", 184, 4, u.TodayKb);
    io.Field("ScreenLength", 192, 4, u.ScreenLength);
    io.Field("PasswordCalls", 196, 4, u.PasswordCalls);
    io.Field("CallsToday", 200, 2, u.CallsToday);
    io.Field("MinutesToday", 202, 2, u.MinutesToday);
    io.Field("ScanAreas", 204, 13, u.ScanAreas);
    io.Field("ClearScreenLength", 217, 1, u.ClearScreenLength);
    io.Field("ClearScreenCodes", 218, 15, u.ClearScreenCodes);
    io.Field("FirstCallDate", 233, 9, u.FirstCallDate);
    io.Field("SubscriptionEnd", 242, 9, u.SubscriptionEnd);
    io.Field("AmountPaid", 252, 4, u.AmountPaid);
    io.Field("MsgArea", 256, 2, u.MsgArea);
    io.Field("FileArea", 258, 2, u.FileArea);
    io.Field("Comment1", 260, 60, u.Comment1);
    io.Field("Comment2", 320, 60, u.Comment2);
    io.Field("Alias", 380, 10, u.Alias);
}

using UserBytes = std::array<uint8_t, kUserRecordSize>;

// The one codec of "users.bbs".  An empty name, location or password is
// stored as a NUL followed by blanks up to the field's last byte, the way a
// cleared record has always looked on disk; readers stop at the NUL.
UserRecord DecodeUserRecord(const uint8_t* p);
void EncodeUserRecord(const UserRecord& u, uint8_t* p);
UserBytes EncodeUserRecord(const UserRecord& u);

}  // namespace kv
