// The drop file "exitinfo" that an external program finds while it runs:
// "exitinfo" in DataDir, on a multi-line system with the line number
// appended as three digits ("exitinfo002").  One record of 860 bytes,
// written whole before the program and read whole after it; integers are
// little-endian, texts end with a NUL inside their field.
//   offset  width  field          read back
//   0       4      Speed          no    int32, line speed in bps
//   4       168    LastCall       yes   the call's copy of "lastcall.bbs"
//   172     136    TimeLog        yes   this line's time log as read at log-in
//   308     412    User           yes   the caller's user record
//   720     1      DoorByte1      yes   kept for the call, 0 at its start
//   721     1      DoorByte2      yes
//   722     9      LogonTime      no    "HH:MM:SS"
//   731     9      LogonDate      no    date text in the configured order
//   740     2      CallMinutes    no    int16
//   742     2      (unused)
//   744     4      SecondsOn      no    int32, seconds since log-on
//   748     4      Credit         yes   int32, replaces the credit of User
//   752     4      UserNumber     yes   int32 (must be this caller's)
//   756     4      HighestRead    yes   int32, highest message read this call
//   760     4      PagesMade      yes   int32, sysop pages of this call
//   764     4      DownloadKb     yes   int32, kilobytes the caller may still
//                                       download in this call's doors
//   768     9      TimeNow        no    "HH:MM:SS"
//   777     16     Password       no    the password of this log-in
//   793     1      Paging         yes   the paging flag
//   794     66     (unused)
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "caller/term/last_call.h"
#include "caller/term/time_log.h"
#include "common/config_record.h"
#include "common/record_io.h"
#include "common/user_record.h"

namespace kv::caller {

struct ExitInfoRecord {
    static constexpr size_t kSize = 860;
    int32_t Speed = 0;
    LastCallRecord LastCall;
    TimeLogRecord TimeLog;
    UserRecord User;             // through the codec of "users.bbs"
    uint8_t DoorByte1 = 0;
    uint8_t DoorByte2 = 0;
    std::string LogonTime;       // text[9]
    std::string LogonDate;       // text[9]
    int16_t CallMinutes = 0;
    int32_t SecondsOn = 0;
    int32_t Credit = 0;
    int32_t UserNumber = 0;
    int32_t HighestRead = 0;
    int32_t PagesMade = 0;
    int32_t DownloadKb = 0;
    std::string TimeNow;         // text[9]
    std::string Password;        // text[16]
    uint8_t Paging = 0;
};
template <class IO> constexpr void Visit(IO& io, ExitInfoRecord& r) {
    io.Field("Speed", 0, 4, r.Speed);
    VisitSub(io, "LastCall", 4, r.LastCall);
    VisitSub(io, "TimeLog", 172, r.TimeLog);
    // 308-719: User, written and read by the one codec of "users.bbs".
    io.Field("DoorByte1", 720, 1, r.DoorByte1);
    io.Field("DoorByte2", 721, 1, r.DoorByte2);
    io.Field("LogonTime", 722, 9, r.LogonTime);
    io.Field("LogonDate", 731, 9, r.LogonDate);
    io.Field("CallMinutes", 740, 2, r.CallMinutes);
    io.Field("SecondsOn", 744, 4, r.SecondsOn);
    io.Field("Credit", 748, 4, r.Credit);
    io.Field("UserNumber", 752, 4, r.UserNumber);
    io.Field("HighestRead", 756, 4, r.HighestRead);
    io.Field("PagesMade", 760, 4, r.PagesMade);
    io.Field("DownloadKb", 764, 4, r.DownloadKb);
    io.Field("TimeNow", 768, 9, r.TimeNow);
    io.Field("Password", 777, 16, r.Password);
    io.Field("Paging", 793, 1, r.Paging);
}
static_assert(LayoutIsSound<ExitInfoRecord>());

using ExitInfoBytes = std::array<uint8_t, ExitInfoRecord::kSize>;
ExitInfoBytes EncodeExitInfo(const ExitInfoRecord& r);
ExitInfoRecord DecodeExitInfo(const uint8_t* p);

}  // namespace kv::caller
