#include "server/server_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/dates.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv {
bool WriteAll(int fd, std::string_view s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

namespace {

// The file a ServerLogBatch keeps open.
struct HeldLog {
    int depth = 0;
    int fd = -1;
    std::string path;
};

HeldLog& Held() {
    static HeldLog h;
    return h;
}

}  // namespace

ServerLogBatch::ServerLogBatch() { ++Held().depth; }

ServerLogBatch::~ServerLogBatch() {
    HeldLog& h = Held();
    if (--h.depth > 0) return;
    if (h.fd >= 0) close(h.fd);
    h.fd = -1;
    h.path.clear();
}

void WriteServerLogLine(std::string_view message) {
    const std::string& dir = Config().DataDir;
    // Without a configuration there is no log directory; never write to "/".
    if (dir.empty()) return;
    std::string path = dir + "/" + kServerLogName;
    std::string date = DateString(), time = TimeString();

    std::string out;
    HeldLog& held = Held();
    int fd = held.fd >= 0 && held.path == path ? held.fd : -1;
    if (fd < 0) {
        // Whoever creates the file writes the banner; O_EXCL settles a race
        // between the server and a mail sender starting a fresh log.  The
        // board's group writes it too: a sysop of the group runs kvpost.
        fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
        if (fd >= 0) {
            out = FormatChecked("*\n* @(#)%s %s\n* LOG FILE CREATED: %s %s\n*\n\n", kServerLogName, kNoticeText,
                                date, time);
        } else if (errno == EEXIST) {
            fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        }
        if (fd < 0) return;
        if (held.depth > 0) {
            if (held.fd >= 0) close(held.fd);
            held.fd = fd;
            held.path = path;
        }
    }
    out += "* " + date + " " + time + " ";
    // Values from outside (a mail's addresses, a request line) may hold a
    // terminal's escapes, which would act on the screen of a sysop who
    // reads the log: control bytes become blanks, but for the line end
    // that some of our own texts carry.
    std::string text(message.substr(0, kServerLogMessageMax));
    bool lineEnd = !text.empty() && text.back() == '\n';
    if (lineEnd) text.pop_back();
    out += BlankControlBytes(text);
    if (lineEnd) out += '\n';
    out += '\n';
    WriteAll(fd, out);
    if (fd != held.fd) close(fd);
}

}  // namespace kv
