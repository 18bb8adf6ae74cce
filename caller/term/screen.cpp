#include "caller/term/screen.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/term_charset.h"
#include "common/runtime.h"

// After the system headers: term.h defines many short macros.
#include <curses.h>
#include <term.h>

namespace kv::caller {
namespace {

// Writes all of it: a non-blocking line that is full is waited for.  A line
// that fails otherwise is gone; the next key wait ends the call.
bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else if (w < 0 && errno == EAGAIN) {
            pollfd pf{fd, POLLOUT, 0};
            poll(&pf, 1, 1000);
        } else {
            return false;
        }
    }
    return true;
}

// Bytes written but not yet sent.  A few kilobytes: a screenful and more
// goes out in one write, yet a slow line is never far behind the program.
struct OutputBuffer {
    uint8_t bytes[4096];
    size_t count = 0;
    unsigned flushes = 0;
    bool flushAtExit = false;
} gOutput;

void FlushAtExit() {
    if (gOutput.flushAtExit) return;
    // Whatever way the process ends (a return from main, exit()), what was
    // written reaches the line; registered after the call's state exists,
    // so it runs before that is destroyed.
    gOutput.flushAtExit = true;
    std::atexit(FlushOutput);
}

// One byte into the output buffer, sent once the buffer is full.
void QueueOutput(uint8_t c) {
    FlushAtExit();
    gOutput.bytes[gOutput.count++] = c;
    if (gOutput.count == sizeof gOutput.bytes) FlushOutput();
}

// Bytes into the output buffer as they are, sent each time it is full, as
// one byte after another would be.
void QueueBytes(const char* p, size_t n) {
    FlushAtExit();
    while (n > 0) {
        size_t k = std::min(n, sizeof gOutput.bytes - gOutput.count);
        std::memcpy(gOutput.bytes + gOutput.count, p, k);
        gOutput.count += k;
        p += k;
        n -= k;
        if (gOutput.count == sizeof gOutput.bytes) FlushOutput();
    }
}

void Send(std::string_view s) {
    // A paced line takes every character on its own.
    if (Call().OutputDelay != 0) {
        for (char ch : s) PutChar(uint8_t(ch));
        return;
    }
    // A character below 128 is sent as it is in every character set:
    // stretches of them go into the buffer in one piece.
    while (!s.empty()) {
        size_t plain = 0;
        while (plain < s.size() && uint8_t(s[plain]) < 128) ++plain;
        QueueBytes(s.data(), plain);
        s.remove_prefix(plain);
        if (s.empty()) break;
        PutChar(uint8_t(s[0]));
        s.remove_prefix(1);
    }
}

int ForegroundCode(int16_t c) {
    static constexpr int kCodes[8] = {30, 34, 32, 36, 31, 35, 33, 37};
    if (c < 0 || c > 15) return 37;
    return kCodes[c & 7];
}

int BackgroundCode(int16_t c) {
    static constexpr int kCodes[8] = {40, 44, 42, 46, 41, 45, 43, 47};
    if (c < 0 || c > 7) return 40;
    return kCodes[c];
}

// The console's terminfo description, loaded before its first use; when
// there is none, local cursor moves and clears send nothing.
bool LocalTerminalReady() {
    static const bool ready = [] {
        int err = 0;
        return setupterm(nullptr, 1, &err) == OK;
    }();
    return ready;
}

const char* LocalCapability(const char* name) {
    if (!LocalTerminalReady()) return nullptr;
    char* s = tigetstr(name);
    return (s == nullptr || s == reinterpret_cast<char*>(-1)) ? nullptr : s;
}

void PutLocal(const char* s) {
    if (s == nullptr) return;
    FlushOutput();
    std::fflush(stdout);
    putp(s);
    std::fflush(stdout);
}

struct BoxStyle {
    uint8_t tl, tr, bl, br, vertical, horizontal;
};

BoxStyle StyleOf(int style) {
    switch (style) {
        case 0: return {' ', ' ', ' ', ' ', ' ', ' '};
        case 1: return {0xDA, 0xBF, 0xC0, 0xD9, 0xB3, 0xC4};
        case 2: return {0xC9, 0xBB, 0xC8, 0xBC, 0xBA, 0xCD};
        case 3: return {0xD5, 0xB8, 0xD4, 0xBE, 0xB3, 0xCD};
        default: return {0xD6, 0xB7, 0xD3, 0xBD, 0xBA, 0xC4};
    }
}

}  // namespace

uint8_t FoldChar(uint8_t c) {
    switch (c) {
        case 128: return 'C';
        case 129: case 150: case 151: case 163: return 'u';
        case 130: case 136: case 137: case 138: return 'e';
        case 131: case 132: case 133: case 134: case 160: return 'a';
        case 135: return 'c';
        case 139: case 140: case 141: case 161: return 'i';
        case 142: case 143: return 'A';
        case 144: return 'E';
        case 147: case 148: case 149: return 'o';
        case 154: return 'U';
        default: return c;
    }
}

void PutChar(uint8_t c) {
    CallState& s = Call();
    if (FoldWanted(c)) c = FoldChar(c);
    // The monitor copy is what the line gets, translation and all.
    char out[4];
    size_t n = TerminalForm(c, out);
    for (size_t i = 0; i < n; ++i) QueueOutput(uint8_t(out[i]));
    if (s.OutputDelay == 0) return;
    // Paces a slow line: each character sent, then a busy count, half as
    // long while monitoring.
    FlushOutput();
    for (int n = s.Monitoring ? s.OutputDelay / 2 : s.OutputDelay; n >= 0; --n) asm volatile("");
}

void FlushOutput() {
    size_t n = gOutput.count;
    if (n == 0) return;
    gOutput.count = 0;
    ++gOutput.flushes;
    CallState& s = Call();
    if (!WriteAll(1, gOutput.bytes, n)) NoteLineLost();
    if (s.Monitoring && s.MonitorFd >= 0) WriteAll(s.MonitorFd, gOutput.bytes, n);
}

unsigned OutputFlushCount() { return gOutput.flushes; }

size_t OutputRoom() { return sizeof gOutput.bytes - gOutput.count; }

void PutString(std::string_view text) { Send(text); }

void PutLine(std::string_view text) {
    Send(text);
    Send("\n\r");
}

void SetBold() {
    if (Call().AnsiOn) Send("\033[1m");
}

void SetBlink() {
    if (Call().AnsiOn) Send("\033[5m");
}

void ResetAttributes() {
    if (Call().AnsiOn) Send("\033[0m");
}

namespace {

// The codes of every colour, made once: a listing changes colour several
// times a line.
struct ColorCodes {
    std::string foreground[17], background[9];  // the last for a colour out of range
    ColorCodes() {
        char buf[16];
        for (int c = 0; c <= 16; ++c) {
            int16_t color = int16_t(c == 16 ? -1 : c);
            if (color >= 8) std::snprintf(buf, sizeof buf, "\033[1;%dm", ForegroundCode(color));
            else std::snprintf(buf, sizeof buf, "\033[%dm", ForegroundCode(color));
            foreground[c] = buf;
        }
        for (int c = 0; c <= 8; ++c) {
            std::snprintf(buf, sizeof buf, "\033[%dm", BackgroundCode(int16_t(c == 8 ? -1 : c)));
            background[c] = buf;
        }
    }
};

const std::string& ColorCode(int16_t color, bool background) {
    static const ColorCodes codes;
    if (background) return codes.background[color >= 0 && color < 8 ? color : 8];
    return codes.foreground[color >= 0 && color < 16 ? color : (color >= 16 ? 15 : 16)];
}

}  // namespace

std::string MakeColorCode(int16_t color, bool background) { return ColorCode(color, background); }

void SetForeground(int16_t color) {
    if (!Call().AnsiOn) return;
    // Without colour every colour is white; a bright one stays bold.
    Send(ColorCode(Call().ColorOn ? color : (color >= 8 ? 15 : 7), false));
}

void SetBackground(int16_t color) {
    if (!Call().AnsiOn) return;
    Send(ColorCode(Call().ColorOn ? color : 0, true));
}

void AppendColor(std::string& out, int16_t foreground, int16_t background) {
    CallState& s = Call();
    if (foreground >= 8) {
        s.BrightOn = true;
    } else if (s.BrightOn) {
        // The bold of a bright colour would brighten the next normal one.
        if (s.AnsiOn) out += "\033[0m";
        s.BrightOn = false;
    }
    if (!s.AnsiOn) return;
    // Without colour every colour is white; a bright one stays bold.
    out += ColorCode(s.ColorOn ? foreground : (foreground >= 8 ? 15 : 7), false);
    out += ColorCode(s.ColorOn ? background : 0, true);
}

void AppendColorPair(std::string& out, int role) {
    if (!Call().ColorOn || role < 0 || role > 5) return;
    const ColorPair& p = Config().Colors[size_t(role)];
    AppendColor(out, p.Foreground, p.Background);
}

void SetColor(int16_t foreground, int16_t background) {
    std::string codes;
    AppendColor(codes, foreground, background);
    Send(codes);
}

void SetColorPair(int role) {
    std::string codes;
    AppendColorPair(codes, role);
    Send(codes);
}

void MoveCursor(int column, int row) {
    CallState& s = Call();
    if (s.AnsiOn) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "\033[%d;%dH", row, column);
        Send(buf);
    } else if (s.LocalMode) {
        // terminfo counts rows and columns from 0.
        if (const char* cup = LocalCapability("cup")) PutLocal(tparm(cup, row - 1, column - 1));
    }
}

void EraseScreen() {
    CallState& s = Call();
    if (s.AnsiOn) {
        Send("\033[2J\033[1;1H");
        return;
    }
    std::string own = CallerClearCodes();
    if (!own.empty()) {
        Send(own);
    } else if (s.LocalMode) {
        PutLocal(LocalCapability("clear"));
    }
}

void ClearToEol() {
    if (Call().AnsiOn) Send("\033[0K");
}

void SetReverse() {
    if (!Call().AnsiOn) return;
    if (Call().ColorOn) {
        SetForeground(0);
        SetBackground(7);
    } else {
        Send("\033[7m");
    }
}

void DrawBox(int left, int top, int right, int bottom, int16_t foreground, int16_t background, int style) {
    if (!Call().AnsiOn) return;
    BoxStyle b = StyleOf(style);
    SetColor(foreground, background);
    auto edge = [&](uint8_t first, uint8_t last) {
        PutChar(first);
        for (int x = left + 1; x < right; ++x) PutChar(b.horizontal);
        PutChar(last);
    };
    MoveCursor(left, top);
    edge(b.tl, b.tr);
    for (int y = top + 1; y < bottom; ++y) {
        MoveCursor(left, y);
        PutChar(b.vertical);
        MoveCursor(right, y);
        PutChar(b.vertical);
    }
    MoveCursor(left, bottom);
    edge(b.bl, b.br);
}

}  // namespace kv::caller
