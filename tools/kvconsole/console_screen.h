// The sysop's own terminal while the console runs.
//
// It is read and written through the descriptors the console was started
// with, and nothing else: its owner, group and mode stay as they are, so
// nobody but the sysop ever reaches it.  Its modes are set raw at the start
// (no echo, no line editing, no signals from keys: Ctrl-C is a key of the
// chat) and put back by Finish on every way out.
//
// The screen is a head of a few rows that stays in place (the console's
// name, the line that pages, who is on, the keys) above a scrolling region
// in which the lines' texts and the console's own messages run.
#pragma once

#include <termios.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/kvconsole/relay.h"

namespace kv::console {

// One row of the head: text of the board, and how it stands out.
struct HeadRow {
    enum Look { kPlain, kBand, kAlert };  // kBand in reverse, kAlert bold as well
    std::string Text;
    Look How = kPlain;
    bool operator==(const HeadRow&) const = default;
};

class ConsoleScreen {
public:
    ConsoleScreen(int in, int out, SysopTerminal term);
    ~ConsoleScreen();

    // Raw modes and the empty screen; false, with why, when the input is no
    // terminal.
    bool Start(std::string& why);
    // The scrolling region back to the whole screen, the cursor below, the
    // modes as they were.  Safe to call again, and on a terminal gone.
    void Finish();

    // The terminal's size is read again and the head drawn anew.
    void Resize();
    // Draws the head when it differs from what stands there.
    void SetHead(const std::vector<HeadRow>& rows);
    size_t Width() const { return size_t(cols_); }

    // What the lines wrote to the console, through the relay's filter,
    // into the scrolling region.
    void Relay(std::string_view lineBytes);
    // A line of the console's own (board text), on a line of its own.
    void Say(std::string_view text);
    // A prompt of the console's own on a new line, the cursor after it;
    // Echo shows what is typed there.
    void Ask(std::string_view prompt);
    void Echo(std::string_view text);
    void Bell();

    // False once a write failed: the terminal is gone.
    bool Alive() const { return alive_; }

private:
    void Out(std::string_view bytes);
    // Into the scrolling region: notes whether the cursor ends at the
    // start of a line, so that the console's own text begins on one.
    void Region(std::string_view bytes);
    void DrawHead();
    void NewLineIfNeeded();

    int in_, out_;
    SysopTerminal term_;
    ScreenFilter filter_;
    termios saved_{};
    bool started_ = false, alive_ = true;
    bool lineStart_ = true;
    int rows_ = 24, cols_ = 80;
    int headRows_ = 0;
    std::vector<HeadRow> head_;
};

}  // namespace kv::console
