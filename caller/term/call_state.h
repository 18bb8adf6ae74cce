// The one record of a call, and the message texts of the caller program.
//
// kivo serves one call per process.  Everything the call carries from piece
// to piece (terminal flags, line number, who is calling, how long the call
// may last) lives in the single CallState that Call() returns; every part of
// the caller program reads and writes it there.
//
// Texts: text n is entry n of the message-text table of the shared segment
// that SelectMessageFile bound.  GetText(n) gives it as it stands (empty when
// the table has no such text), FormatText(n, values...) fills in its "%"
// codes through the one checked formatter, so a sysop's text with a wrong
// code is shown as its plain words instead of crashing the call.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "caller/term/last_call.h"
#include "caller/term/time_log.h"
#include "common/textfmt.h"
#include "common/user_record.h"

namespace kv::caller {

// Why a call ends; the value LogOff gets (and the chat partner is told).
enum LogOffReason { kLogOffNormal = 0, kLogOffHangup = 1, kLogOffInterrupt = 2, kLogOffTimeout = 3 };

// No transfer program is running (PendingTransfer).
constexpr uint16_t kNoTransfer = 65535;

struct CallState {
    std::string ProgramName;          // first command-line word
    std::string DeviceName;           // terminal path below "/dev/": "pts/3", "tty1", "console"
    int16_t LineNumber = 0;           // index of this line in "bbsline.ctl"
    int16_t OutputDelay = 0;          // busy-wait steps after each byte sent
    int8_t MessageFileIndex = 0;      // bound text table, 0 or 1 (option -g)
    bool RawMode = false;             // the terminal is in raw mode
    bool AnsiOn = false;              // escape sequences may be sent
    bool ColorOn = false;             // colours may be sent
    bool BrightOn = false;            // the last foreground written was a bright one
    bool StrictSysopMenus = true;     // option -f clears it
    bool LocalMode = false;           // option -t: the local console
    bool Utf8Terminal = false;        // the line's locale names UTF-8 (term_charset.h)
    bool AcceptHighChars = false;     // input keeps bytes 127 and above
    bool FastLogon = false;           // option -l on "tty1", with AllowFastLogon
    uint8_t LoggedIn = 0;             // 0 not yet, 1 logged in, 2 registered in this call
    bool Monitoring = false;          // output is copied to MonitorFd
    int MonitorFd = -1;
    uint16_t PendingTransfer = kNoTransfer;  // 1000 + protocol of a download, protocol of an upload
    uint16_t AlarmStage = 0;          // 0 before the inactivity warning, 1 after it
    uint8_t TimeUp = 0;               // 0 the time-out is inactivity, 1 the call time is used up
    int16_t CallMinutes = 10;         // minutes the call may last; the log-in sets it
    uint16_t InactivityOverride = 0;  // seconds: this call's own inactivity limit while not 0
    time_t LogonTime = 0;             // when the call started
    bool Warned2Min = false;
    bool Warned1Min = false;
    TimeLogRecord TimeLogLoaded;      // read at log-in; empty Date until then
    std::string CallerName = "Unknown";
    int32_t CurrentUserNumber = -1;   // record in "users.bbs", -1 none
    char NoKey = 'N';                 // text 0, first character
    char YesKey = 'Y';                // text 0, second character

    // The caller and the call's limits, as the log-in sets them.
    UserRecord User;                  // the caller's record, written back at log-off
    int32_t HighestRead = 0;          // highest message number read, as the call goes on
    int16_t DailyMinutes = 0;         // minutes a day of the caller's level ("limits.ctl")
    int16_t DownloadLimitKB = 0;      // kilobytes a day at this line speed
    int32_t FileRatio = 5;            // downloads per upload ("limits.ctl")
    int32_t ByteRatio = 10;           // kilobytes down per kilobyte up
    int16_t PagesMade = 0;            // sysop pages made in this call
    LastCallRecord PreviousCall;      // "lastcall.bbs" before this call

    // Kept for the process's own bookkeeping.
    const uint8_t* Segment = nullptr; // the attached shared segment
    bool LineRegistered = false;      // this process holds its "online.ctl" entry
    bool Ending = false;              // the end of the call has begun; signals wait
};

// The call of this process.
CallState& Call();

// Binds table k (0 or 1) of the attached segment: true when that table is
// loaded.  Sets MessageFileIndex, NoKey and YesKey.
bool SelectMessageFile(int k);

// Text n of the bound table; empty when there is no such text.
std::string GetText(int n);

// Text n with its "%" codes filled in from values (see common/textfmt.h).
template <class... Args>
std::string FormatText(int n, const Args&... values) {
    return FormatChecked(GetText(n), values...);
}

// Installs the caller program's log writer and text lookup as the services
// the shared library reports through.
void InstallCallerServices();

// The configuration is the copy in the shared segment, which a reload
// rewrites in place.  Takes it into Config() when it has changed since the
// last look; true when the segment holds a configuration at all.
bool RefreshConfig();

}  // namespace kv::caller
