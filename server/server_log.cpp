#include "server/server_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/dates.h"
#include "common/runtime.h"

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

void WriteServerLogLine(std::string_view message) {
    const std::string& dir = Config().DataDir;
    // Without a configuration there is no log directory; never write to "/".
    if (dir.empty()) return;
    std::string path = dir + "/" + kServerLogName;
    std::string date = DateString(), time = TimeString();

    std::string out;
    // Whoever creates the file writes the banner; O_EXCL settles a race
    // between the server and a mail sender starting a fresh log.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL, 0640);
    if (fd >= 0) {
        out = FormatChecked("*\n* @(#)%s %s\n* LOG FILE CREATED: %s %s\n*\n\n", kServerLogName, kNoticeText, date,
                            time);
    } else if (errno == EEXIST) {
        fd = open(path.c_str(), O_WRONLY | O_APPEND);
    }
    if (fd < 0) return;
    out += "* " + date + " " + time + " ";
    out.append(message.substr(0, kServerLogMessageMax));
    out += '\n';
    WriteAll(fd, out);
    close(fd);
}

}  // namespace kv
