// This line's entry in "online.ctl", and the sysop's services from outside
// the call: paging, the sysop chat, the line monitor and the call status.
//
// Every kivo owns the entry of its line number (common/online_status.h):
// RegisterLine makes it fresh at start-up, SetLineStatus changes it as the
// call goes on, log-off frees it.  Other lines' entries are only read; an
// entry whose process has gone reads as free.
//
// The sysop reaches a line by signals (kill -PIPE, kill -USR1 on its kivo):
//   SIGPIPE  starts a chat between the caller and the terminal SysopConsole
//            names.  Only a SIGPIPE that another process sent counts: the
//            one the kernel raises when kivo itself writes into a pipe that
//            nobody reads any more is not a sysop.
//   SIGUSR1  ends a running chat (the sysop chat, or a chat with another
//            line); with none running it switches the monitor on or off,
//            a copy of everything the caller sees written to MonitorPath.
// The handlers only record the signal (call_signals.h); the work runs at
// the next key wait or pause, so it never interrupts a half-done step.
#pragma once

#include <cstdint>

#include "common/online_status.h"

namespace kv::caller {

// Modes of SetLineStatus: 0 a fresh entry of this process, 4 free, 5 the
// caller's user number; the others switch one LINE_* bit.
enum LineStatusMode {
    kLineFresh = 0,
    kLinePaging = 1,     // LINE_PAGING
    kLineMonitored = 2,  // LINE_MONITORED
    kLineExternal = 3,   // LINE_EXTERNAL
    kLineFree = 4,
    kLineUser = 5,
    kLineNoDisturb = 6,  // LINE_NODISTURB
    kLineTransfer = 7,   // LINE_TRANSFER
    kLineChat = 8,       // LINE_CHAT
    kLineWriting = 9,    // LINE_WRITING
};

// Makes "online.ctl" when it is missing, then a fresh entry for line.
// 1, or 0 when the file cannot be made or the entry not written.
int RegisterLine(int line);
// Changes entry line by mode (on: set or clear the mode's bit); any other
// mode writes the entry back unchanged.  1, or 0 when the file cannot be
// opened, read or written.
int SetLineStatus(int line, int mode, int on = 0);
// Reads entry line; an entry whose process no longer runs is given as a
// free one.  1, or 0 on failure.
int ReadLineStatus(int line, OnlineEntry& entry);
// The first other line on which user is logged on, or 65535 when none (or
// when the file cannot be read, which logs text 131).
uint16_t FindUserLine(int line, int32_t user);

// The sysop's flag file "6opbusy.bbs" exists in DataDir.
bool SysopBusy();

// Menu command 11: rings the sysop's console, within PagingHours and
// MaxPages calls of this call.
void PageSysop();
// One page: the rings on the console, until the sysop answers with a
// chat, the caller stops it with Ctrl-C, or PageRings have sounded.
void RingSysop();

// Console sounds on an open console; they do nothing on a terminal that is
// not a console.  kind 0 a warble, 1 the tune of the tone table.
void PlayTones(int fd, int kind);
void SpeakerTone(int fd, int period);
void TimedTone(int fd, int n);

// The sysop chat, run when the sysop's SIGPIPE was recorded, until SIGUSR1
// ends it: the caller's keys go to SysopConsole, and the keys typed there
// (the sysop's console program passes them on only during a chat) go to
// the caller; each side sees both.  The minutes of the chat are not
// charged.
void SysopChat();
void SysopChatBanner();

// Run when SIGUSR1 was recorded; also called by the chat between lines and
// the console monitor start.  Ends a chat, or switches the monitor.
void ToggleMonitor();

// Sleeps, doing the work of any signal that comes meanwhile.  With
// whileSet, the pause ends early once that flag is cleared.
void PauseWithSignals(int seconds, const bool* whileSet = nullptr);

// One key of a chat, read while input does not block: keys typed ahead
// first; 0 when a signal came first (perhaps the one that ends the chat),
// its work done, or when alsoFd has something to read.
int ChatKey(int alsoFd = -1);

// A key that goes to a chat partner as it is: a printable byte, the PC's
// letters and line drawings above 127 included.  Both chats pass these
// and their editing keys, nothing else.
bool IsChatText(int key);

// Menu command 14: the call's date, calls and minutes.
void ShowCallStatus();

// The sysop-chat flag: 1 while the sysop chat runs, kLineChatMarker while
// a chat with another line runs; SIGUSR1 clears it, which ends either chat.
// It is the one mark of a running chat: log-off reads it to tell a line
// chat's partner why this side left.
constexpr uint8_t kLineChatMarker = 2;
uint8_t SysopChatFlag();
void SetSysopChatFlag(uint8_t value);
// Set while a page rings; the sysop chat clears it (the page was answered).
bool PagingFlag();
// An external program's drop file, and its "*#" code, set it too.
void SetPagingFlag(bool on);

}  // namespace kv::caller
