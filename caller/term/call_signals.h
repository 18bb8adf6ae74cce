// Signals of a call: recorded when they come, acted on at the next turn.
//
// A handler may interrupt any step of the program, the middle of a file
// write included.  So the handlers installed here only note which signal
// came; the key waits (and any loop that polls for keys) call ActOnSignals,
// which does the work: a hang-up or an interrupt ends the call through
// LogOff with its exit status, SIGUSR1, SIGUSR2 and SIGPIPE run the
// monitor, chat-request and sysop-chat services.  The log-off and the chat
// between lines are the call's own work, which it hands down with its
// handlers (call_end.h).  Blocking reads return when a signal comes (the
// handlers are installed without SA_RESTART), so a waiting call notices at
// once.
#pragma once

namespace kv::caller {

// SIGINT, SIGQUIT, SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2 and SIGALRM recorded
// (SIGPIPE only when another process sent it); SIGTSTP ignored.  The call
// installs them through InstallCallHandlers, with its work.
void RecordCallSignals();

// Runs the work of every signal recorded since the last turn, after the
// output written so far has gone out.  A hang-up or an interrupt does not
// return (once the end of the call has begun they are dropped instead).
void ActOnSignals();

// True when a signal waits for ActOnSignals.
bool SignalsPending();

// How many times ActOnSignals has done some work.  A loop that waits for a
// flag a signal's work changes compares it around a read that may have
// done that work already (TryReadKey does), rather than wait on.
unsigned SignalWorkCount();

// The line is gone (end of input or an I/O error on the terminal): handled
// as a hang-up at the next turn.
void NoteLineLost();

// True once the line was lost; it stays so.
bool LineLost();

// Notes the line as lost when the terminal already reports a hang-up: a
// program that ended because the line went may return before the hang-up
// signal has been sent.
void LookForHangup();

// Sends the output written so far, then waits until standard input (or
// alsoFd, when one is given) has something to read (or is at its end) or a
// signal is recorded; true in the first case.  Never misses a signal that
// comes just before the wait.
bool WaitForInput(int alsoFd = -1);

// Takes the record of an inactivity alarm: true when one came since the
// last call.
bool TakeAlarm();

// The call is ending: from now on SIGINT, SIGQUIT and SIGHUP are ignored,
// so an exit cannot be entered twice.
void IgnoreEndSignals();

}  // namespace kv::caller
