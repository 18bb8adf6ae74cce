// Stand-ins for the services of the caller program that are not built yet.
//
// Start-up, key input and log-off call into log-in, menus, display files,
// the line status file, the user database and the logs of later pieces.
// Until a piece is built its functions stand here, each doing nothing the
// caller can see.  Whoever builds one moves its declaration to the header
// of the new piece (which includes the rest of this file as long as it needs
// it) and deletes the stand-in from later_stubs.cpp: replaced, not wrapped.
#pragma once

#include <cstdint>
#include <string>

namespace kv::caller {

// --- signals of other lines ------------------------------------------------------
// The signal handlers only record; this runs at the next key wait.  The
// sysop's signals are line_status.h's.

void OnChatRequest();   // SIGUSR2

// --- time log ------------------------------------------------------------------

// This line's "timelog.bbs" record as read at log-in; the time-log piece
// gives it its layout.  An empty Date means no time log was read.
struct TimeLogRecord {
    std::string Date;
};
// 1 when the record was written back.  Stand-in: 1.
int UpdateTimeLog(int line, const TimeLogRecord& record);
// Reads this line's record at log-in, making the file when it is missing;
// 1 or 0.  Stand-in: today's date, 1.
int ReadTimeLog(int line, TimeLogRecord& record);

// --- external programs -----------------------------------------------------------

// Runs a command line through the shell; pause, transfer and quiet as the
// external-program piece defines them.  Its "*" codes put values of the
// call into the line, and every such value is quoted for the shell there,
// so a caller's name can never become shell syntax.  1 when the shell ran,
// 0 when not (the transfer form: the exit status).  Stand-in: the line as
// it stands, without drop file or "*" codes, through /bin/sh.
int RunExternal(int pause, int transfer, int quiet, const std::string& command);

// --- questionnaires, watchdog message, mail check, text display ----------------------

// Runs the questionnaire script name (".q-a" in MenuDir).  Stand-in: 1,
// nothing asked.
int RunQuestionnaire(const std::string& name);
// Posts the sysop's warning to the owner of the account whose password was
// tried too often, with the passwords tried (a file, or empty for none).
// Stand-in: nothing.
void PostWatchdogMessage(const std::string& triedList);
// Shows a display file (of TextDir, or a path) and waits for Enter when
// asked.  Stand-in: the display file alone.
void ShowFileAndWait(const std::string& name, bool wait, bool inTextDir);

// --- daily callers log, transfers -------------------------------------------------

void RotateCallersLog();
void LogCaller();
// kind 1 download, 2 upload; index the protocol.
void RescueAbortedFiles(int kind, int index, bool hangup);

}  // namespace kv::caller
