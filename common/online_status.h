// The line status file "online.ctl" in DataDir: who is on which line.
//
// 256 entries of 24 bytes, entry i at byte i x 24 for line number i:
//   offset  width  field
//   0       4      Pid        int32: the kivo process of the line; -1 free
//   4       1      Flags      LINE_* bits below
//   5       3      -          zero
//   8       4      User       int32: record number in "users.bbs"; -1 nobody
//                             logged on yet
//   12      9      LogonTime  text[9]: "HH:MM:SS" of the log-on, NUL-ended
//   21      3      -          zero
// All integers are little-endian.  A free entry is pid -1, user -1 and every
// other byte zero.
//
// Each kivo writes only its own entry, with one write of the 24 bytes, and
// reads the others'.  A process that dies without logging off leaves its
// entry behind; every reader here counts an entry whose process no longer
// exists as free, so a crashed line never keeps a caller out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/record_io.h"

namespace kv {

inline constexpr const char* kOnlineFile = "online.ctl";
inline constexpr int kOnlineLines = 256;

// Status bits of an entry.  0x40 is never used.
inline constexpr uint8_t LINE_PAGING = 0x01;     // the caller pages the sysop
inline constexpr uint8_t LINE_MONITORED = 0x02;  // output copied to MonitorPath
inline constexpr uint8_t LINE_EXTERNAL = 0x04;   // an external program runs
inline constexpr uint8_t LINE_TRANSFER = 0x08;   // a file-transfer program runs
inline constexpr uint8_t LINE_CHAT = 0x10;       // in a chat with another line
inline constexpr uint8_t LINE_WRITING = 0x20;    // writing a message
inline constexpr uint8_t LINE_NODISTURB = 0x80;  // do not disturb

struct OnlineEntry {
    static constexpr size_t kSize = 24;
    int32_t Pid = -1;
    uint8_t Flags = 0;
    int32_t User = -1;
    std::string LogonTime;  // text[9]
};
template <class IO> constexpr void Visit(IO& io, OnlineEntry& e) {
    io.Field("Pid", 0, 4, e.Pid);              // -1: line free
    io.Field("Flags", 4, 1, e.Flags);          // LINE_* bits
    io.Field("User", 8, 4, e.User);            // -1: nobody logged on yet
    io.Field("LogonTime", 12, 9, e.LogonTime); // "HH:MM:SS"
}
static_assert(LayoutIsSound<OnlineEntry>());

// "online.ctl" in DataDir; empty while no DataDir is configured.
std::string OnlinePath();

// Makes "online.ctl" with 256 free entries when it does not exist.  The
// whole file is written under a temporary name and linked into place, so a
// file that another line made meanwhile is kept as it is, entries and all.
// True when the file exists afterwards.
bool CreateOnlineFile();

// One entry by line number: one read or one write of its 24 bytes.  A
// write never makes the file.  False on any failure, which why (when
// given) explains; nothing is logged here.
bool ReadOnlineEntry(int line, OnlineEntry& entry, std::string* why = nullptr);
bool WriteOnlineEntry(int line, const OnlineEntry& entry, std::string* why = nullptr);

// Every entry of the file in line order (a short file gives fewer).
bool ReadOnlineFile(std::vector<OnlineEntry>& entries, std::string* why = nullptr);

// Whether the process of an entry still runs.
bool OnlineProcessAlive(int32_t pid);
// Whether it is a running kivo: the number in an entry that a killed line
// left may since have gone to another process, which no signal of the
// sysop's must reach.
bool KivoLive(int pid);
// An entry in use: it names a process, and that process still runs.
bool LineInUse(const OnlineEntry& e);
// An entry in use that also holds a logged-on caller; the user editor
// refuses its rewriting commands while one exists.
bool LineHoldsCaller(const OnlineEntry& e);

// The first line other than line whose entry is in use by user, or -1.
// False when the file cannot be read.
bool FindUserOnOtherLine(int line, int32_t user, int& found, std::string* why = nullptr);

// The lines whose entries hold a caller, in line order, with their entries.
struct OnlineCaller {
    int Line = 0;
    OnlineEntry Entry;
};
bool ListOnlineCallers(std::vector<OnlineCaller>& callers, std::string* why = nullptr);

}  // namespace kv
