// pty_echo: the smallest caller-like program, for the test of the terminal
// harness itself.  It reports how it was started, then echoes each key as
// "got X" until "q" (exit 3) or the end of the line (exit 7).
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Say(const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(1, s.data() + done, s.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}

long Bps(speed_t s) {
    switch (s) {
        case B300: return 300;
        case B1200: return 1200;
        case B2400: return 2400;
        case B9600: return 9600;
        case B38400: return 38400;
        default: return -1;
    }
}

}  // namespace

int main() {
    signal(SIGHUP, SIG_IGN);  // a hang-up shows as the end of input
    termios t{};
    tcgetattr(0, &t);
    long bps = Bps(cfgetospeed(&t));
    t.c_lflag &= ~tcflag_t(ICANON | ECHO);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(0, TCSANOW, &t);

    char cwd[512] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = 0;
    const char* var = std::getenv("PTY_ECHO_VAR");
    Say("speed=" + std::to_string(bps) + " cwd=" + cwd + " var=" + (var ? var : "-") + "\r\n");
    // Colour, a code-page-437 line and a cursor move, for the renderer.
    Say("\033[1;31mRED\033[0m \033[44mBLUE\033[0m \xDA\xC4\xBF\r\n");
    Say("\033[10;20Hready");
    for (;;) {
        char c = 0;
        ssize_t n = read(0, &c, 1);
        if (n <= 0) return 7;
        if (c == 'q') {
            Say("\r\nbye\r\n");
            return 3;
        }
        Say(std::string("\r\ngot ") + c);
    }
}
