// The caller's terminal: raw modes and key input.
//
// Standard input and output are the line.  SetRawMode puts the line into
// raw mode once at start-up (no echo, no line editing, no output
// processing, Ctrl-K as the interrupt key) and RestoreTtyMode puts the
// first settings back on the way out.  Keys are the bytes the terminal
// sends, untranslated, except on a UTF-8 terminal, where a character
// arrives as the one PC byte it stands for (term_charset.h); NUL counts as
// no key.
//
// Three readers share one input buffer, so typed-ahead keys are never lost
// or reordered between them:
//   GetKey           the key wait of every prompt: inactivity alarm and
//                    call-time check, signals acted on while it waits;
//   GetKeyNoTimeout  the next key, without alarm or time check;
//   TryReadKey       one key if one is there (0 if not); with
//                    SetNonBlocking(true) it never waits;
//   PollKey          the same for a listing that looks for a stop key
//                    while it writes: the line itself is asked only every
//                    few milliseconds, so looking costs nothing while no
//                    key waits.
// The end of input or an I/O error on the line is a hang-up: the call ends
// through the hang-up path (exit status 99) at that key wait.
//
// Inactivity: GetKey arms an alarm of InactivityTimeout seconds less the
// grace time (30 s).  When it rings the caller is warned (text 735 between
// two bells) and has the grace time left; then the call ends with exit
// status 51 (text 54 logged, display file named by text 644 or text 55).
// A call whose time is used up ends with 52 (text 56, 645 or text 57).
#pragma once

#include <termios.h>

namespace kv::caller {

bool SetRawMode();
bool RestoreTtyMode();

// The next byte of the input buffer, refilled from the line when empty.
int ReadInputByte();
int GetKeyNoTimeout();
int TryReadKey();
int GetKey();
int PollKey();
// Whether PollKey would act at once: keys typed ahead, a signal to act on,
// or output sent since the line was last asked.  While none holds, a
// listing may write a stretch of characters before it looks again, as a
// look after each would find nothing until the buffer goes out.
bool KeyLookPending();
void SetNonBlocking(bool on);

// Sleeps for a number of seconds (less when a signal comes), once the
// caller has what was written so far: a message shown for a while.
void TimedPause(unsigned seconds);

// The end of an inactivity or call-time wait (TimeUp tells which).  At
// AlarmStage 0 of an inactivity it shows the warning and returns; otherwise
// it ends the call and does not return.
void OnInactivityAlarm();

// The grace time between the warning and the end, 30 seconds.  Tests of
// the terminal code shorten it.
void SetInactivityGrace(unsigned seconds);

// The caller was busy with something a key wait did not see (a sysop
// chat that interrupted it): the wait's inactivity count starts over.
void RestartInactivityAlarm();

// Standard input without blocking while the object lives; the flags it
// found come back after.  Unlike SetNonBlocking it nests, so a chat that
// interrupts a listing leaves the listing's input as it was.
class NonBlockingInput {
public:
    NonBlockingInput();
    ~NonBlockingInput();
    NonBlockingInput(const NonBlockingInput&) = delete;
    NonBlockingInput& operator=(const NonBlockingInput&) = delete;

private:
    int saved_ = -1;
};

// A chat that a signal started inside a key wait is not idling: the wait's
// inactivity alarm is stopped while the object lives and, when one was
// armed, started over afterwards.
class InactivityPause {
public:
    InactivityPause();
    ~InactivityPause();
    InactivityPause(const InactivityPause&) = delete;
    InactivityPause& operator=(const InactivityPause&) = delete;

private:
    bool armed_ = false;
};

// The settings of standard input as SetRawMode found them (the line speed
// is read from there).
const termios& FirstTtyModes();

// Line speed in bps of the line as SetRawMode found it, and of one speed
// code of the control modes.
long GetLineSpeed();
long SpeedOfCode(tcflag_t cbaud);

}  // namespace kv::caller
