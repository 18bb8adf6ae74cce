// kivo's entry point: options, the start-up checks that may refuse a call,
// and the hand-over to log-in and the menus.
//
//   kivo [-f] [-g0|-g1] [-k] [-l] [-t] [-v]
//
// Exit statuses: 1 at the end of every call and of every refusal (closed
// hours, line speed, no "bbsline.ctl" entry, a bad -g); 0 after -v; 255 no
// server segment, no message-text table, no terminal; 248-255 the set-up
// check codes -8 to -1; 51/52 time-outs, 98 interrupt, 99 hang-up.
#pragma once

#include <string>
#include <vector>

#include "common/line_table.h"

namespace kv::caller {

int CallerMain(int argc, char** argv);

// Reads the leading "-" words of args (and removes them).  -1 to go on, or
// the status to exit with (-v, a bad -g).
int ReadOptions(std::vector<std::string>& args);

// DeviceName := the terminal of standard input below "/dev/" ("pts/3",
// "tty1"); empty when standard input is no terminal.
void GetDeviceName();
std::string DeviceNameOf(const std::string& ttyPath);

// The program's banner line (start-up, -v, the credits screen).
const char* ProgramBanner();

// The lines of "bbsline.ctl" in DataDir in order (at most 256); false when
// the file cannot be read.
using kv::LineTableEntry;
bool ReadLineTable(std::vector<LineTableEntry>& lines);

// Finds DeviceName in "bbsline.ctl" (whole name, case ignored): sets
// LineNumber and OutputDelay and returns the speed the line requires (-1
// for none), or 0 when the device has no entry.
long LookupLine();

// 1, or the code of the first failed check (-3 DataDir, -2 MenuDir,
// -1 TextDir, -8 MsgBaseDir, -4 top.mnu, -6 limits.ctl, -7 bbsline.ctl,
// -5 configuration).
int CheckSetup();
// The configuration record of the segment, taken into Config().
bool LocateConfig();
// The text of a start-up error code: where 0 standard error, 1 the caller's
// screen and the log; with exitNow the program ends with the code's low
// byte as its status.
void FatalError(int code, int where, bool exitNow);
std::string SetupErrorText(int code);

// bps that MinLogonSpeed requires.
long RequiredSpeed(int minLogonSpeed);

// Monitors this line when no other line is monitored.
void StartConsoleMonitor();

}  // namespace kv::caller
