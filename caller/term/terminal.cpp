#include "caller/term/terminal.h"

#include <fcntl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/limits.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/term_charset.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

termios gFirst{};           // as SetRawMode found the line
termios gSecond{};          // raw, before the 8-bit set-up of a remote line
bool gHaveFirst = false;
bool gHaveSecond = false;
int gSavedFlags = -1;       // status flags of standard input before SetNonBlocking
unsigned gGrace = 30;

// Line speeds of the sixteen standard speed codes.  Codes 1-3 (50, 75 and
// 110 baud in the standard numbering) stand for the fast modems.
constexpr long kSpeedTable[16] = {0,   57600, 57600, 115200, 134,  150,  200,   300,
                                  600, 1200,  1800,  2400,   4800, 9600, 19200, 38400};

struct InputBuffer {
    uint8_t bytes[1024];
    int count = 0;  // bytes in the buffer
    int pos = 0;    // next to hand out
    bool Empty() const { return pos >= count; }
    int Take() { return bytes[pos++]; }
} gInput;

// How often a listing asks the line for a key while it writes.  The time
// is the coarse clock's: it moves in ticks of a few milliseconds, and
// reading it costs less than the byte written between two looks, where the
// fine clock costs more.
constexpr long kKeyPollNanoseconds = 4'000'000;

struct KeyPoll {
    timespec last{};            // when the line was last asked
    unsigned flushes = ~0u;     // OutputFlushCount then
    int clockSkips = 0;         // looks left before the clock is read again
} gPoll;

// Whether a key poll should ask the line now: a few milliseconds have
// passed since it last did, or output went out since (a write to a slow
// line waits, and a key may have come meanwhile).
bool KeyPollDue() {
    if (OutputFlushCount() != gPoll.flushes) return true;
    // A listing looks after every byte: the clock, fine enough at every
    // 16th look, would cost as much as the byte.
    if (--gPoll.clockSkips > 0) return false;
    gPoll.clockSkips = 16;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    long elapsed = (now.tv_sec - gPoll.last.tv_sec) * 1'000'000'000L + (now.tv_nsec - gPoll.last.tv_nsec);
    return elapsed >= kKeyPollNanoseconds;
}

// A key wait that goes on while the line is gone and the call is ending
// (a pause prompt of the last screen) gets Enter, so the end goes on.
constexpr int kKeyOnLostLine = '\r';

}  // namespace

bool SetRawMode() {
    FlushOutput();  // what was written goes out in the modes it was written for
    CallState& c = Call();
    termios t{};
    if (tcgetattr(0, &t) != 0) {
        c.RawMode = false;
        return false;
    }
    gFirst = t;
    gHaveFirst = true;
    t.c_iflag = IGNPAR | INPCK | IXON | IXANY;
    // A console that types UTF-8 needs all eight bits of each byte.
    if (c.LocalMode && !c.Utf8Terminal) t.c_iflag |= ISTRIP;
    t.c_oflag = OCRNL | ONOCR;  // OPOST off: the bytes go out as written
    t.c_cflag ^= HUPCL;
    t.c_lflag = ISIG;           // no echo, no line editing
    t.c_cc[VINTR] = 11;         // Ctrl-K
    t.c_cc[VMIN] = 1;           // a read returns once one byte has come
    t.c_cc[VTIME] = 5;
    bool ok = tcsetattr(0, TCSANOW, &t) == 0;
    if (tcsetattr(1, TCSANOW, &t) != 0) ok = false;
    if (!ok) {
        c.RawMode = false;
        return false;
    }
    c.RawMode = true;
    if (!c.LocalMode && tcgetattr(0, &gSecond) == 0) {
        gHaveSecond = true;
        termios eight = gSecond;
        eight.c_cflag = (eight.c_cflag & ~tcflag_t(CSIZE | PARENB)) | CS8;
        tcsetattr(0, TCSAFLUSH, &eight);
    }
    return true;
}

bool RestoreTtyMode() {
    FlushOutput();
    CallState& c = Call();
    if (!gHaveFirst) return false;
    if (!c.LocalMode && gHaveSecond) tcsetattr(0, TCSAFLUSH, &gSecond);
    if (tcsetattr(0, TCSAFLUSH, &gFirst) != 0) return false;
    c.RawMode = false;
    return true;
}

const termios& FirstTtyModes() { return gFirst; }

long SpeedOfCode(tcflag_t cbaud) {
    cbaud &= CBAUD;
    if ((cbaud & CBAUDEX) == 0) return kSpeedTable[cbaud & 0xF];
    // The extended codes of the fast lines.
    switch (cbaud) {
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        case B460800: return 460800;
        case B500000: return 500000;
        case B576000: return 576000;
        case B921600: return 921600;
        case B1000000: return 1000000;
        case B1152000: return 1152000;
        case B1500000: return 1500000;
        case B2000000: return 2000000;
        case B2500000: return 2500000;
        case B3000000: return 3000000;
        case B3500000: return 3500000;
        case B4000000: return 4000000;
        default: return 0;
    }
}

long GetLineSpeed() { return SpeedOfCode(FirstTtyModes().c_cflag); }

int ReadInputByte() {
    for (;;) {
        if (!gInput.Empty()) return gInput.Take();
        if (!WaitForInput()) {
            ActOnSignals();
            TakeAlarm();  // no inactivity alarm is armed outside GetKey
            continue;
        }
        ssize_t n = read(0, gInput.bytes, sizeof gInput.bytes);
        if (n > 0) {
            gInput.count = int(n);
            gInput.pos = 0;
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // End of input or an error on the line: it is gone.
        NoteLineLost();
        ActOnSignals();
        return kKeyOnLostLine;  // only while the call is already ending
    }
}

int GetKeyNoTimeout() {
    for (;;) {
        int k = KeyFromTerminal(ReadInputByte());
        if (k != 0) return k;
    }
}

int TryReadKey() {
    if (SignalsPending()) ActOnSignals();
    // Keys typed ahead into the buffer come first, in the order typed.
    while (!gInput.Empty())
        if (int k = KeyFromTerminal(gInput.Take()); k != 0) return k;
    // The read may wait: the caller sees what was written first.
    FlushOutput();
    uint8_t b = 0;
    ssize_t n = read(0, &b, 1);
    if (n == 1) return KeyFromTerminal(b);
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) NoteLineLost();
    return 0;
}

bool KeyLookPending() {
    return SignalsPending() || !gInput.Empty() || OutputFlushCount() != gPoll.flushes;
}

int PollKey() {
    if (SignalsPending()) ActOnSignals();
    if (!gInput.Empty()) return TryReadKey();  // typed ahead: no need to ask
    if (!KeyPollDue()) return 0;
    int key = TryReadKey();
    clock_gettime(CLOCK_MONOTONIC_COARSE, &gPoll.last);
    gPoll.flushes = OutputFlushCount();
    return key;
}

void TimedPause(unsigned seconds) {
    FlushOutput();
    sleep(seconds);
}

int GetKey() {
    CallState& c = Call();
    // A key typed ahead answers at once: what it answers goes out first.
    FlushOutput();
    RefreshConfig();
    RestartInactivityAlarm();
    int key = 0;
    for (;;) {
        if (!gInput.Empty()) {
            key = KeyFromTerminal(gInput.Take());
            if (key != 0) break;
            continue;
        }
        if (WaitForInput()) {
            key = TryReadKey();
            if (key != 0) break;
        }
        if (LineLost() && c.Ending) {
            key = kKeyOnLostLine;
            break;
        }
        ActOnSignals();
        if (TakeAlarm()) OnInactivityAlarm();  // the warning; the end does not return
        if (!CheckTimeLeft()) break;
    }
    if (!CheckTimeLeft()) {
        c.TimeUp = 1;
        OnInactivityAlarm();
    }
    alarm(0);
    TakeAlarm();
    c.AlarmStage = 0;
    return key;
}

void SetNonBlocking(bool on) {
    if (on) {
        gSavedFlags = fcntl(0, F_GETFL);
        if (gSavedFlags != -1) fcntl(0, F_SETFL, gSavedFlags | O_NONBLOCK);
    } else if (gSavedFlags != -1) {
        fcntl(0, F_SETFL, gSavedFlags);
    }
}

NonBlockingInput::NonBlockingInput() : saved_(fcntl(0, F_GETFL)) {
    if (saved_ != -1) fcntl(0, F_SETFL, saved_ | O_NONBLOCK);
}

NonBlockingInput::~NonBlockingInput() {
    if (saved_ != -1) fcntl(0, F_SETFL, saved_);
}

InactivityPause::InactivityPause() {
    // The timer itself: alarm() would round a last half second down to
    // "none".
    itimerval timer{};
    getitimer(ITIMER_REAL, &timer);
    armed_ = timer.it_value.tv_sec != 0 || timer.it_value.tv_usec != 0;
    alarm(0);
    if (TakeAlarm()) armed_ = true;
}

InactivityPause::~InactivityPause() {
    if (armed_) RestartInactivityAlarm();
}

void SetInactivityGrace(unsigned seconds) { gGrace = seconds; }

void RestartInactivityAlarm() {
    Call().AlarmStage = 0;
    TakeAlarm();
    unsigned timeout = Call().InactivityOverride != 0 ? Call().InactivityOverride : Config().InactivityTimeout;
    if (timeout != 0) alarm(timeout > gGrace ? timeout - gGrace : timeout);
}

void OnInactivityAlarm() {
    CallState& c = Call();
    if (c.TimeUp == 0 && c.AlarmStage == 0) {
        c.AlarmStage = 1;
        RingBell();
        PutString(GetText(735));
        RingBell();
        alarm(gGrace);
        return;
    }
    alarm(0);
    c.Ending = true;
    IgnoreEndSignals();
    if (c.TimeUp == 0) {
        LogText(54);
        if (DisplayFile(1, GetText(644)) == -1) PutLine(GetText(55));
    } else {
        LogText(56);
        if (DisplayFile(1, GetText(645)) == -1) PutLine(GetText(57));
    }
    RestoreTtyMode();
    TerminateCall(kLogOffTimeout, '3' + c.TimeUp);
}

}  // namespace kv::caller
