// A program on a pseudo-terminal, seen the way a caller sees it.
//
// PtySession starts a program with a fresh pseudo-terminal as its standard
// input, output and error (and as its controlling terminal, so closing the
// master hangs the line up).  What the program writes is kept as raw bytes
// and rendered into a screen by libvterm, so a test can ask for text, colours
// and the cursor.  A caller's terminal speaks code page 437: bytes 128-255
// are shown as the characters of that code page (0xC4 renders as "─"), and
// escape sequences are ANSI.
//
//   PtyOptions o;
//   o.argv = {test::ProgramPath("kivo"), "-t"};
//   o.dir = board.root();
//   o.speed = B2400;
//   PtySession s(o);
//   ASSERT_TRUE(s.WaitForText("Welcome"));
//   s.Send("y\r");
//   s.Hangup();
//   EXPECT_EQ(s.Wait(), 99);
//
// Every wait has a timeout and returns false (or -1) when it runs out, so a
// hung program fails the test instead of hanging it; the destructor kills
// whatever still runs.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace kv::test {

struct PtyOptions {
    std::vector<std::string> argv;        // argv[0] is the path of the program
    std::filesystem::path dir;            // working directory; empty: the test's own
    std::vector<std::string> env;         // "NAME=value", added to (or replacing) the base set
    speed_t speed = B38400;               // line speed of the terminal (B300, B2400, ...)
    int rows = 24, cols = 80;
    // The terminal decodes UTF-8 rather than code page 437.
    bool utf8 = false;
    // Called with the line's name below /dev/ ("pts/7") once the line is
    // open and before the program starts: a test writes it into
    // "bbsline.ctl" there.
    std::function<void(const std::string& device)> beforeStart;
};

// One rendered cell.  Colours are palette indexes 0-7 as set by ANSI codes
// 30-37 / 40-47 (bold is reported apart, not folded into the colour), or -1
// for the terminal's default colour.
struct ScreenCell {
    std::string text;  // UTF-8, " " for an empty cell
    int fg = -1, bg = -1;
    bool bold = false, blink = false, reverse = false;
};

class PtySession {
public:
    // Starts the program; throws std::runtime_error when that fails.  The
    // environment is PATH, HOME, TERM=xterm and LANG=C plus options.env.
    explicit PtySession(const PtyOptions& options);
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& SlavePath() const { return slave_; }

    // Writes keys to the line, byte for byte ("\r" is Enter, "\x0b" Ctrl-K).
    void Send(std::string_view keys);

    // Reads what the program wrote into the screen for up to timeoutMs
    // (0: only what is there now).  Returns false once the line is closed.
    bool Pump(int timeoutMs = 0);
    // Waits until the rendered screen (rows joined by "\n") contains text.
    bool WaitForText(std::string_view text, int timeoutMs = 5000);
    // Waits until done() holds for what was received (a screen with
    // attributes, several rows at once).
    bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);
    // Waits until the raw output holds these bytes (for bytes that do not
    // render, such as a bell or an 8-bit control).
    bool WaitForOutput(std::string_view bytes, int timeoutMs = 5000);
    // Waits until the raw output holds these bytes count times: for a
    // prompt that comes again while its first showing may still stand on
    // the screen.
    bool WaitForOutputCount(std::string_view bytes, int count, int timeoutMs = 5000);
    // Reads until nothing has come for quietMs (not scaled: it is how long
    // a pause must last), for at most timeoutMs (scaled).  False when the
    // output never paused that long.  For a program that is to stop
    // writing: it tells nothing about a program that did not start.
    bool WaitForQuiet(int quietMs, int timeoutMs = 5000);

    // The screen: one row (trailing blanks cut), all rows, one cell (0-based).
    std::string Row(int row) const;
    std::string Screen() const;
    ScreenCell Cell(int row, int col) const;
    // Cursor position, 0-based.
    int CursorRow() const { return cursorRow_; }
    int CursorCol() const { return cursorCol_; }
    // Every byte received so far.
    const std::string& Output() const { return output_; }

    // The terminal modes of the program's side of the line, read now.
    termios SlaveModes() const;

    // Runs another program at the far end of the line: the master side is
    // its standard input and output, so what the program on the line sends
    // reaches it and what it writes reaches that program, the way a file-
    // transfer program at a caller's end talks to the board's.  What came
    // before is rendered first; while it runs nothing goes to the screen.
    // Its standard error goes to errFile (or nowhere), it runs in dir.  The
    // exit status, 128 + the signal, or -1 when it still ran at the timeout
    // (it is killed then).
    int RunAtFarEnd(const std::vector<std::string>& argv, const std::filesystem::path& dir,
                    int timeoutMs = 20000, const std::filesystem::path& errFile = {});

    // The terminal takes a new size, as a window does when it is dragged:
    // the program gets SIGWINCH, the screen keeps what fits.
    void Resize(int rows, int cols);

    // Closes the master side: the program's line hangs up (SIGHUP, then end
    // of input).  Output after that is lost.
    void Hangup();
    // Waits for the program to end and returns its exit status, 128 + the
    // signal when a signal ended it, or -1 when it still ran at the timeout
    // (it is killed then).  Reads the last output first.  May be called again.
    int Wait(int timeoutMs = 5000);
    bool Running();

private:
    void Feed(const char* bytes, size_t n);
    // Pump that stops early once done() holds.
    bool PumpUntil(int timeoutMs, const std::function<bool()>& done);

    pid_t pid_ = -1;
    int master_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    std::string slave_;
    std::string output_;
    VTerm* vt_ = nullptr;
    VTermScreen* screen_ = nullptr;
    int rows_ = 24, cols_ = 80;
    bool utf8_ = false;
    int cursorRow_ = 0, cursorCol_ = 0;
};

}  // namespace kv::test
